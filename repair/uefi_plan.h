#pragma once
// The repair of an EFI system partition: EFI boot files for every Windows that can start through
// UEFI, and the fallback loader that the firmware finds when its own boot entries are lost.
#include <optional>
#include <string>
#include <string_view>

#include "repair/repair_plan.h"
#include "secureboot/firmware_trust.h"

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
    // The firmware's Secure Boot trust, a line each.
    FirmwareTrust NoteTrust();
    struct EfiFile {
        std::string bytes;
        // Unknown when the file could not be read.
        ImageVerdict verdict;
    };
    // An EFI file's signers and the firmware's verdict on it, a line each; nothing when the file
    // is not there.
    std::optional<EfiFile> NoteEfiFile(const std::wstring& path, const FirmwareTrust& trust);
    // Which boot manager each installation of 6.x gets, in their order, from the verdicts on the
    // two it has and the one on the ESP; nothing, with the reason as a failed step, when one of
    // them gets none.
    std::optional<std::vector<BootManagerSource>> ChooseBootManagers(
        const std::vector<DriveFinding>& findings, const FirmwareTrust& trust);
    // bcdboot for one installation; with the updated boot manager, the Windows RE entry that
    // bcdboot drops is set back.
    void InstallBootFiles(const DriveFinding& finding, BootManagerSource source);
    // After writing: the boot manager and the fallback loaders on the partition against db and
    // dbx, each passed or a failed step.
    void CheckInstalled(const FirmwareTrust& trust);
};

}  // namespace kestrix
