#include "exec/tool_runner.h"

#include "platform/text.h"

namespace kestrix {

std::wstring NormaliseCommandLine(std::wstring_view commandLine) {
    return TrimSpaces(commandLine) + L' ';
}

std::optional<CommandParts> SplitCommandLine(std::wstring_view line) {
    const auto length = static_cast<long long>(line.size());
    CommandParts parts;
    if (!line.empty() && line.front() == L'"') {
        const auto closing = line.find(L'"', 1);
        parts.file = std::wstring(line.substr(1, closing == std::wstring_view::npos
                                                     ? std::wstring_view::npos
                                                     : closing - 1));
        // Skips the opening quote, the file, the closing quote and one separator.
        const auto count = length - static_cast<long long>(parts.file.size()) - 3;
        if (count < 0) {
            return std::nullopt;
        }
        parts.parameters = std::wstring(line.substr(line.size() - static_cast<std::size_t>(count)));
        return parts;
    }
    const auto space = line.find(L' ');
    parts.file = std::wstring(line.substr(0, space));
    if (space != std::wstring_view::npos) {
        parts.parameters = TrimSpaces(line.substr(space + 1));
    }
    return parts;
}

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
            return FailureText(result.error, result.errorText);
        case RunStatus::InvalidCommand:
            break;
    }
    return L"命令行无效";
}

namespace {

std::wstring Outcome(const RunResult& result, const std::vector<std::wstring>& looked) {
    switch (result.status) {
        case RunStatus::InvalidCommand:
            return L"命令行无效，未启动";
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
    const std::wstring& line = command.line;
    RunResult result;
    std::vector<std::wstring> looked;
    std::wstring took;
    // The tool's output and then the outcome, written to the log in one go.
    std::vector<std::wstring> lines;
    if (const auto parts = SplitCommandLine(NormaliseCommandLine(line))) {
        result.file = parts->file;
        looked = ToolLocations(files_.OwnFolder(), files_.SystemFolder(), parts->file);
        result.status = looked.empty() ? RunStatus::InvalidCommand : RunStatus::NotFound;
        for (const auto& program : looked) {
            if (!files_.FileLength(program)) {
                continue;
            }
            log_.Write(L"启动：" + program +
                       (parts->parameters.empty() ? L"" : L" " + parts->parameters));
            Waiting waiting(log_, line);
            const auto started = clock_.Milliseconds();
            const auto launched =
                launcher_.Launch({program, parts->parameters, codePage, command.leaves}, waiting);
            took = L"，用时 " + DecimalText(clock_.Milliseconds() - started) + L" 毫秒";
            lines = OutputLines(launched);
            result.status = launched.started ? RunStatus::Finished : RunStatus::NotStarted;
            result.exitCode = launched.exitCode;
            result.error = launched.error;
            result.errorText = launched.errorText;
            result.output = launched.output;
            break;
        }
    }
    lines.push_back(L"命令：" + line + L" → " + Outcome(result, looked) + took);
    log_.WriteLines(lines);
    return result;
}

void ToolRunner::Waiting::StillRunning(int minutes) {
    log.Write(L"仍在等待 " + commandLine + L" 结束，已运行 " + DecimalText(minutes) + L" 分钟");
}

}  // namespace kestrix
