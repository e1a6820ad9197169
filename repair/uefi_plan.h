#pragma once
// The repair of an EFI system partition: EFI boot files for every Windows that can start through
// UEFI, and the fallback loader that the firmware finds when its own boot entries are lost.
#include <optional>
#include <string>
#include <string_view>

#include "repair/repair_plan.h"

namespace kestrix {

// The name under which the firmware finds a PE loader in \EFI\Boot when its own boot entries are
// lost, by the loader's machine type: bootx64.efi, bootia32.efi or bootaa64.efi.
std::optional<std::wstring> FallbackLoaderName(std::string_view pe);

class UefiPlan final : public RepairPlan {
public:
    using RepairPlan::RepairPlan;

    // The fallback loader in \EFI\Boot, from the boot manager on the partition.
    RepairOutcome BootSector() override;
    RepairOutcome BootMenu() override;

private:
    FileResult SaveBootFiles() override;
    // XP/2003 cannot start through UEFI: each one found is named and left alone.
    void SkipNt5(const std::vector<DriveFinding>& findings);
};

}  // namespace kestrix
