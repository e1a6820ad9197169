#include "exec/run_and_wait.h"

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

namespace {

std::wstring LastComponent(std::wstring_view path) {
    const auto slash = path.rfind(L'\\');
    return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::optional<OwnFolderStart> ResolveOwnFolder(std::wstring_view ownFolder, std::wstring_view file) {
    std::wstring fullPath;
    if (file.size() < 2 || file[1] != L':') {
        fullPath = ReplaceAll(std::wstring(ownFolder) + L'\\', L"\\\\", L"\\") + std::wstring(file);
    } else {
        fullPath = std::wstring(file);
    }
    if (fullPath.find(L'\\') == std::wstring::npos) {
        return std::nullopt;
    }
    const auto last = LastComponent(fullPath);
    OwnFolderStart start;
    start.drive = Left(fullPath, 2);
    start.folder = Left(fullPath, fullPath.size() - last.size() - 1);
    start.file = LastComponent(file);
    return start;
}

RunResult CommandRunner::RunAndWait(std::wstring_view commandLine, std::int16_t showMode,
                                    std::int16_t waitForExit, std::int16_t inOwnFolder) {
    RunResult result;
    const auto split = SplitCommandLine(NormaliseCommandLine(commandLine));
    if (!split) {
        return result;
    }
    result.parts = *split;
    if (inOwnFolder != 0) {
        const auto start = ResolveOwnFolder(files_.OwnFolder(), result.parts.file);
        if (!start || !files_.SetCurrentDrive(start->drive) ||
            !files_.SetCurrentFolder(start->folder)) {
            result.status = RunStatus::FolderFailed;
            return result;
        }
        if (start->file.empty()) {
            // An empty file has no last component to start.
            result.status = RunStatus::InvalidCommand;
            return result;
        }
        result.parts.file = start->file;
    }
    LaunchRequest request{result.parts.file, result.parts.parameters, showMode, waitForExit != 0};
    const auto launched = launcher_.Launch(request);
    result.status = launched.started ? RunStatus::Finished : RunStatus::NotStarted;
    result.exitCode = launched.exitCode;
    result.error = launched.error;
    result.errorText = launched.errorText;
    return result;
}

}  // namespace kestrix
