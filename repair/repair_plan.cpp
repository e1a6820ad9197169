#include "repair/repair_plan.h"

#include "installed/hibernation.h"
#include "platform/text.h"
#include "store/store_file.h"

namespace kestrix {

bool RepairPlan::ForEachInstallation(WindowsGeneration generation,
                                     const std::vector<DriveFinding>& findings,
                                     const std::function<void(const DriveFinding&)>& repair,
                                     const wchar_t* then) {
    const wchar_t* name = generation == WindowsGeneration::Nt6 ? L"6.x" : L"5.x";
    bool found = false;
    steps.Line(L"正在扫描分区中的" + std::wstring(name) + L"系统...");
    for (const auto& finding : findings) {
        if (finding.locked && generation == WindowsGeneration::Nt6) {
            // A locked volume hides its files: say so rather than count it as holding no Windows.
            steps.Line(L"  " + finding.entry.drive.Text() +
                       L" 是BitLocker加密卷（已锁定），无法检查其中的系统。");
        }
        if (finding.generation != generation) {
            continue;
        }
        steps.Line(FoundLine(finding, name, then));
        found = true;
        if (repair) {
            WarnIfEncrypted(finding);
            WarnIfHibernated(finding);
            repair(finding);
        }
    }
    return found;
}

void RepairPlan::RunBootFilesTool(const ToolCommand& command) {
    steps.RunToolOnceSaved([this] { return SaveBootFiles(); }, boot_.Text() + L" 的启动文件",
                           command);
}

std::wstring RepairPlan::FoundLine(const DriveFinding& finding, const wchar_t* generation,
                                  const wchar_t* then) {
    return L"  在 " + finding.entry.Text() + L" 发现" + generation + L"系统" +
           (finding.windows ? L"（" + finding.windows->brief + L"）" : L"") + then;
}

void RepairPlan::WarnIfEncrypted(const DriveFinding& finding) {
    if (finding.encrypted) {
        steps.Line(L"    警告：" + finding.entry.drive.Text() +
                   L" 是BitLocker加密卷，修复后下次启动时可能要求输入恢复密钥。");
    }
}

void RepairPlan::WarnIfHibernated(const DriveFinding& finding) {
    if (finding.hibernated) {
        steps.Line(L"    警告：" + std::wstring(kHibernatedWarning));
    }
}

RepairOutcome RepairPlan::Complete(const std::wstring& successLine, const std::wstring& kind,
                                   bool nothingToDo) {
    steps.Line(L"");
    if (steps.Failures() != 0) {
        steps.Line(kind + L"结束，但有 " + DecimalText(steps.Failures()) +
                   L" 个步骤失败！请查看上面的记录。");
        return RepairOutcome::StepsFailed;
    }
    if (nothingToDo) {
        steps.Line(kind + L"结束，未做任何修改。请关闭。");
        return RepairOutcome::NothingWritten;
    }
    steps.Line(successLine);
    return RepairOutcome::Succeeded;
}

void RepairPlan::CheckStoreDefault(const std::wstring& store, DriveLetter windows, bool uefi) {
    if (steps.Stopping()) {
        return;
    }
    const auto read = ReadStoreAt(files, volumes, heldStore, store);
    const auto target = windows.Path(L"\\Windows");
    if (!read.read) {
        steps.Line(L"    无法读取 " + store + Reason(read.read) + L"，未核对其默认启动项");
        return;
    }
    if (!read.store) {
        steps.Line(L"    " + store +
                   L" 无法解读（不是注册表文件，或没有启动配置），未核对其默认启动项");
        return;
    }
    switch (CheckDefaultEntry(*read.store, volumes, windows, uefi)) {
        case DefaultCheck::Starts:
            steps.Line(L"    " + store + L" 的默认启动项指向 " + target);
            break;
        case DefaultCheck::Elsewhere:
            steps.Fail(L"    失败：" + store + L" 的默认启动项没有指向 " + target);
            break;
        case DefaultCheck::CannotTell:
            steps.Line(L"    无法判断 " + windows.Text() + L" 是哪个分区（动态卷或映像），未核对 " +
                       store + L" 的默认启动项");
            break;
    }
}

}  // namespace kestrix
