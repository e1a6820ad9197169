#pragma once
// The repair of one partition's boot, as a job: it takes a typed request and reports every step
// to a progress interface (a line of the log, a question), and returns its outcome. It touches no
// window and never ends the program; the windows are views over it. A step that fails is shown and
// counted, never hidden.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exec/run_log.h"
#include "exec/temporary_letters.h"
#include "exec/tool_commands.h"
#include "exec/tool_runner.h"
#include "platform/files.h"
#include "platform/windows.h"
#include "repair/backups.h"

namespace kestrix {

// The name under which the firmware finds a PE loader in \EFI\Boot when its own boot entries are
// lost, by the loader's machine type: bootx64.efi, bootia32.efi or bootaa64.efi.
std::optional<std::wstring> FallbackLoaderName(std::string_view pe);

// A failure's reason for a log line: "（错误 5：拒绝访问。）".
std::wstring Reason(const FileResult& result);

// A drive designator is a letter A to Z and a colon, nothing else.
bool IsDriveDesignator(std::wstring_view text);

enum class RepairKind { BootSectorOnly, BootMenu };

// How the repaired boot is started: by the BIOS from an active partition's boot sector, or by the
// UEFI firmware from an EFI system partition.
enum class BootPath { Bios, Uefi };

struct RepairRequest {
    std::wstring bootDrive;  // a drive designator, in the letter case the user gave
    RepairKind kind = RepairKind::BootMenu;
    // The machine's drives ("c: [label]"), searched in this order for installed Windows.
    std::vector<std::wstring> drives;
    BootPath path = BootPath::Bios;
};

enum class RepairOutcome {
    Succeeded,       // every step succeeded
    StepsFailed,     // the repair ran, some step failed
    NothingWritten,  // nothing could rightly be written
    Cancelled,       // the user cancelled the question
    Interrupted,     // stopped between two steps
};

class RepairProgress {
public:
    virtual ~RepairProgress() = default;
    // A line of the progress log; lines of a sub-step are indented.
    virtual void Line(const std::wstring& line) = 0;
    // A Yes/No/Cancel question, Yes the default.
    virtual MessageAnswer Ask(const std::wstring& question) = 0;
};

class RepairJob {
public:
    RepairJob(FileSystem& files, ToolRunner& runner, RunLog& log, const TemporaryLetters& letters)
        : files_(files), runner_(runner), log_(log), letters_(letters) {}

    RepairOutcome Run(const RepairRequest& request, RepairProgress& progress);

    // From any thread: no further step starts; the tool that is running is let finish.
    void RequestStop() { stopRequested_ = true; }

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
    void SkipWindows5Uefi();
    // Creates a folder and the ones above it when missing; a failure is a failed step.
    bool EnsureFolder(const std::wstring& path);
    RepairOutcome RepairBootMenu();
    bool ScanWindows6();
    bool ScanWindows5();
    void CopyLoaderSet();
    // Copies over a file once it is saved, its attributes cleared first.
    void ReplaceFile(const std::wstring& source, const std::wstring& target,
                     const std::wstring& indent);
    RepairOutcome AssembleBootMenu(bool found6, bool found5);
    // No installation found: the boot sector follows the boot files the drive holds, if any.
    RepairOutcome RepairWithoutInstallation();
    // The boot-menu repair writes boot code only for a loader that is on the drive.
    void WriteBootSectorForLoader(LoaderGeneration generation);
    void WriteBootSector(LoaderGeneration generation);
    // nothingToDo: the repair found nothing it could rightly write.
    RepairOutcome Complete(const std::wstring& successLine, const std::wstring& kind,
                           bool nothingToDo = false);

    bool Stopping() const { return stopRequested_; }
    void Log(const std::wstring& line);
    void Fail(const std::wstring& line);
    // 0 for a missing or unreadable file.
    std::int64_t FileLength(const std::wstring& path) const;
    // Runs a tool; a tool that could not start or ended with a non-zero code is a failed step
    // unless the caller expects that failure.
    void RunTool(const std::wstring& commandLine, bool failureExpected = false);
    // Runs a tool that rebuilds the boot files, only once they are all saved.
    void RunBootFilesTool(const std::wstring& commandLine, bool failureExpected = false);
    // The generation that the boot files on the drive call for: \boot\bcd first, then \ntldr.
    std::optional<LoaderGeneration> LoaderOnDrive() const;
    bool HasBitLockerSignature(const std::wstring& drive);
    void WarnIfEncrypted(const std::wstring& drive);

    FileSystem& files_;
    ToolRunner& runner_;
    RunLog& log_;
    const TemporaryLetters& letters_;
    std::atomic<bool> stopRequested_{false};

    // One run's state.
    const RepairRequest* request_ = nullptr;
    RepairProgress* progress_ = nullptr;
    std::optional<Backups> backups_;
    std::wstring bootDrive_;
    Firmware firmware_ = Firmware::Unknown;
    int failures_ = 0;
};

}  // namespace kestrix
