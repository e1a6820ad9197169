// What the repair refuses to do: overwrite without a complete backup, offer a removable disk, or
// pass over an encrypted volume in silence.
#include "app_fixture.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kFolder = L"c:\\kestrix\\kestrix-20261207-103026";

std::vector<std::wstring> Matching(const std::vector<std::wstring>& lines, const std::wstring& part) {
    std::vector<std::wstring> found;
    for (const auto& line : lines) {
        if (line.find(part) != std::wstring::npos) {
            found.push_back(line);
        }
    }
    return found;
}

// Windows 7 on e:, the boot drive d: with a boot manager and its store.
void SevenBootingFromD(testing::Machine& m) {
    m.InstallInKestrixFolder();
    m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
    m.files.Put(L"d:\\bootmgr", 300);
    m.files.Put(L"d:\\boot\\bcd", 200);
    m.files.Put(L"d:\\boot\\fonts\\chs_boot.ttf", 50);
    m.files.drives = {L"d:", L"e:"};
    m.repairWindow.partitionText = L"d:";
}

// The running Windows holds d:'s store, and its store tool exports it.
void HeldAndExportable(testing::Machine& m) {
    m.files.held = {L"d:\\boot\\bcd"};
    m.files.systemStore = L"d:\\Boot\\BCD";
    m.launcher.onLaunch = [&m](const LaunchRequest& request) {
        if (request.Parameters().rfind(L"/export ", 0) == 0) {
            m.files.Put(request.Parameters().substr(9, request.Parameters().size() - 10), 200);
        }
    };
}

TEST(Backups, AStepRunsOnlyAfterEverythingItOverwritesIsSaved) {
    const std::wstring bcdboot = L"bcdboot.exe e:\\windows /l zh-cn /s d:";
    const std::wstring noFolder = L"（没有可写的备份目录），未运行 ";
    struct Case {
        const char* name;
        std::function<void(testing::Machine&)> arrange;
        Lines failures;
        Lines runs;
    };
    const Case cases[] = {
        {"everything saved",
         [](testing::Machine&) {},
         {},
         {bcdboot, L"bcdedit.exe /store d:\\boot\\bcd /timeout 7", L"bootsect.exe /nt60 d:"}},
        {"read-only, hidden and system boot files",
         [](testing::Machine& m) {
             m.files.Protect(L"d:\\bootmgr");
             m.files.Protect(L"d:\\boot\\bcd");
         },
         {},
         {bcdboot, L"bcdedit.exe /store d:\\boot\\bcd /timeout 7", L"bootsect.exe /nt60 d:"}},
        {"no writable folder anywhere",
         [](testing::Machine& m) { m.files.readOnly = {L"c:", L"d:"}; },
         {L"  失败：无法备份 d: 的启动文件" + noFolder + bcdboot,
          L"  失败：无法备份 d: 的启动文件" + noFolder + L"bcdedit.exe /store d:\\boot\\bcd /timeout 7",
          L"  失败：无法备份 d: 的引导扇区" + noFolder + L"bootsect.exe /nt60 d:"},
         {}},
        {"the store held by the running Windows, named as Windows names it",
         [](testing::Machine& m) {
             m.files.files.erase(L"d:\\boot\\bcd");
             m.files.Put(L"d:\\Boot\\BCD", 200);
             HeldAndExportable(m);
         },
         {},
         {L"bcdedit.exe /export \"C:\\kestrix\\kestrix-20261207-103026\\d\\Boot\\BCD\"", bcdboot,
          L"bcdedit.exe /store d:\\boot\\bcd /timeout 7", L"bootsect.exe /nt60 d:"}},
        {"a short read of the boot sector",
         [](testing::Machine& m) { m.files.volumes[L"d:"] = std::string(512, 'v'); },
         {L"  失败：无法备份 d: 的引导扇区（只读到 512 字节），未运行 bootsect.exe /nt60 d:"},
         {bcdboot, L"bcdedit.exe /store d:\\boot\\bcd /timeout 7"}},
        {"an unreadable boot folder",
         [](testing::Machine& m) { m.files.unreadable = {L"d:\\boot\\fonts\\"}; },
         {L"  失败：无法备份 d: 的启动文件（错误 21：d:\\Boot\\fonts：error 21），未运行 " + bcdboot,
          L"  失败：无法备份 d: 的启动文件（错误 21：d:\\Boot\\fonts：error 21），未运行 "
          L"bcdedit.exe /store d:\\boot\\bcd /timeout 7"},
         {L"bootsect.exe /nt60 d:"}},
        {"the store held by the running Windows is exported",
         [](testing::Machine& m) {
             HeldAndExportable(m);
         },
         {},
         {L"bcdedit.exe /export \"C:\\kestrix\\kestrix-20261207-103026\\d\\Boot\\bcd\"", bcdboot,
          L"bcdedit.exe /store d:\\boot\\bcd /timeout 7", L"bootsect.exe /nt60 d:"}},
        {"a store held by another program: the store tool would export another one",
         [](testing::Machine& m) {
             m.files.held = {L"d:\\boot\\bcd"};
             m.files.systemStore = L"c:\\Boot\\BCD";
         },
         {L"  失败：无法备份 d: 的启动文件（错误 32：d:\\Boot\\bcd：被其他程序占用，且不是本机正在使用的"
          L"启动配置存储，无法导出），未运行 " +
              bcdboot,
          L"  失败：无法备份 d: 的启动文件（错误 32：d:\\Boot\\bcd：被其他程序占用，且不是本机正在使用的"
          L"启动配置存储，无法导出），未运行 bcdedit.exe /store d:\\boot\\bcd /timeout 7"},
         {L"bootsect.exe /nt60 d:"}},
        {"a held store that cannot be exported",
         [](testing::Machine& m) {
             m.files.held = {L"d:\\boot\\bcd"};
             m.files.systemStore = L"d:\\boot\\bcd";
             m.launcher.exitCodes[L"bcdedit.exe /export \"C:\\kestrix\\kestrix-20261207-103026\\d\\Boot\\bcd\""] = 1;
         },
         {L"  失败：无法备份 d: 的启动文件（错误 32：d:\\Boot\\bcd：被系统占用，且无法用 bcdedit.exe /export 导出），未运行 " +
              bcdboot,
          L"  失败：无法备份 d: 的启动文件（错误 32：d:\\Boot\\bcd：被系统占用，且无法用 bcdedit.exe /export 导出），未运行 "
          L"bcdedit.exe /store d:\\boot\\bcd /timeout 7"},
         {L"bcdedit.exe /export \"C:\\kestrix\\kestrix-20261207-103026\\d\\Boot\\bcd\"",
          L"bootsect.exe /nt60 d:"}},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        SevenBootingFromD(m);
        c.arrange(m);
        const auto filesBefore = m.files.files;
        m.app.program.OnConfirm();
        EXPECT_EQ(Matching(m.repairWindow.log, L"失败："), c.failures) << c.name;
        EXPECT_EQ(m.ToolRuns(), c.runs) << c.name;
        EXPECT_EQ(m.app.program.ExitCode(), c.failures.empty() ? 0 : 1) << c.name;
        if (c.runs.empty()) {
            // Not even beside the program or in the current folder.
            EXPECT_EQ(m.files.files, filesBefore) << c.name;
        }
    }
}

