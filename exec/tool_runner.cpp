#include "exec/tool_runner.h"

#include "platform/text.h"

namespace kestrix {

std::vector<std::wstring> ToolLocations(const std::wstring& ownFolder,
                                        const std::wstring& systemFolder, std::wstring_view name) {
    std::vector<std::wstring> locations;
    if (name.empty() || name.find_first_of(L"\\/:") != std::wstring_view::npos) {
        return locations;
    }
    for (const auto* folder : {&ownFolder, &systemFolder}) {
        if (folder->empty()) {
            continue;
        }
        auto path = JoinPath(*folder, name);
        // The program may itself sit in the system folder.
        if (locations.empty() || ToLower(locations.front()) != ToLower(path)) {
            locations.push_back(std::move(path));
        }
    }
    return locations;
}

std::wstring RunProblem(const RunResult& result) {
    switch (result.status) {
        case RunStatus::Finished:
            if (!result.exitCode) {
                return L"退出码无法读取";
            }
            return *result.exitCode == 0 ? L"" : L"返回 " + DecimalText(*result.exitCode);
        case RunStatus::NotFound:
            return L"程序目录和系统目录中都没有 " + result.file;
        case RunStatus::NotStarted:
            break;
    }
    return FailureText(result.error, result.errorText);
}

namespace {

std::wstring Outcome(const RunResult& result, const std::vector<std::wstring>& looked) {
    switch (result.status) {
        case RunStatus::NotFound: {
            std::wstring places;
            for (const auto& path : looked) {
                places += (places.empty() ? L"" : L"、") + path;
            }
            return L"找不到程序，未启动（查找过：" + places + L"）";
        }
        case RunStatus::NotStarted:
            return L"无法启动（" + RunProblem(result) + L"）";
        case RunStatus::Finished:
            break;
    }
    if (!result.exitCode) {
        return L"已结束，退出码无法读取";
    }
    return L"退出码 " + DecimalText(*result.exitCode);
}

// The log lines of what the tool wrote, blank lines left out.
std::vector<std::wstring> OutputLines(const LaunchResult& launched) {
    std::vector<std::wstring> lines;
    for (auto& text : SplitLines(launched.output)) {
        if (!TrimSpaces(text).empty()) {
            lines.push_back(L"输出：" + text);
        }
    }
    if (launched.outputDropped != 0) {
        lines.push_back(L"输出过长，另有 " +
                        DecimalText(static_cast<long long>(launched.outputDropped)) +
                        L" 字节未记录");
    }
    return lines;
}

}  // namespace

RunResult ToolRunner::Run(const ToolCommand& command, OutputCodePage codePage) {
    const auto line = command.Line();
    RunResult result;
    result.file = command.tool;
    const auto looked = ToolLocations(files_.OwnFolder(), files_.SystemFolder(), command.tool);
    std::wstring took;
    // The tool's output and then the outcome, written to the log in one go.
    std::vector<std::wstring> lines;
    for (const auto& program : looked) {
        if (!files_.FileLength(program)) {
            continue;
        }
        const LaunchRequest request{program, command.arguments, codePage, command.leaves};
        log_.Write(L"启动：" + program +
                   (request.arguments.empty() ? L"" : L" " + request.Parameters()));
        Waiting waiting(log_, line);
        const auto started = clock_.Milliseconds();
        const auto launched = launcher_.Launch(request, waiting);
        took = L"，用时 " + DecimalText(clock_.Milliseconds() - started) + L" 毫秒";
        lines = OutputLines(launched);
        result.status = launched.started ? RunStatus::Finished : RunStatus::NotStarted;
        result.exitCode = launched.exitCode;
        result.error = launched.error;
        result.errorText = launched.errorText;
        result.output = launched.output;
        break;
    }
    lines.push_back(L"命令：" + line + L" → " + Outcome(result, looked) + took);
    log_.WriteLines(lines);
    return result;
}

void ToolRunner::Waiting::StillRunning(int minutes) {
    log.Write(L"仍在等待 " + commandLine + L" 结束，已运行 " + DecimalText(minutes) + L" 分钟");
}

}  // namespace kestrix
