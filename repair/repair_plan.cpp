#include "repair/repair_plan.h"

#include "installed/hibernation.h"
#include "platform/text.h"

namespace kestrix {

bool RepairPlan::ForEachNt6(const std::vector<DriveFinding>& findings,
                            const std::function<void(const DriveFinding&)>& repair) {
    bool found = false;
    steps_.Line(L"正在扫描分区中的6.x系统...");
    for (const auto& finding : findings) {
        if (finding.locked) {
            // A locked volume hides its files: say so rather than count it as holding no Windows.
            steps_.Line(L"  " + finding.entry.drive.Text() + L" 是BitLocker加密卷（已锁定），无法检查其中的系统。");
        }
        if (finding.generation != WindowsGeneration::Nt6) {
            continue;
        }
        steps_.Line(FoundLine(finding, L"6.x"));
        found = true;
        WarnIfEncrypted(finding);
        WarnIfHibernated(finding);
        repair(finding);
    }
    return found;
}

void RepairPlan::RunBootFilesTool(const ToolCommand& command) {
    steps_.RunToolOnceSaved([this] { return SaveBootFiles(); }, bootDrive_ + L" 的启动文件",
                            command);
}

std::wstring RepairPlan::FoundLine(const DriveFinding& finding, const wchar_t* generation,
                                  const wchar_t* then) {
    return L"  在 " + finding.entry.Text() + L" 发现" + generation + L"系统" +
           (finding.windows ? L"（" + finding.windows->brief + L"）" : L"") + then;
}

void RepairPlan::WarnIfEncrypted(const DriveFinding& finding) {
    if (finding.encrypted) {
        steps_.Line(L"    警告：" + finding.entry.drive.Text() + L" 是BitLocker加密卷，修复后下次启动时可能要求输入恢复密钥。");
    }
}

void RepairPlan::WarnIfHibernated(const DriveFinding& finding) {
    if (finding.hibernated) {
        steps_.Line(L"    警告：" + std::wstring(kHibernatedWarning));
    }
}

RepairOutcome RepairPlan::Complete(const std::wstring& successLine, const std::wstring& kind,
                                   bool nothingToDo) {
    steps_.Line(L"");
    if (steps_.Failures() != 0) {
        steps_.Line(kind + L"结束，但有 " + DecimalText(steps_.Failures()) + L" 个步骤失败！请查看上面的记录。");
        return RepairOutcome::StepsFailed;
    }
    if (nothingToDo) {
        steps_.Line(kind + L"结束，未做任何修改。请关闭。");
        return RepairOutcome::NothingWritten;
    }
    steps_.Line(successLine);
    return RepairOutcome::Succeeded;
}

}  // namespace kestrix