TEST(Backups, SavedAndFlushedBeforeTheFirstToolThatReplacesThem) {
    testing::Machine m;
    SevenBootingFromD(m);
    m.launcher.onLaunch = [&m](const LaunchRequest&) { m.files.Put(L"d:\\bootmgr", 999); };
    m.app.program.OnConfirm();
    for (const auto& saved : {L"\\d\\bootmgr", L"\\d\\boot\\bcd", L"\\d\\boot\\fonts\\chs_boot.ttf"}) {
        EXPECT_EQ(m.files.files.count(kFolder + saved), 1u) << ToUtf8(saved);
    }
    EXPECT_EQ(m.files.files.at(kFolder + L"\\d\\bootmgr").size(), 300u);
    // Each backup and the log reach the disk before the first tool starts.
    const auto firstRun = std::find_if(m.events.begin(), m.events.end(), [](const std::wstring& e) {
        return e.rfind(L"run:", 0) == 0;
    });
    const testing::Events before(m.events.begin(), firstRun);
    for (const auto& flushed : {L"flush:C:\\kestrix\\kestrix-20261207-103026\\d\\bootmgr",
                                L"flush:C:\\kestrix\\kestrix-20261207-103026\\d\\Boot\\bcd",
                                L"flush:C:\\kestrix\\kestrix-20261207-103026\\kestrix.log"}) {
        EXPECT_NE(std::find(before.begin(), before.end(), flushed), before.end()) << ToUtf8(flushed);
    }
}

TEST(Backups, ALoaderFileThatCannotBeSavedIsNotReplaced) {
    testing::Machine m;
    m.InstallInKestrixFolder();
    m.files.Put(L"e:\\windows\\regedit.exe", 100);
    m.files.Put(L"d:\\NTLDR", 40);
    m.files.readOnly = {kFolder + L"\\d"};
    m.files.drives = {L"e:"};
    m.repairWindow.partitionText = L"d:";
    m.app.program.OnConfirm();
    EXPECT_EQ(Matching(m.repairWindow.log, L"失败："),
              (Lines{L"    失败：无法备份 d:\\NTLDR（错误 5：error 5），未复制 C:\\kestrix\\NTLDR"}));
    EXPECT_EQ(m.files.files.at(L"d:\\ntldr").size(), 40u);
    EXPECT_EQ(m.ToolRuns(), Lines{L"bootsect.exe /nt52 d:"});
}

