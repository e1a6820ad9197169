#pragma once
#include <gtest/gtest.h>

#include "app/application.h"
#include "fakes.h"
#include "stores.h"

namespace kestrix::testing {

// A job's progress, recorded: its lines, its questions and the answer they all get.
struct RecordingProgress final : RepairProgress {
    void Line(const std::wstring& line) override { lines.push_back(line); }
    MessageAnswer Ask(const std::wstring& question) override {
        questions.push_back(question);
        return answer;
    }
    std::vector<std::wstring> lines;
    std::vector<std::wstring> questions;
    MessageAnswer answer = MessageAnswer::Cancel;
};

// The Windows partition that the real Windows 10 store names, by its GPT partition GUID.
inline const std::string kWindows10Partition(
    "\xb0\x7c\x4a\x9d\x9d\xab\x71\x4d\x96\x1f\x50\xf1\xd9\xc9\x25\x2f", 16);

// The whole program over recording doubles.
struct Machine {
    Machine() {
        // Every drive of the simulated machine has a volume whose start can be saved.
        for (wchar_t letter = L'c'; letter <= L'h'; ++letter) {
            files.volumes[std::wstring(1, letter) + L":"] = std::string(8192, static_cast<char>(letter));
        }
        // Windows' tools where Windows keeps them; the listing tool there too, so that it is
        // found wherever a test puts the program.
        for (const wchar_t* tool :
             {L"bootsect.exe", L"bcdboot.exe", L"bcdedit.exe", L"dsptw.exe", L"diskpart.exe"}) {
            files.Put(files.systemFolder + L"\\" + tool, 1000);
        }
        // bcdboot leaves the boot manager and a store on the drive named after /s, whose default
        // entry starts the Windows it was made for: for BIOS a store written with hivex naming
        // the MBR partition 1A2B3C4D at 101 MiB, for UEFI the real Windows 10 store naming its
        // GPT partition. That partition becomes the Windows' drive.
        launcher.onSuccess = [this](const LaunchRequest& request) {
            const auto at = request.Parameters().find(L"/s ");
            if (FakeLauncher::Name(request) != L"bcdboot.exe" || at == std::wstring::npos) {
                return;
            }
            const auto drive = request.Parameters().substr(at + 3, 2);
            const auto windows = ToLower(request.Parameters().substr(0, 2));
            files.Put(drive + L"\\bootmgr", 400);
            if (request.Parameters().find(L"/f UEFI") != std::wstring::npos) {
                files.Put(drive + L"\\EFI\\Microsoft\\Boot\\BCD",
                            StoreBytes("windows10-uefi-gpt.bcd"));
                files.partitionIds[kWindows10Partition] = {{0, 3}, DriveLetter::Parse(windows)};
                files.identities[windows] = VolumeIdentity{L"GPT {5541E87D-91A5-4F2B-AD43-A0345C199E9B}",
                                                           1048576, 1u << 30, 1};
            } else {
                files.Put(drive + L"\\boot\\bcd", StoreBytes("mbr.bcd"));
                files.identities[windows] = VolumeIdentity{L"MBR 1A2B3C4D", 105906176, 1u << 30, 1};
            }
        };
    }

    Events events;
    FakeStartWindow startWindow{events};
    FakeRepairWindow repairWindow{events};
    FakeSession session{events};
    FakeFileSystem files{events};
    FakeLauncher launcher{events};
    FakeClock clock;
    Application app{startWindow, repairWindow, session, files,    files, files, files,
                    files,       files,        files,   launcher, clock};

    // The program in C:\kestrix with the generic boot.ini and the XP loader files beside it.
    void InstallInKestrixFolder() {
        files.ownFolder = L"C:\\kestrix";
        for (const wchar_t* name : {L"boot.ini", L"BOOTFONT.BIN", L"NTLDR", L"NTDETECT.COM"}) {
            files.Put(std::wstring(L"C:\\kestrix\\") + name, 100);
        }
    }

    // Starts the program as the process start does; true when it ended the process.
    bool Start(const std::wstring& arguments) {
        files.arguments = arguments;
        return Ends([&] { app.program.Start(); });
    }

    template <typename F>
    bool Ends(F&& action) {
        try {
            action();
        } catch (const ProgramEnded& ended) {
            exitCode = ended.exitCode;
            return true;
        }
        return false;
    }

    // The repair job alone, over the machine's drives, without the program or its windows.
    RepairOutcome Repair(const wchar_t* drive, BootPath path, RepairKind kind,
                         RepairProgress& progress) {
        app.job.Prepare({{*DriveLetter::Parse(drive), path, L""}, kind, files.DriveEntries()});
        return app.job.Run(progress);
    }

    std::vector<std::wstring> ToolRuns() const {
        std::vector<std::wstring> runs;
        for (const auto& request : launcher.requests) {
            runs.push_back(FakeLauncher::Name(request) + L" " + request.Parameters());
        }
        return runs;
    }

    std::optional<int> exitCode;
};

struct AppFixture : ::testing::Test, Machine {};

}  // namespace kestrix::testing
