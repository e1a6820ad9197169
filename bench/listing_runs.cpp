// The disk listing both ways, timed inside Wine for the benchmark: dsptw.exe started directly with
// its output read from a pipe (as kestrix.exe lists a disk now), and "cmd.exe /c dsptw N
// /find:all /getid>dinf.txt" in the program's folder with the file read afterwards (as it did
// before). Both start as kestrix.exe starts a tool: hidden, without a console window, standard
// output and error on one pipe that is read to its end.
//
//   listing_runs <program folder> <last disk>
//
// prints "direct <disk> <ms>" and "cmd <disk> <ms>", disk by disk, the two ways in turn.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/unique_handle.h"

namespace {

using kestrix::win32::UniqueFileHandle;
using kestrix::win32::UniqueKernelHandle;

double Milliseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Starts the program, reads its output until every writer has closed the pipe and waits for it.
bool Run(const std::wstring& program, std::wstring commandLine, const std::wstring& folder) {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        return false;
    }
    const UniqueKernelHandle pipeRead(readEnd);
    UniqueKernelHandle pipeWrite(writeEnd);
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                   CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &started);
    pipeWrite.reset();
    if (!ok) {
        return false;
    }
    const UniqueKernelHandle process(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr)) {
    }
    return WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0;
}

// Reads the file to its end, as the scan read dinf.txt.
bool ReadWhole(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: listing_runs <program folder> <last disk>\n", stderr);
        return 2;
    }
    const std::wstring folder = argv[1];
    const int lastDisk = std::wcstol(argv[2], nullptr, 10);
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring lister = folder + L"\\dsptw.exe";
    const std::wstring shell = std::wstring(system) + L"\\cmd.exe";
    for (int disk = 0; disk <= lastDisk; ++disk) {
        const std::wstring tail = L" " + std::to_wstring(disk) + L" /find:all /getid";
        double began = Milliseconds();
        if (!Run(lister, L"\"" + lister + L"\"" + tail, folder)) {
            return 1;
        }
        std::printf("direct %d %.2f\n", disk, Milliseconds() - began);
        began = Milliseconds();
        if (!Run(shell, L"cmd.exe /c dsptw" + tail + L">dinf.txt", folder) ||
            !ReadWhole(folder + L"\\dinf.txt")) {
            return 1;
        }
        std::printf("cmd %d %.2f\n", disk, Milliseconds() - began);
    }
    return 0;
}
