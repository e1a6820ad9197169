#include "repair/repair_job.h"

#include <memory>

#include "repair/bios_plan.h"
#include "repair/uefi_plan.h"

namespace kestrix {

RepairOutcome RepairJob::Run(RepairProgress& progress) {
    const auto& request = *request_;
    const auto bootDrive = request.target.drive.Text();
    steps_.Begin(progress);
    const bool sectorOnly = request.kind == RepairKind::BootSectorOnly;
    steps_.OpenLog(RunFolderDrives(),
                   L"开始修复 " + bootDrive + (sectorOnly ? L"（只修复引导）" : L""));
    std::wstring drives;
    for (const auto& entry : request.drives) {
        drives += (drives.empty() ? L"" : L"、") + entry.Text();
    }
    log_.Write(L"驱动器：" + drives);
    const PlanContext context{files_,    volumes_,    steps_,      log_,          request,
                              firmware_, signatures_, heldStore_, NoteFirmware()};
    std::unique_ptr<RepairPlan> plan;
    if (request.target.path == BootPath::Uefi) {
        plan = std::make_unique<UefiPlan>(context);
    } else {
        plan = std::make_unique<BiosPlan>(context);
    }
    return steps_.End(sectorOnly ? plan->BootSector() : plan->BootMenu(),
                      L"修复被中止：窗口在修复进行中关闭，当前步骤结束后未再执行其他步骤");
}

std::vector<DriveLetter> RepairJob::RunFolderDrives() const {
    // Not on a drive whose letter goes at the end, with all that the run saved.
    const auto boot = request_->target.drive;
    if (letters_.IsTemporary(boot)) {
        return letters_.LastingFixedDrives(request_->drives);
    }
    return {boot};
}

Firmware RepairJob::NoteFirmware() {
    const auto reading = firmware_.RunningFirmware();
    const auto started = reading.firmware;
    log_.Write(std::wstring(L"本机当前的启动方式：") +
               (started == Firmware::Uefi   ? L"UEFI"
                : started == Firmware::Bios ? L"BIOS"
                : reading.error != 0 ? L"未知" + Reason({false, reading.error, reading.errorText})
                                     : L"未知"));
    const bool uefiRepair = request_->target.path == BootPath::Uefi;
    if (started == Firmware::Uefi && !uefiRepair) {
        steps_.Line(L"注意：本机当前以UEFI方式启动，修复的BIOS引导要在固件设置改为传统（BIOS/CSM）方式启动后才会生效。");
    } else if (started == Firmware::Bios && uefiRepair) {
        steps_.Line(L"注意：本机当前以BIOS（传统）方式启动，修复的UEFI引导要在固件设置改为UEFI方式启动后才会生效。");
    }
    return started;
}

}  // namespace kestrix