// A loader file is replaced whole or not at all, never through a link, and the run folder is not
// made through one.
TEST(Backups, ALoaderFileIsReplacedWholeAndNeverThroughALink) {
    const std::wstring failed = L"    失败：无法复制 C:\\kestrix\\NTLDR 到 d:\\NTLDR（";
    constexpr std::uint32_t kProtected = kAttributeReadOnly | kAttributeHidden | kAttributeSystem;
    const struct {
        const char* name;
        std::function<void(testing::FakeFileSystem&)> change;
        Lines failures;
        bool replaced;
        // Where the run's folder was made.
        std::wstring folder = kFolder;
    } cases[] = {
        {"nothing in the way", {}, {}, true},
        {"the loader a link", [](auto& f) { f.links = {L"d:\\ntldr"}; },
         {failed + L"d:\\NTLDR 是联接点、符号链接或其他重解析点，不经由它写入）"}, false},
        {"a disk that fills up halfway", [](auto& f) { f.fullAfterHalf = {L"d:\\ntldr.kestrix-new"}; },
         {failed + L"错误 112：error 112）"}, false},
        {"the program's folder a link", [](auto& f) { f.links = {L"c:\\kestrix"}; }, {}, true,
         L"d:\\kestrix-20261207-103026"},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        m.InstallInKestrixFolder();
        m.files.Put(L"e:\\windows\\regedit.exe", 100);
        m.files.Put(L"d:\\NTLDR", 40);
        m.files.Protect(L"d:\\NTLDR");
        m.files.drives = {L"d:", L"e:"};
        m.repairWindow.partitionText = L"d:";
        if (c.change) {
            c.change(m.files);
        }
        m.app.program.OnConfirm();
        EXPECT_EQ(Matching(m.repairWindow.log, L"失败："), c.failures) << c.name;
        EXPECT_EQ(m.files.files.at(L"d:\\ntldr").size(), c.replaced ? 100u : 40u) << c.name;
        // The copy takes the attributes of the program's own, which has none.
        EXPECT_EQ(m.files.Attributes(L"d:\\ntldr"), c.replaced ? 0u : kProtected) << c.name;
        EXPECT_FALSE(m.files.FileLength(L"d:\\NTLDR.kestrix-new")) << c.name;
        EXPECT_TRUE(m.files.FileLength(c.folder + L"\\d\\NTLDR")) << c.name;
    }
}

TEST(RemovableDisks, AreLeftOutOfTheScanButRepairedWhenNamed) {
    const std::wstring listing =
        L"1 D: mbr 07 ntfs - yes 1 20481 20480 MB\r\n2 E: mbr 07 ntfs - yes 1 2049 2048 MB\r\n";
    for (const auto media : {DriveMedia::Removable, DriveMedia::Usb, DriveMedia::SdCard, DriveMedia::Mmc}) {
        testing::Machine m;
        m.InstallInKestrixFolder();
        m.files.media[L"e:"] = media;
        m.launcher.outputs[ListingCommand(0).Line()] = listing;
        m.launcher.outputs[ListingCommand(1).Line()] = L"open disk error!\r\n";
        m.launcher.exitCodes[ListingCommand(1).Line()] = 1;
        m.Start(L"");
        EXPECT_EQ(m.repairWindow.partitions, Lines{L"d:  容量:20480MB"});
        m.Ends([&] { m.app.program.OnCloseRequest(); });
        EXPECT_NE(m.files.Text(kFolder + L"\\kestrix.log").find(L"跳过 e:：位于"), std::wstring::npos);
    }
    testing::Machine named;
    named.files.media[L"e:"] = DriveMedia::Usb;
    named.files.Put(L"e:\\boot\\bcd", 100);
    named.Start(L"-f -n -d e:");
    EXPECT_EQ(named.ToolRuns(), Lines{L"bootsect.exe /nt60 e:"});
}

TEST(BitLocker, LockedVolumesAreNamedAndUnlockedOnesWarned) {
    const std::string encrypted = "\xEB\x58\x90-FVE-FS-" + std::string(8181, '\0');
    testing::Machine m;
    m.InstallInKestrixFolder();
    m.files.volumes[L"e:"] = encrypted;
    m.files.unreadable = {L"e:\\"};
    m.files.volumes[L"f:"] = encrypted;
    m.files.Put(L"f:\\windows\\system32\\slmgr.vbs", 100);
    // A plain volume whose files cannot be read is not called encrypted.
    m.files.unreadable.push_back(L"g:\\");
    m.files.drives = {L"d:", L"e:", L"f:", L"g:"};
    m.repairWindow.partitionText = L"d:";
    m.app.program.OnConfirm();
    EXPECT_EQ(Matching(m.repairWindow.log, L"BitLocker"),
              (Lines{L"  e: 是BitLocker加密卷（已锁定），无法检查其中的系统。",
                     L"    警告：f: 是BitLocker加密卷，修复后下次启动时可能要求输入恢复密钥。"}));
}

}  // namespace
}  // namespace kestrix
