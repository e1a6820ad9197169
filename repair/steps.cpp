#include "repair/steps.h"

#include "platform/text.h"

namespace kestrix {

namespace {

std::wstring ToolFailure(const std::wstring& commandLine, const RunResult& result) {
    switch (result.status) {
        case RunStatus::Finished:
            if (!result.exitCode) {
                return L"  失败：" + commandLine + L" 的退出码无法读取";
            }
            return L"  失败：" + commandLine + L" " + RunProblem(result);
        case RunStatus::NotFound:
        case RunStatus::NotStarted:
            break;
    }
    return L"  失败：无法启动 " + commandLine + L"（" + RunProblem(result) + L"）";
}

}  // namespace

std::wstring Reason(const FileResult& result) {
    return L"（" + FailureText(result.error, result.errorText) + L"）";
}

FileResult ReplaceWhole(Files& files, const std::wstring& target, std::uint32_t attributes,
                        const std::function<FileResult(const std::wstring&)>& write) {
    const auto temporary = target + L".kestrix-new";
    auto result = write(temporary);
    if (result) {
        result = files.FlushFile(temporary);
    }
    const auto old = files.Attributes(target);
    if (result && old) {
        result = files.SetNormalAttributes(target);
    }
    if (result) {
        result = files.MoveFileOver(temporary, target);
        if (!result && old) {
            files.SetAttributes(target, *old);
        }
    }
    if (!result) {
        files.DeleteFileAt(temporary);
        return result;
    }
    return files.SetAttributes(target, attributes);
}

void Steps::Begin(RepairProgress& progress) {
    progress_ = &progress;
    failures_ = 0;
    backups_.emplace(files_, volumes_, log_, runner_);
}

void Steps::OpenLog(const std::vector<DriveLetter>& runFolderDrives, const std::wstring& what) {
    log_.Open(runFolderDrives);
    log_.Write(what + L"，记录目录：" + (log_.Folder().empty() ? L"无" : log_.Folder()));
}

RepairOutcome Steps::End(RepairOutcome outcome, const std::wstring& stopped) {
    if (Stopping() && outcome != RepairOutcome::Cancelled) {
        log_.Write(stopped);
        outcome = RepairOutcome::Interrupted;
    }
    backups_->Finish();
    log_.Flush();
    return outcome;
}

void Steps::Line(const std::wstring& line) {
    // Once stopped, the window is closing: nothing more is reported.
    if (Stopping()) {
        return;
    }
    progress_->Line(line);
    log_.Write(L"记录：" + line);
}

void Steps::Fail(const std::wstring& line) {
    ++failures_;
    if (Stopping()) {
        // The window is closing, but the log file still learns what failed.
        log_.Write(L"记录：" + line);
        return;
    }
    Line(line);
}

bool Steps::RunTool(const ToolCommand& command) {
    if (Stopping()) {
        return false;
    }
    // Every tool here overwrites something: the record of what was saved goes to the disk first.
    log_.Flush();
    const auto result = runner_.Run(command);
    const bool ok = result.status == RunStatus::Finished && result.exitCode == 0u;
    if (!ok && !command.failureExpected) {
        Fail(ToolFailure(command.Line(), result));
    }
    return ok;
}

void Steps::RunToolOnceSaved(const std::function<FileResult()>& save, const std::wstring& what,
                             const ToolCommand& command) {
    if (Stopping()) {
        return;
    }
    if (const auto saved = save(); !saved) {
        Fail(L"  失败：无法备份 " + what + Reason(saved) + L"，未运行 " + command.Line());
        return;
    }
    RunTool(command);
}

void Steps::ReplaceFile(const std::wstring& source, const std::wstring& target,
                        const std::wstring& indent) {
    if (const auto saved = backups_->SaveFile(target); !saved) {
        Fail(indent + L"失败：无法备份 " + target + Reason(saved) + L"，未复制 " + source);
        return;
    }
    log_.Flush();
    // The temporary copy takes the source's attributes, which would keep a read-only one from
    // being flushed; the file in place gets them back.
    constexpr std::uint32_t kCarried =
        kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive;
    const auto attributes = files_.Attributes(source).value_or(0) & kCarried;
    const auto copied =
        ReplaceWhole(files_, target, attributes, [&](const std::wstring& temporary) {
            auto result = files_.CopyFileOver(source, temporary);
            return result ? files_.SetNormalAttributes(temporary) : result;
        });
    if (!copied) {
        Fail(indent + L"失败：无法复制 " + source + L" 到 " + target + Reason(copied));
    } else {
        log_.Write(L"复制：" + source + L" → " + target);
    }
}

bool Steps::EnsureFolder(const std::wstring& path) {
    std::vector<FolderEntry> entries;
    if (files_.ListFolder(path, entries)) {
        return true;
    }
    // Each level that is missing, from the top; the manifest lists those the run made.
    const auto at = DrivePath::Parse(path);
    std::wstring folder = at ? at->drive.Text() : L"";
    for (const auto& part : SplitAll(at ? at->rest : L"", L"\\")) {
        if (!part.empty()) {
            folder += L"\\" + part;
            if (files_.CreateFolder(folder)) {
                backups_->NoteCreated(folder);
            }
        }
    }
    if (!files_.ListFolder(path, entries)) {
        Fail(L"    失败：无法创建 " + path);
        return false;
    }
    log_.Write(L"创建：" + path);
    return true;
}

}  // namespace kestrix
