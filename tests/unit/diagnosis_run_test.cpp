// The planning seams, over the simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "fakes.h"
#include "repair/installations.h"
#include "diagnosis/planning.h"
#include "platform/text.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;

// Everything the fake disk holds, to compare before and after.
auto Snapshot(const testing::FakeFileSystem& disk) {
    return std::make_tuple(disk.files, disk.folders, disk.attributes, disk.volumes);
}

TEST(PlanningSeams, WritesStayInThePlanAndLaterReadsSeeThem) {
    testing::Events events;
    testing::FakeFileSystem disk{events};
    disk.Put(L"C:\\tools\\NTLDR", 200);
    disk.Put(L"d:\\ntldr", 100);
    disk.Protect(L"d:\\ntldr");
    disk.volumes[L"d:"] = std::string(8192, 'd');
    const auto before = Snapshot(disk);
    Lines notes;
    const PlanNote note = [&](const std::wstring& line) { notes.push_back(line); };
    PlanningFiles files(disk, note);
    PlanningVolumes volumes(disk, note);

    // Windows' refusals: a read-only target, a missing folder, a folder that exists.
    EXPECT_EQ(files.CopyFileOver(L"C:\\tools\\NTLDR", L"d:\\ntldr").error, 5u);
    EXPECT_EQ(files.CopyFileOver(L"C:\\tools\\NTLDR", L"d:\\run\\d\\ntldr").error, 3u);
    EXPECT_TRUE(files.CreateFolder(L"d:\\run"));
    EXPECT_EQ(files.CreateFolder(L"d:\\run").error, 183u);

    EXPECT_TRUE(files.CopyFileOver(L"d:\\ntldr", L"d:\\run\\ntldr"));
    EXPECT_TRUE(files.SetNormalAttributes(L"d:\\ntldr"));
    EXPECT_TRUE(files.CopyFileOver(L"C:\\tools\\NTLDR", L"d:\\ntldr"));
    EXPECT_TRUE(files.WriteNewFile(L"d:\\run\\log.txt", "a"));
    EXPECT_TRUE(files.AppendToFile(L"d:\\run\\log.txt", "b"));
    EXPECT_TRUE(files.MoveFileOver(L"d:\\run\\log.txt", L"d:\\run\\moved.txt"));
    EXPECT_TRUE(volumes.WriteVolumeStart(L"d:", std::string(512, 'n')));

    // Nothing reached the disk; every read of the plan sees what it planned.
    EXPECT_EQ(Snapshot(disk), before);
    EXPECT_EQ(files.FileLength(L"d:\\ntldr"), 200);
    EXPECT_EQ(files.Attributes(L"d:\\ntldr"), 0u);
    EXPECT_EQ(files.Attributes(L"d:\\run\\ntldr"),
              kAttributeReadOnly | kAttributeHidden | kAttributeSystem);
    std::string bytes;
    EXPECT_TRUE(files.ReadWholeFile(L"D:\\RUN\\MOVED.TXT", bytes));
    EXPECT_EQ(bytes, "ab");
    EXPECT_FALSE(files.FileLength(L"d:\\run\\log.txt"));
    std::vector<FolderEntry> entries;
    EXPECT_TRUE(files.ListFolder(L"d:\\", entries));
    Lines names;
    for (const auto& entry : entries) {
        names.push_back(entry.name + (entry.isFolder ? L"\\" : L""));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{L"ntldr", L"run\\"}));
    EXPECT_TRUE(volumes.ReadVolumeStart(L"d:", 1024, bytes));
    EXPECT_EQ(bytes, std::string(512, 'n') + std::string(512, 'd'));
    EXPECT_EQ(notes, (Lines{L"新建目录：d:\\run", L"复制：d:\\ntldr → d:\\run\\ntldr",
                            L"改属性：d:\\ntldr", L"复制：C:\\tools\\NTLDR → d:\\ntldr",
                            L"写入：d:\\run\\log.txt", L"写入：d:\\run\\moved.txt",
                            L"写入：d: 卷的前 512 字节"}));
}

// bcdboot leaves what it is documented to create, by the firmware it builds for; nothing runs.
TEST(PlanningSeams, ToolsAreNotedAndLeaveTheirDocumentedFiles) {
    struct Case {
        Firmware started;
        const wchar_t* parameters;
        Lines present;
    };
    const Lines bios{L"d:\\bootmgr", L"d:\\Boot\\BCD"};
    const Lines uefi{L"d:\\EFI\\Microsoft\\Boot\\BCD", L"d:\\EFI\\Microsoft\\Boot\\bootmgfw.efi",
                     L"d:\\EFI\\Boot\\bootx64.efi"};
    const Case cases[] = {
        {Firmware::Bios, L"c:\\windows /l zh-cn /s d:", bios},
        {Firmware::Uefi, L"c:\\windows /l zh-cn /s d:", uefi},
        {Firmware::Uefi, L"c:\\windows /l zh-cn /s d: /f BIOS", bios},
        {Firmware::Bios, L"c:\\windows /l zh-cn /s d: /f UEFI", uefi},
    };
    for (const auto& c : cases) {
        testing::Events events;
        testing::FakeFileSystem disk{events};
        Lines notes;
        PlanningFiles files(disk, [&](const std::wstring& line) { notes.push_back(line); });
        PlanningLauncher launcher(files, c.started,
                                  [&](const std::wstring& line) { notes.push_back(line); });
        struct : LaunchProgress {
            void StillRunning(int) override {}
        } waiting;
        const auto result =
            launcher.Launch({L"C:\\Windows\\System32\\bcdboot.exe", c.parameters}, waiting);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(notes, Lines{L"运行：C:\\Windows\\System32\\bcdboot.exe " +
                               std::wstring(c.parameters)});
        for (const auto& path : bios.size() == c.present.size() ? uefi : bios) {
            EXPECT_FALSE(files.FileLength(path)) << ToUtf8(path);
        }
        for (const auto& path : c.present) {
            EXPECT_TRUE(IsPresent(files, path)) << ToUtf8(path);
        }
        EXPECT_TRUE(disk.files.empty());
    }
}

}  // namespace
}  // namespace kestrix
