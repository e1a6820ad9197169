#pragma once
// The repair of one partition's boot, as a job: it takes a typed request and reports every step
// to a progress interface (a line of the log, a question), and returns its outcome. It touches no
// window and never ends the program; the windows are views over it. A step that fails is shown and
// counted, never hidden.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exec/run_log.h"
#include "exec/tool_commands.h"
#include "exec/tool_runner.h"
#include "exec/temporary_letters.h"
#include "partitions/boot_candidate.h"
#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/volumes.h"
#include "platform/windows.h"
#include "repair/backups.h"
#include "repair/installations.h"
#include "repair/steps.h"

namespace kestrix {

// The name under which the firmware finds a PE loader in \EFI\Boot when its own boot entries are
// lost, by the loader's machine type: bootx64.efi, bootia32.efi or bootaa64.efi.
std::optional<std::wstring> FallbackLoaderName(std::string_view pe);

enum class RepairKind { BootSectorOnly, BootMenu };

struct RepairRequest {
    // The partition whose boot is repaired, and how it boots.
    BootCandidate target;
    RepairKind kind = RepairKind::BootMenu;
    // The machine's drives, searched in this order for installed Windows.
    std::vector<DriveEntry> drives;
};

class RepairJob final : public Job {
public:
    RepairJob(Files& files, Volumes& volumes, const FirmwareReader& firmware, ToolRunner& runner,
              RunLog& log, const TemporaryLetters& letters)
        : files_(files),
          volumes_(volumes),
          firmware_(firmware),
          log_(log),
          letters_(letters),
          steps_(files, volumes, runner, log) {}

    // What the next run repairs.
    void Prepare(RepairRequest request) { request_.emplace(std::move(request)); }
    RepairOutcome Run(RepairProgress& progress) override;
    void RequestStop() override { steps_.RequestStop(); }

private:
    // Where the run's folder goes when the program's own folder cannot hold it: the boot drive,
    // unless its letter is for this run only, then the fixed drives that keep theirs.
    std::vector<std::wstring> RunFolderDrives() const;
    // The firmware that started this PC, in the log; a line in the window when the repair is
    // for the other kind.
    void NoteFirmware();
    RepairOutcome RepairBootSector();
    // The UEFI counterpart of the boot sector: the fallback loader in \EFI\Boot.
    RepairOutcome RepairFallbackLoader();
    // XP/2003 cannot start through UEFI: each one found is named and left alone.
    void SkipNt5Uefi();
    RepairOutcome RepairBootMenu();
    // Each installation of the generation gets its boot files; true when there was one.
    bool RepairNt6();
    bool RepairNt5();
    void CopyLoaderSet();
    RepairOutcome AssembleBootMenu(bool found6, bool found5);
    // No installation found: the boot sector follows the boot files the drive holds, if any.
    RepairOutcome RepairWithoutInstallation();
    // The boot-menu repair writes boot code only for a loader that is on the drive.
    void WriteBootSectorForLoader(WindowsGeneration generation);
    void WriteBootSector(WindowsGeneration generation);
    // nothingToDo: the repair found nothing it could rightly write.
    RepairOutcome Complete(const std::wstring& successLine, const std::wstring& kind,
                           bool nothingToDo = false);
    // Runs a tool that rebuilds the boot files, only once they are all saved.
    void RunBootFilesTool(const std::wstring& commandLine, bool failureExpected = false);
    // The generation that the boot files on the drive call for: \boot\bcd first, then \ntldr.
    std::optional<WindowsGeneration> LoaderOnDrive() const;
    void WarnIfEncrypted(const DriveFinding& finding);

    Files& files_;
    Volumes& volumes_;
    const FirmwareReader& firmware_;
    RunLog& log_;
    const TemporaryLetters& letters_;
    Steps steps_;

    std::optional<RepairRequest> request_;
    // One run's state.
    std::wstring bootDrive_;
    std::vector<DriveFinding> findings_;
    Firmware started_ = Firmware::Unknown;
};

}  // namespace kestrix
