#include "repair/uefi_plan.h"

#include <cstdint>

#include "exec/tool_commands.h"

namespace kestrix {

namespace {

// Enough for the DOS header and the PE header that it points to.
constexpr std::size_t kPeHeaderRead = 4096;

}  // namespace

std::optional<std::wstring> FallbackLoaderName(std::string_view pe) {
    const auto byte = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(pe[at])); };
    if (pe.size() < 0x40 || pe[0] != 'M' || pe[1] != 'Z') {
        return std::nullopt;
    }
    const std::size_t header = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
    if (header > pe.size() || pe.size() - header < 6 || pe.compare(header, 4, std::string_view("PE\0\0", 4)) != 0) {
        return std::nullopt;
    }
    switch (byte(header + 4) | byte(header + 5) << 8) {
        case 0x8664:
            return L"bootx64.efi";
        case 0x014C:
            return L"bootia32.efi";
        case 0xAA64:
            return L"bootaa64.efi";
        default:
            return std::nullopt;
    }
}

FileResult UefiPlan::SaveBootFiles() { return steps_.Saved().SaveEfiBootFiles(bootDrive_); }

RepairOutcome UefiPlan::BootSector() {
    const auto source = bootDrive_ + L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi";
    if (!IsPresent(files_, source)) {
        steps_.Line(L"  " + bootDrive_ +
            L" 上没有 \\EFI\\Microsoft\\Boot\\bootmgfw.efi，不写入任何内容。请先运行引导菜单修复（不选“只修复引导”）。");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复", true);
    }
    std::string header;
    files_.ReadFileStart(source, kPeHeaderRead, header);
    const auto name = FallbackLoaderName(header);
    if (!name) {
        steps_.Fail(L"  失败：无法识别 " + source + L" 的机器类型，未写入后备启动文件");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
    }
    const auto target = bootDrive_ + L"\\EFI\\Boot\\" + *name;
    steps_.Line(L"检测出bootmgfw.efi，正在建立UEFI后备启动文件 \\EFI\\Boot\\" + *name + L"...");
    if (steps_.EnsureFolder(bootDrive_ + L"\\EFI\\Boot")) {
        steps_.ReplaceFile(source, target, L"  ");
    }
    return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

RepairOutcome UefiPlan::BootMenu() {
    const auto findings = FindInstallations(files_, volumes_, request_.drives);
    const bool found6 = ForEachNt6(findings, [this](const DriveFinding& finding) {
        // bcdboot fails without the folder on recent Windows.
        if (steps_.EnsureFolder(bootDrive_ + L"\\EFI\\Microsoft\\Boot")) {
            RunBootFilesTool(BootFilesCommand(finding.entry.drive.Text(), bootDrive_, BootFilesFor::Uefi));
        }
    });
    SkipNt5(findings);
    if (found6) {
        RunBootFilesTool(UefiStoreTimeoutCommand(bootDrive_));
    } else {
        steps_.Line(L"  未发现可以UEFI方式启动的Windows系统（6.x），不写入任何内容。");
    }
    // The firmware starts the EFI loader: no boot sector is written.
    return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复", !found6);
}

void UefiPlan::SkipNt5(const std::vector<DriveFinding>& findings) {
    steps_.Line(L"正在扫描分区中的5.x系统...");
    for (const auto& finding : findings) {
        if (finding.generation == WindowsGeneration::Nt5) {
            steps_.Line(L"  在 " + finding.entry.Text() + L" 发现5.x系统，5.x系统不能以UEFI方式启动，已跳过。");
        }
    }
}

}  // namespace kestrix
