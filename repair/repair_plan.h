#pragma once
// What a repair does for one way of booting, step by step over the job's step runner: the BIOS
// plan writes boot sectors and the XP loader set, the UEFI plan the EFI boot files and the
// fallback loader. The job picks the plan by the partition's boot path and runs one of its two
// kinds of repair.
#include <functional>
#include <string>
#include <vector>

#include "exec/run_log.h"
#include "partitions/boot_candidate.h"
#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/key_tree.h"
#include "platform/signatures.h"
#include "platform/volumes.h"
#include "repair/installations.h"
#include "repair/steps.h"

namespace kestrix {

enum class RepairKind { BootSectorOnly, BootMenu };

struct RepairRequest {
    // The partition whose boot is repaired, and how it boots.
    BootCandidate target;
    RepairKind kind = RepairKind::BootMenu;
    // The machine's drives, searched in this order for installed Windows.
    std::vector<DriveEntry> drives;
};

// What a plan works with during one run.
struct PlanContext {
    Files& files;
    Volumes& volumes;
    Steps& steps;
    RunLog& log;
    const RepairRequest& request;
    const FirmwareReader& firmware;
    const Signatures& signatures;
    // The store that the running Windows holds, read through the registry.
    const KeyTree& heldStore;
    // The firmware that started the running Windows.
    Firmware started = Firmware::Unknown;
};

// A plan works with its context's members by their own names (files, steps, request ...).
class RepairPlan : protected PlanContext {
public:
    explicit RepairPlan(const PlanContext& context)
        : PlanContext(context), boot_(context.request.target.drive) {}
    virtual ~RepairPlan() = default;

    // The boot code that starts the loader ("只修复引导").
    virtual RepairOutcome BootSector() = 0;
    // Boot files for every Windows found, and the boot code for them.
    virtual RepairOutcome BootMenu() = 0;

protected:
    // Saves what the boot-files tool may overwrite on the boot drive.
    virtual FileResult SaveBootFiles() = 0;

    // The one walk over the installations of a generation: its line, then each one named ("then"
    // after it), warned of and handed to repair; without repair each is only named. The walk over
    // 6.x names each locked volume too. True when there was one.
    bool ForEachInstallation(WindowsGeneration generation,
                             const std::vector<DriveFinding>& findings,
                             const std::function<void(const DriveFinding&)>& repair,
                             const wchar_t* then = L"，修复中...");
    // Runs a tool that rebuilds the boot files, only once they are all saved.
    void RunBootFilesTool(const ToolCommand& command);
    // After bcdboot made the boot files of the Windows on windows: the store at path must now
    // start it by default (a failed step otherwise); where Windows cannot say which partition
    // the drive is, or the store cannot be read or decoded (a plan cannot know what the tool
    // writes), the line says it was not checked.
    void CheckStoreDefault(const std::wstring& store, DriveLetter windows, bool uefi);
    // "  在 e: 发现6.x系统（Windows 10，版本 19045），修复中..."
    static std::wstring FoundLine(const DriveFinding& finding, const wchar_t* generation,
                                  const wchar_t* then = L"，修复中...");
    // Under the installation's line, before anything is written for it.
    void WarnIfEncrypted(const DriveFinding& finding);
    void WarnIfHibernated(const DriveFinding& finding);
    // nothingToDo: the repair found nothing it could rightly write.
    RepairOutcome Complete(const std::wstring& successLine, const std::wstring& kind,
                           bool nothingToDo = false);

    // The drive whose boot is repaired.
    const DriveLetter boot_;
};

}  // namespace kestrix
