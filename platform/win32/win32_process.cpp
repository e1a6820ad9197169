#include "platform/win32/win32_process.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/error_text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

// How much of a tool's output is kept for the log. The rest is still read, so that the tool never
// blocks on a full pipe, and only counted.
constexpr std::size_t kKeptOutput = 64 * 1024;
constexpr DWORD kMinute = 60 * 1000;

struct PipeReader {
    HANDLE pipe = nullptr;
    std::string kept;
    std::uint64_t dropped = 0;
};

// Reads until every writer has closed the pipe: the tool, and anything it handed the pipe on to.
DWORD WINAPI ReadPipe(void* context) {
    auto& reader = *static_cast<PipeReader*>(context);
    char buffer[4096];
    DWORD got = 0;
    // A read of zero bytes is a write of zero bytes, not the end.
    while (ReadFile(reader.pipe, buffer, sizeof(buffer), &got, nullptr)) {
        const std::size_t keep = std::min<std::size_t>(kKeptOutput - reader.kept.size(), got);
        reader.kept.append(buffer, keep);
        reader.dropped += got - keep;
    }
    return 0;
}

std::wstring Decode(const std::string& bytes, OutputCodePage codePage) {
    const UINT page = codePage == OutputCodePage::Ansi ? CP_ACP : CP_OEMCP;
    const int length = static_cast<int>(bytes.size());
    const int size = MultiByteToWideChar(page, 0, bytes.data(), length, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(page, 0, bytes.data(), length, text.data(), size);
    return text;
}

LaunchResult NotStarted(DWORD error) {
    LaunchResult result;
    result.error = error != 0 ? error : ERROR_GEN_FAILURE;
    result.errorText = ErrorText(result.error);
    return result;
}

}  // namespace

LaunchResult Win32ProcessLauncher::Launch(const LaunchRequest& request, LaunchProgress& progress) {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        return NotStarted(GetLastError());
    }
    UniqueKernelHandle pipeRead(readEnd);
    UniqueKernelHandle pipeWrite(writeEnd);
    // The tool's end is the one handle it inherits: every other handle of ours is made
    // non-inheritable, and only one tool runs at a time.
    if (!SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        return NotStarted(GetLastError());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // No input: a tool that asks reads nothing rather than waiting for an answer.
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring commandLine = L"\"" + request.program + L"\"";
    if (!request.arguments.empty()) {
        commandLine += L' ' + request.Parameters();
    }
    PROCESS_INFORMATION started{};
    // With the application name given as a full path nothing is searched.
    const BOOL ok = CreateProcessW(request.program.c_str(), commandLine.data(), nullptr, nullptr,
                                   TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started);
    const DWORD error = ok ? 0 : GetLastError();
    // Our copy of the tool's end goes, so that the pipe ends when the tool's copies do.
    pipeWrite.reset();
    if (!ok) {
        return NotStarted(error);
    }
    UniqueKernelHandle process(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);

    PipeReader reader;
    reader.pipe = pipeRead.get();
    UniqueKernelHandle readerThread(CreateThread(nullptr, 0, ReadPipe, &reader, 0, nullptr));
    if (!readerThread) {
        // Read here instead: that ends when the tool's output does.
        ReadPipe(&reader);
    }
    const HANDLE waited[] = {process.get(), readerThread.get()};
    const DWORD count = readerThread ? 2 : 1;
    for (int minutes = 1; WaitForMultipleObjects(count, waited, TRUE, kMinute) == WAIT_TIMEOUT;
         ++minutes) {
        progress.StillRunning(minutes);
    }
    if (readerThread) {
        // The reader works on this frame's buffer: it must be done before the frame goes.
        WaitForSingleObject(readerThread.get(), INFINITE);
    }
    LaunchResult result;
    result.started = true;
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code)) {
        result.exitCode = code;
    }
    result.output = Decode(reader.kept, request.codePage);
    result.outputDropped = reader.dropped;
    return result;
}

}  // namespace kestrix::win32
