#include "repair/repair_plan.h"

#include "installed/hibernation.h"
#include "platform/text.h"

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
            steps.Line(L"  " + finding.entry.drive.Text() + L" 是BitLocker加密卷（已锁定），无法检查其中的系统。");
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
    steps.RunToolOnceSaved([this] { return SaveBootFiles(); }, bootDrive_ + L" 的启动文件",
                            command);
}

std::wstring RepairPlan::FoundLine(const DriveFinding& finding, const wchar_t* generation,
                                  const wchar_t* then) {
    return L"  在 " + finding.entry.Text() + L" 发现" + generation + L"系统" +
           (finding.windows ? L"（" + finding.windows->brief + L"）" : L"") + then;
}

void RepairPlan::WarnIfEncrypted(const DriveFinding& finding) {
    if (finding.encrypted) {
        steps.Line(L"    警告：" + finding.entry.drive.Text() + L" 是BitLocker加密卷，修复后下次启动时可能要求输入恢复密钥。");
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
        steps.Line(kind + L"结束，但有 " + DecimalText(steps.Failures()) + L" 个步骤失败！请查看上面的记录。");
        return RepairOutcome::StepsFailed;
    }
    if (nothingToDo) {
        steps.Line(kind + L"结束，未做任何修改。请关闭。");
        return RepairOutcome::NothingWritten;
    }
    steps.Line(successLine);
    return RepairOutcome::Succeeded;
}

}  // namespace kestrix
