#pragma once
// The repair of a partition that the BIOS starts through its boot sector: the boot sector for the
// loader on it, and a boot menu of every Windows found (6.x by bcdboot, XP/2003 by the NTLDR set).
#include <optional>

#include "repair/repair_plan.h"

namespace kestrix {

class BiosPlan final : public RepairPlan {
public:
    using RepairPlan::RepairPlan;

    RepairOutcome BootSector() override;
    RepairOutcome BootMenu() override;

private:
    FileResult SaveBootFiles() override;
    void CopyLoaderSet();
    RepairOutcome AssembleBootMenu(bool found6, bool found5);
    // No installation found: the boot sector follows the boot files the drive holds, if any.
    RepairOutcome RepairWithoutInstallation();
    // The boot-menu repair writes boot code only for a loader that is on the drive.
    void WriteBootSectorForLoader(WindowsGeneration generation);
    void WriteBootSector(WindowsGeneration generation);
    // The generation that the boot files on the drive call for: \boot\bcd first, then \ntldr.
    std::optional<WindowsGeneration> LoaderOnDrive() const;
};

}  // namespace kestrix
