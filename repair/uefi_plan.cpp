#include "repair/uefi_plan.h"

#include <cstdint>

#include "exec/tool_commands.h"
#include "platform/pe_header.h"
#include "store/store_file.h"
#include "secureboot/boot_manager_signers.h"

namespace kestrix {

namespace {

// Enough for the DOS header and the PE header that it points to.
constexpr std::size_t kPeHeaderRead = 4096;

constexpr const wchar_t* kManager = L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi";
// The fallback loaders a firmware looks for, by its machine type.
constexpr const wchar_t* kFallbacks[] = {L"\\EFI\\Boot\\bootx64.efi", L"\\EFI\\Boot\\bootia32.efi",
                                         L"\\EFI\\Boot\\bootaa64.efi"};
constexpr const wchar_t* kWindowsManager = L"\\Windows\\Boot\\EFI\\bootmgfw.efi";
constexpr const wchar_t* kUpdatedManager = L"\\Windows\\Boot\\EFI_EX\\bootmgfw_EX.efi";

}  // namespace

std::optional<std::wstring> FallbackLoaderName(std::string_view pe) {
    switch (PeMachine(pe).value_or(0)) {
        case kMachineX64:
            return L"bootx64.efi";
        case kMachineX86:
            return L"bootia32.efi";
        case kMachineArm64:
            return L"bootaa64.efi";
        default:
            return std::nullopt;
    }
}

FileResult UefiPlan::SaveBootFiles() {
    return steps.Saved().SaveEfiBootFiles(boot_);
}

RepairOutcome UefiPlan::BootSector() {
    const auto source = boot_.Path(L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi");
    if (!IsPresent(files, source)) {
        steps.Line(
            L"  " + boot_.Text() +
            L" 上没有 \\EFI\\Microsoft\\Boot\\bootmgfw.efi，不写入任何内容。请先运行引导菜单修复（不选“只修复引导”）。");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复", true);
    }
    std::string header;
    files.ReadFileStart(source, kPeHeaderRead, header);
    const auto name = FallbackLoaderName(header);
    if (!name) {
        steps.Fail(L"  失败：无法识别 " + source + L" 的机器类型，未写入后备启动文件");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
    }
    // The fallback loader is what the firmware starts when its own entries are lost: not one it
    // refuses.
    const auto trust = ReadFirmwareTrust(firmware);
    if (const auto file =
            trust.secureBoot == SecureBoot::On ? NoteEfiFile(source, trust) : std::nullopt;
        file && file->verdict.verdict != Verdict::Allowed) {
        steps.Fail(L"  失败：安全启动已开启，本机固件会拒绝 " + source + L"（" +
                   VerdictReasonText(file->verdict) + L"），未写入后备启动文件。");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
    }
    const auto target = boot_.Path(L"\\EFI\\Boot\\") + *name;
    steps.Line(L"检测出bootmgfw.efi，正在建立UEFI后备启动文件 \\EFI\\Boot\\" + *name + L"...");
    if (steps.EnsureFolder(boot_.Path(L"\\EFI\\Boot"))) {
        steps.ReplaceFile(source, target, L"  ");
    }
    CheckInstalled(trust);
    return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

RepairOutcome UefiPlan::BootMenu() {
    const auto findings = FindInstallations(files, volumes, request.drives);
    const auto trust = NoteTrust();
    const auto sources = ChooseBootManagers(findings, trust);
    if (!sources) {
        return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复");
    }
    std::size_t next = 0;
    const bool found6 =
        ForEachInstallation(WindowsGeneration::Nt6, findings, [&](const DriveFinding& finding) {
            // bcdboot fails without the folder on recent Windows.
            if (steps.EnsureFolder(boot_.Path(L"\\EFI\\Microsoft\\Boot"))) {
                InstallBootFiles(finding, (*sources)[next]);
            }
            ++next;
        });
    // XP/2003 cannot start through UEFI: each one found is named and left alone.
    ForEachInstallation(WindowsGeneration::Nt5, findings, {},
                        L"，5.x系统不能以UEFI方式启动，已跳过。");
    if (found6) {
        RunBootFilesTool(UefiStoreTimeoutCommand(boot_));
        CheckInstalled(trust);
    } else {
        steps.Line(L"  未发现可以UEFI方式启动的Windows系统（6.x），不写入任何内容。");
    }
    // The firmware starts the EFI loader: no boot sector is written.
    return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复", !found6);
}

FirmwareTrust UefiPlan::NoteTrust() {
    const auto trust = ReadFirmwareTrust(firmware);
    for (const auto& line : TrustLines(trust)) {
        steps.Line(line);
    }
    return trust;
}

std::optional<UefiPlan::EfiFile> UefiPlan::NoteEfiFile(const std::wstring& path,
                                                       const FirmwareTrust& trust) {
    if (!IsPresent(files, path)) {
        return std::nullopt;
    }
    EfiFile file;
    if (!files.ReadWholeFile(path, file.bytes)) {
        steps.Line(L"  " + path + L" 的签名：无法读取");
        return file;
    }
    const auto signers = SignersOf(file.bytes);
    steps.Line(L"  " + path + L" 的签名：" + (signers ? SignersText(*signers) : L"无法读取"));
    file.verdict = JudgeImage(file.bytes, trust.databases, signatures);
    steps.Line(L"    固件判定：" + VerdictText(file.verdict));
    return file;
}

std::optional<std::vector<BootManagerSource>> UefiPlan::ChooseBootManagers(
    const std::vector<DriveFinding>& findings, const FirmwareTrust& trust) {
    steps.Line(L"正在检查启动管理器的签名...");
    bool present2023 = false;
    for (const auto& path : {std::wstring(kManager), std::wstring(kFallbacks[0])}) {
        if (const auto file = NoteEfiFile(boot_.Path(path), trust)) {
            present2023 = present2023 || SignedUnderCa2023(file->bytes, signatures);
        }
    }
    if (trust.secureBoot != SecureBoot::On) {
        steps.Line(std::wstring(L"  安全启动") +
                   (trust.secureBoot == SecureBoot::Off ? L"未开启" : L"状态无法读取") +
                   L"，按 ESP 上现有的启动管理器选择：" +
                   (present2023 ? L"它由 Windows UEFI CA 2023 签名，不换回旧的启动管理器。"
                                : L"它不是 Windows UEFI CA 2023 签名的，按原方式安装。"));
    }
    std::vector<BootManagerSource> sources;
    bool refused = false;
    for (const auto& finding : findings) {
        if (finding.generation != WindowsGeneration::Nt6) {
            continue;
        }
        const auto drive = finding.entry.drive.Text();
        BootManagerChoiceInput input{trust.secureBoot, {}, std::nullopt, present2023};
        if (const auto plain = NoteEfiFile(drive + kWindowsManager, trust)) {
            input.plain = plain->verdict;
        }
        if (const auto updated = NoteEfiFile(drive + kUpdatedManager, trust)) {
            input.updated = updated->verdict;
        }
        switch (ChooseBootManager(input)) {
            case BootManagerChoice::Plain:
                steps.Line(L"  " + drive + L" 将安装 \\Windows\\Boot\\EFI 中的启动管理器。");
                sources.push_back(BootManagerSource::Default);
                break;
            case BootManagerChoice::BootEx:
                steps.Line(
                    L"  " + drive +
                    L" 将安装 \\Windows\\Boot\\EFI_EX 中的启动管理器（Windows UEFI CA 2023 签名）。");
                sources.push_back(BootManagerSource::Updated);
                break;
            case BootManagerChoice::KeepPresent:
                steps.Fail(
                    L"  失败：" + finding.entry.Text() +
                    L"：ESP 上的启动管理器由 Windows UEFI CA 2023 签名，而该系统没有 \\Windows\\Boot\\EFI_EX，换成旧的启动管理器可能使本机无法启动。请先更新该系统。");
                refused = true;
                break;
            case BootManagerChoice::Neither:
                steps.Fail(
                    L"  失败：" + finding.entry.Text() +
                    L"：该系统的启动文件尚未更新到 Windows UEFI CA 2023 签名，本机固件会拒绝旧的启动管理器。请先更新该系统，或在固件中关闭安全启动。");
                refused = true;
                break;
            case BootManagerChoice::Undetermined:
                steps.Fail(
                    L"  失败：安全启动已开启，但无法从固件变量判断它接受哪一种签名的启动管理器，为免本机无法启动，不写入任何内容。请在固件中关闭安全启动后再修复。");
                refused = true;
                break;
        }
    }
    if (refused) {
        steps.Line(L"  未写入任何内容。");
        return std::nullopt;
    }
    return sources;
}

void UefiPlan::InstallBootFiles(const DriveFinding& finding, BootManagerSource source) {
    const auto install = BootFilesCommand(finding.entry.drive, boot_, BootFilesFor::Uefi, source);
    const auto store = boot_.Path(L"\\EFI\\Microsoft\\Boot\\BCD");
    // The store's Windows RE entry, read by the program itself; /bootex drops it.
    const auto recovery = [&]() -> std::optional<std::wstring> {
        const auto read = ReadStoreAt(files, volumes, heldStore, store);
        return read.store ? DefaultRecoverySequence(*read.store) : std::nullopt;
    };
    const auto before = source == BootManagerSource::Updated ? recovery() : std::nullopt;
    const int failures = steps.Failures();
    RunBootFilesTool(install);
    if (steps.Failures() != failures) {
        return;
    }
    if (before && !recovery()) {
        steps.Line(L"    bcdboot /bootex 去掉了 Windows RE（recoverysequence），正在设回 " +
                   *before + L"...");
        RunBootFilesTool(UefiRecoverySequenceCommand(boot_, *before));
    }
    CheckStoreDefault(store, finding.entry.drive, true);
}

void UefiPlan::CheckInstalled(const FirmwareTrust& trust) {
    if (trust.secureBoot != SecureBoot::On || steps.Stopping()) {
        return;
    }
    steps.Line(L"正在按固件的 db/dbx 检查写入的启动管理器...");
    std::vector<std::wstring> written{kManager};
    written.insert(written.end(), std::begin(kFallbacks), std::end(kFallbacks));
    for (const auto& path : written) {
        const auto file = NoteEfiFile(boot_.Path(path), trust);
        if (!file) {
            continue;
        }
        switch (file->verdict.verdict) {
            case Verdict::Allowed:
                steps.Line(L"    通过");
                break;
            case Verdict::Refused:
                steps.Fail(L"    失败：本机固件会拒绝 " + boot_.Path(path) + L"（" +
                           VerdictReasonText(file->verdict) + L"）");
                break;
            case Verdict::Unknown:
                steps.Fail(L"    失败：无法按本机固件的 db/dbx 验证 " + boot_.Path(path) + L"（" +
                           VerdictReasonText(file->verdict) + L"）");
                break;
        }
    }
}

}  // namespace kestrix
