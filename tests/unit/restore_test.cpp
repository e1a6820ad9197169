// -r: what a repair saved goes back, only when its copy is intact and its volume is the same.
#include "app_fixture.h"
#include "disk_image.h"
#include "repair/manifest.h"
#include "repair/run_folder_trust.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;
using testing::Machine;

const std::wstring kRun = L"C:\\kestrix\\kestrix-20261207-103026";
const std::wstring kUndo = kRun + L"-2";
constexpr std::uint32_t kProtected = kAttributeReadOnly | kAttributeHidden | kAttributeSystem;
// The first 8 KiB of a small volume as mkfs.fat or mkntfs formats it.
std::string FormattedStart(const std::string& format, std::uint64_t sizeMiB) {
    testing::TempFolder folder;
    const testing::DiskImage image(folder, "volume", sizeMiB, format, "");
    EXPECT_TRUE(image.ok()) << format;
    const auto bytes = image.Bytes(0, 8192);
    return {bytes.begin(), bytes.end()};
}

// Boot code of its own after the longest BPB (FAT32's), as bootsect writes it.
std::string WithBootCode(std::string volume, char code) {
    volume.replace(0x5A, 0x1FE - 0x5A, 0x1FE - 0x5A, code);
    return volume;
}

// The machine's volume d: before the repair, NTFS.
const std::string& NtfsStart() {
    static const std::string start = FormattedStart("mkntfs -F -Q -q", 4);
    return start;
}

std::vector<std::wstring> Matching(const Lines& lines, const std::wstring& part) {
    Lines found;
    for (const auto& line : lines) {
        if (line.find(part) != std::wstring::npos) {
            found.push_back(line);
        }
    }
    return found;
}

// Windows 7 on e:, XP on f:; d: boots with its own boot manager, its store and a protected NTLDR,
// and the tools rewrite what they own. The next run of the program finds what this one left.
void Repaired(Machine& next, const std::function<void(Machine&)>& beforeRepair = {}) {
    Machine m;
    m.InstallInKestrixFolder();
    m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
    m.files.Put(L"f:\\windows\\regedit.exe", 100);
    m.files.files[L"d:\\bootmgr"] = "old boot manager";
    m.files.files[L"d:\\boot\\bcd"] = "old store";
    m.files.files[L"d:\\ntldr"] = "old loader";
    m.files.attributes[L"d:\\ntldr"] = kProtected;
    m.files.drives = {L"d:", L"e:", L"f:"};
    m.files.volumes[L"d:"] = NtfsStart();
    m.repairWindow.partitionText = L"d:";
    m.launcher.onLaunch = [&m](const LaunchRequest& request) {
        const auto name = testing::FakeLauncher::Name(request);
        if (name == L"bootsect.exe") {
            m.files.volumes[L"d:"] = WithBootCode(m.files.volumes[L"d:"], 'B');
        } else if (name == L"bcdboot.exe") {
            m.files.files[L"d:\\boot\\bcd"] = "new store";
        }
    };
    if (beforeRepair) {
        beforeRepair(m);
    }
    m.app.program.OnConfirm();
    EXPECT_EQ(m.app.program.ExitCode(), 0);
    next.files.ownFolder = m.files.ownFolder;
    next.files.files = m.files.files;
    next.files.folders = m.files.folders;
    next.files.volumes = m.files.volumes;
    next.files.attributes = m.files.attributes;
    next.files.identities = m.files.identities;
    next.files.drives = m.files.drives;
    next.files.administrators = m.files.administrators;
}

TEST(Restore, PutsBackWhatTheRepairChangedByteForByte) {
    Machine m;
    Repaired(m);
    // All 16 sectors of NTFS's boot file go back; only its BPB is left as it was.
    auto damaged = WithBootCode(NtfsStart(), '!');
    damaged.replace(512, 7680, 7680, '!');
    m.files.volumes[L"d:"] = damaged;
    const auto repairedLoader = m.files.files.at(L"d:\\ntldr");
    EXPECT_FALSE(m.Start(L"-f -r"));
    EXPECT_EQ(
        m.repairWindow.log,
        (Lines{L"正在撤销修复，按 " + kRun + L" ...", L"  已恢复：d:\\bootmgr",
               L"  已恢复：d:\\Boot\\bcd", L"  已恢复：d:\\NTLDR", L"  已恢复：d: 卷的前 8192 字节",
               L"  修复时新建，未删除：d:\\boot.ini", L"  修复时新建，未删除：d:\\BOOTFONT.BIN",
               L"  修复时新建，未删除：d:\\NTDETECT.COM", L"",
               L"撤销完成！已恢复 4 项。请关闭。"}));
    EXPECT_EQ(m.app.program.ExitCode(), 0);
    EXPECT_EQ(m.files.volumes.at(L"d:"), NtfsStart());
    EXPECT_EQ(m.files.files.at(L"d:\\bootmgr"), "old boot manager");
    EXPECT_EQ(m.files.files.at(L"d:\\boot\\bcd"), "old store");
    EXPECT_EQ(m.files.files.at(L"d:\\ntldr"), "old loader");
    EXPECT_EQ(m.files.attributes.at(L"d:\\ntldr"), kProtected);
    EXPECT_TRUE(m.files.FileLength(L"d:\\boot.ini"));

    // What was there before the restore went into a folder of its own, with its own manifest,
    // all of it on the disk before the first item was written.
    std::wstring problem;
    const auto undo = ReadManifest(m.files.files.at(ToLower(kUndo + L"\\manifest.txt")), problem);
    ASSERT_TRUE(undo) << ToUtf8(problem);
    Lines sources;
    for (const auto& item : *undo) {
        sources.push_back(item.source);
    }
    EXPECT_EQ(sources, (Lines{L"d:\\bootmgr", L"d:\\Boot\\bcd", L"d:\\NTLDR", L"d:"}));
    EXPECT_EQ(m.files.files.at(ToLower(kUndo + L"\\volume-d-first8k.bin")), damaged);
    EXPECT_EQ(m.files.files.at(ToLower(kUndo + L"\\d\\ntldr")), repairedLoader);
    // Each version of the manifest is written whole beside the last, flushed, then put in its
    // place.
    const auto manifest = kUndo + L"\\manifest.txt";
    const auto placed = L"move:" + manifest + L".new>" + manifest;
    const auto firstWrite = std::find(m.events.begin(), m.events.end(), L"flush:d:\\bootmgr");
    const auto lastPlaced = std::find(std::make_reverse_iterator(firstWrite), m.events.rend(), placed);
    ASSERT_NE(lastPlaced, m.events.rend());
    EXPECT_EQ(*std::next(lastPlaced), L"flush:" + manifest + L".new");
    EXPECT_EQ(std::find(firstWrite, m.events.end(), placed), m.events.end());
}

// Each item's line when the volume behind d: is not the one it was saved from.
Lines Refused(const std::wstring& reason) {
    Lines lines;
    for (const wchar_t* what :
         {L"d:\\bootmgr", L"d:\\Boot\\bcd", L"d:\\NTLDR", L"d: 卷的前 8192 字节"}) {
        lines.push_back(L"  失败：" + reason + L"，未恢复 " + what);
    }
    return lines;
}

std::function<void(Machine&)> EditManifest(const std::string& from, const std::string& to) {
    return [from, to](Machine& m) {
        auto& text = m.files.files[ToLower(kRun + L"\\manifest.txt")];
        text.replace(text.find(from), from.size(), to);
    };
}

// Rewrites one item of the run's manifest as if the run had saved it so.
std::function<void(Machine&)> EditItem(const std::wstring& source,
                                       const std::function<void(Machine&, ManifestItem&)>& edit) {
    return [source, edit](Machine& m) {
        auto& text = m.files.files[ToLower(kRun + L"\\manifest.txt")];
        std::wstring problem;
        auto items = ReadManifest(text, problem);
        ASSERT_TRUE(items) << ToUtf8(problem);
        for (auto& item : *items) {
            if (item.source == source) {
                edit(m, item);
            }
        }
        text = ManifestText(*items);
    };
}

TEST(Restore, WritesNothingItCannotVouchFor) {
    const std::wstring volume = L"d: 卷的前 8192 字节";
    const std::wstring saved = L"大小 8192 字节的卷（卷序列号 5E00-0064）";
    struct Case {
        const char* name;
        std::function<void(Machine&)> beforeRepair;
        std::function<void(Machine&)> afterRepair;
        Lines failures;
        int exitCode;
        bool volumeBack;
        bool loaderBack;
    };
    const Case cases[] = {
        {"a backup altered since the run",
         {},
         [](Machine& m) { m.files.files[ToLower(kRun + L"\\d\\NTLDR")][0] ^= 1; },
         {L"  失败：备份 " + kRun +
          L"\\d\\NTLDR 与清单记录的长度或 SHA-256 不符，未恢复 d:\\NTLDR"},
         1,
         true,
         false},
        {"a backup gone",
         {},
         [](Machine& m) { m.files.files.erase(ToLower(kRun + L"\\volume-d-first8k.bin")); },
         {L"  失败：无法读取备份 " + kRun + L"\\volume-d-first8k.bin（错误 2：error 2），未恢复 " +
          volume},
         1,
         false,
         true},
        {"another partition behind the drive",
         {},
         [](Machine& m) {
             m.files.identities[L"d:"] = VolumeIdentity{L"MBR 1A2B3C4D", 1048576, 8192, 0x5E000064u};
         },
         Refused(L"d: 现在是另一个卷（MBR 1A2B3C4D 上起点 1048576、长度 8192 字节的分区（卷序列号 "
                 L"5E00-0064），备份时是" + saved + L"）"),
         2,
         false,
         false},
        {"the same place on another disk",
         [](Machine& m) {
             m.files.identities[L"d:"] =
                 VolumeIdentity{L"MBR 1A2B3C4D", 1048576, 8192, 0x5E000064u};
         },
         [](Machine& m) {
             m.files.identities[L"d:"] =
                 VolumeIdentity{L"MBR 99887766", 1048576, 8192, 0x5E000064u};
         },
         Refused(
             L"d: 现在是另一个卷（MBR 99887766 上起点 1048576、长度 8192 字节的分区（卷序列号 "
             L"5E00-0064），备份时是MBR 1A2B3C4D 上起点 1048576、长度 8192 字节的分区（卷序列号 "
             L"5E00-0064））"),
         2, false, false},
        {"a volume of the same size with another file system",
         {},
         [](Machine& m) { m.files.identities[L"d:"] = VolumeIdentity{L"", 0, 8192, 0x12345678u}; },
         Refused(L"d: 现在是另一个卷（大小 8192 字节的卷（卷序列号 1234-5678），备份时是" + saved +
                 L"）"),
         2,
         false,
         false},
        {"a volume that could not be told at the time",
         [](Machine& m) { m.files.identities[L"d:"] = std::nullopt; },
         {},
         Refused(L"备份时无法识别 d: 是哪个卷，无法确认是同一个卷"),
         2,
         false,
         false},
        {"a source that is no boot file",
         {},
         EditManifest("\td:\\NTLDR\t", "\td:\\Windows\\System32\\hal.dll\t"),
         {L"  失败：d:\\Windows\\System32\\hal.dll 不是本程序备份的引导文件，未恢复"},
         1,
         true,
         false},
        {"a source in a folder whose name only begins like the boot folder's",
         {},
         EditManifest("\td:\\NTLDR\t", "\td:\\bootx\\NTLDR\t"),
         {L"  失败：d:\\bootx\\NTLDR 不是本程序备份的引导文件，未恢复"},
         1,
         true,
         false},
        {"a source in a folder whose name only begins like EFI's",
         {},
         EditManifest("\td:\\NTLDR\t", "\td:\\efifoo\\NTLDR\t"),
         {L"  失败：d:\\efifoo\\NTLDR 不是本程序备份的引导文件，未恢复"},
         1,
         true,
         false},
        {"a boot area of another length than the program saves",
         {},
         EditItem(L"d:",
                  [](Machine& m, ManifestItem& item) {
                      auto& copy = m.files.files[ToLower(kRun + L"\\volume-d-first8k.bin")];
                      copy.resize(4096);
                      item.length = copy.size();
                      item.sha256 = *m.files.Sha256(copy);
                  }),
         {L"  失败：d: 卷的前 4096 字节 不是本程序保存的长度，未写入"},
         1,
         false,
         true},
        {"a copy that climbs out of the run folder",
         {},
         EditManifest("\td\\NTLDR\t", "\td/../../NTLDR\t"),
         {L"  失败：清单 " + kRun + L"\\manifest.txt 已损坏（清单第 4 行无法识别），不恢复任何内容"},
         2,
         false,
         false},
        {"the current files cannot be saved",
         {},
         [](Machine& m) { m.files.readOnly = {ToLower(kUndo) + L"\\d"}; },
         {L"  失败：无法备份 d:\\bootmgr 现在的内容（错误 5：error 5），未恢复",
          L"  失败：无法备份 d:\\Boot\\bcd 现在的内容（错误 5：error 5），未恢复",
          L"  失败：无法备份 d:\\NTLDR 现在的内容（错误 5：error 5），未恢复"},
         1,
         true,
         false},
        {"a drive that cannot be written",
         {},
         [](Machine& m) { m.files.readOnly = {L"d:"}; },
         {L"  失败：无法写回 d:\\bootmgr（错误 5：error 5）",
          L"  失败：无法写回 d:\\Boot\\bcd（错误 5：error 5）",
          L"  失败：无法写回 d:\\NTLDR（错误 5：error 5）",
          L"  失败：无法写回 " + volume + L"（错误 5：error 5）"},
         2,
         false,
         false},
        {"a manifest cut short",
         {},
         [](Machine& m) {
             auto& text = m.files.files[ToLower(kRun + L"\\manifest.txt")];
             text.resize(text.size() - 5);
         },
         {L"  失败：清单 " + kRun +
          L"\\manifest.txt 已损坏（清单不完整（没有结束行“end”）），不恢复任何内容"},
         2,
         false,
         false},
    };
    for (const auto& c : cases) {
        Machine m;
        Repaired(m, c.beforeRepair);
        const auto repairedLoader = m.files.files.at(L"d:\\ntldr");
        if (c.afterRepair) {
            c.afterRepair(m);
        }
        m.Start(L"-f -r");
        EXPECT_EQ(Matching(m.repairWindow.log, L"失败："), c.failures) << c.name;
        EXPECT_EQ(m.app.program.ExitCode(), c.exitCode) << c.name;
        EXPECT_EQ(m.repairWindow.log.back(),
                  c.exitCode == 2 ? L"撤销结束，未恢复任何内容！请查看上面的记录。"
                                  : L"撤销结束，但有 " + std::to_wstring(c.failures.size()) +
                                        L" 项未能恢复！请查看上面的记录。")
            << c.name;
        EXPECT_EQ(m.files.volumes.at(L"d:"),
                  c.volumeBack ? NtfsStart() : WithBootCode(NtfsStart(), 'B'))
            << c.name;
        EXPECT_EQ(m.files.files.at(L"d:\\ntldr"), c.loaderBack ? "old loader" : repairedLoader)
            << c.name;
    }
}

// The store that the running Windows holds open can be neither copied nor written: it is
// exported to be saved and imported to go back. Its transaction logs, saved when nothing held
// them, are left as they are: the import takes care of the store, and Windows holds the logs.
TEST(Restore, TheStoreWindowsRunsWithGoesBackThroughTheStoreTool) {
    const struct {
        const char* name;
        bool logs;
    } cases[] = {{"the store alone", false}, {"with its transaction logs", true}};
    for (const auto& c : cases) {
        Machine m;
        Repaired(m, [&c](Machine& before) {
            if (c.logs) {
                before.files.files[L"d:\\boot\\bcd.log"] = "old log";
                before.files.files[L"d:\\boot\\bcd.log1"] = "old log 1";
            }
        });
        m.files.held = {L"d:\\boot\\bcd", L"d:\\boot\\bcd.log", L"d:\\boot\\bcd.log1"};
        m.files.systemStore = L"d:\\Boot\\BCD";
        m.launcher.onLaunch = [&m](const LaunchRequest& request) {
            if (request.Parameters().rfind(L"/export ", 0) == 0) {
                m.files.files[ToLower(request.Parameters().substr(
                    9, request.Parameters().size() - 10))] = "new store";
            }
        };
        m.Start(L"-f -r");
        EXPECT_EQ(m.ToolRuns(), (Lines{L"bcdedit.exe /export \"" + kUndo + L"\\d\\Boot\\bcd\"",
                                       L"bcdedit.exe /import \"" + kRun + L"\\d\\Boot\\bcd\""}))
            << c.name;
        EXPECT_EQ(Matching(m.repairWindow.log, L"失败："), Lines{}) << c.name;
        EXPECT_EQ(Matching(m.repairWindow.log, L"未写回："),
                  c.logs ? (Lines{L"  未写回：d:\\Boot\\bcd.log（存储由 bcdedit.exe /import "
                                  L"导入，其事务日志被系统占用，保持原样）",
                                  L"  未写回：d:\\Boot\\bcd.log1（存储由 bcdedit.exe /import "
                                  L"导入，其事务日志被系统占用，保持原样）"})
                         : Lines{})
            << c.name;
        EXPECT_EQ(std::count(m.events.begin(), m.events.end(), L"attrib:d:\\Boot\\bcd.log"), 0)
            << c.name;
        EXPECT_EQ(m.app.program.ExitCode(), 0) << c.name;
    }
}

// A copy is checked by a digest read in pieces; it is read whole only to be put back, one at a
// time, and then only when it still has the digest checked (the manifest is read whole). The undo's
// own saves are hashed in pieces too.
TEST(Restore, CopiesAreHashedInPiecesAndReadWholeOnlyToBePutBack) {
    const struct {
        const char* name;
        bool tampered;
        Lines readWhole;
    } cases[] = {
        {"intact copies",
         false,
         {L"\\manifest.txt", L"\\d\\bootmgr", L"\\d\\boot\\bcd", L"\\d\\ntldr",
          L"\\volume-d-first8k.bin"}},
        {"a tampered copy is never read whole",
         true,
         {L"\\manifest.txt", L"\\d\\boot\\bcd", L"\\d\\ntldr", L"\\volume-d-first8k.bin"}},
    };
    for (const auto& c : cases) {
        Machine m;
        Repaired(m);
        if (c.tampered) {
            m.files.files[ToLower(kRun + L"\\d\\bootmgr")] = "planted boot manager";
        }
        m.Start(L"-f -r");
        Lines readWhole;
        for (const auto& path : m.files.wholeReads) {
            EXPECT_FALSE(path.starts_with(ToLower(kUndo))) << c.name << ": " << path;
            if (path.starts_with(ToLower(kRun) + L"\\")) {
                readWhole.push_back(path.substr(kRun.size()));
            }
        }
        EXPECT_EQ(readWhole, c.readWhole) << c.name;
    }
}

// An EFI system partition has no letter of its own: the repair gives it one for the run and keeps
// its folder on a drive that keeps its letter; the undo finds the partition again by its place on
// its disk, whatever letter it has then, or none.
TEST(Restore, AnEfiSystemPartitionIsFoundByItsPlaceOnTheDisk) {
    const VolumeIdentity esp{L"GPT {0F3A2B1C-4D5E-6F70-8192-A3B4C5D6E7F8}", 1048576, 104857600,
                             0x4A5B6C7Du};
    const std::wstring assignY = L"select disk 0\r\nselect partition 2\r\nassign letter=Y\r\n";
    Machine m;
    m.InstallInKestrixFolder();
    m.files.readOnly = {L"c:\\kestrix"};
    m.files.firmware = Firmware::Uefi;
    m.files.drives = {L"c:", L"d:"};
    m.files.Put(L"d:\\windows\\system32\\slmgr.vbs", 100);
    m.launcher.outputs[ListingCommand(0).Line()] =
        L"1 D: gpt basic-data NTFS - no 101 20581 20480 MB\r\n"
        L"2 - gpt efi-system - - no 1 101 100 MB\r\n";
    m.launcher.outputs[ListingCommand(1).Line()] = L"open disk error!\r\n";
    m.launcher.onLaunch = [&m, &esp](const LaunchRequest& request) {
        if (testing::FakeLauncher::Name(request) == L"diskpart.exe" &&
            m.files.Text(L"C:\\temp\\kestrix-diskpart.txt").find(L"assign") != std::wstring::npos) {
            m.files.drives.push_back(L"z:");
            m.files.identities[L"z:"] = esp;
            m.files.Put(L"z:\\EFI\\Boot\\bootx64.efi", 300);
        }
    };
    EXPECT_TRUE(m.Start(L"-u"));
    // Not in the root of z:, whose letter goes at the end with everything saved there.
    const std::wstring run = L"d:\\kestrix-20261207-103026";
    std::wstring problem;
    const auto items = ReadManifest(m.files.files.at(run + L"\\manifest.txt"), problem);
    ASSERT_TRUE(items) << ToUtf8(problem);
    EXPECT_EQ(items->front().source, L"z:\\EFI\\Boot\\bootx64.efi");
    EXPECT_EQ(items->front().identity, esp);

    const auto undo = [&](Machine& next, bool espThere) {
        next.files.files = m.files.files;
        next.files.names = m.files.names;
        next.files.folders = m.files.folders;
        next.files.administrators = m.files.administrators;
        next.files.ownFolder = L"C:\\kestrix";
        // A stick has z: now; the partition has no letter and gets the last free one.
        next.files.drives = {L"c:", L"d:", L"z: [STICK]"};
        next.files.media[L"z:"] = DriveMedia::Usb;
        if (espThere) {
            next.files.partitions = {{esp, {0, 2}}};
        }
        next.launcher.onLaunch = [&next, &esp](const LaunchRequest& request) {
            if (testing::FakeLauncher::Name(request) == L"diskpart.exe" &&
                next.files.Text(L"C:\\temp\\kestrix-diskpart.txt").rfind(L"select disk 0", 0) == 0) {
                next.files.drives.push_back(L"y:");
                next.files.identities[L"y:"] = esp;
            }
        };
        next.Start(L"-u -r " + run);
    };
    Machine found;
    undo(found, true);
    EXPECT_EQ(found.repairWindow.log,
              (Lines{L"正在撤销修复，按 " + run + L" ...", L"  备份时的 z: 现在是 y:（同一分区）",
                     L"  已恢复：y:\\EFI\\Boot\\bootx64.efi",
                     L"  修复时新建，未删除：y:\\EFI\\Microsoft",
                     L"  修复时新建，未删除：y:\\EFI\\Microsoft\\Boot",
                     L"", L"撤销完成！已恢复 1 项。请关闭。"}));
    EXPECT_EQ(found.exitCode, 0);
    EXPECT_EQ(found.files.FileLength(L"y:\\EFI\\Boot\\bootx64.efi"), 300);
    // Its letter goes again at the end; the run's own folder is not on it.
    const auto log = found.files.Text(L"C:\\kestrix\\kestrix-20261207-103026\\kestrix.log");
    EXPECT_LT(log.find(L"已为 磁盘 0 的分区 2（备份时的 z:）分配盘符 Y:"), log.find(L"已收回盘符 Y:"));

    Machine gone;
    undo(gone, false);
    EXPECT_EQ(Matching(gone.repairWindow.log, L"失败："),
              Lines{L"  失败：z: 现在是另一个卷（无法识别的卷，备份时是GPT "
                    L"{0F3A2B1C-4D5E-6F70-8192-A3B4C5D6E7F8} 上起点 1048576、长度 104857600 "
                    L"字节的分区（卷序列号 4A5B-6C7D）），未恢复 z:\\EFI\\Boot\\bootx64.efi"});
    EXPECT_EQ(gone.exitCode, 2);
}

TEST(Restore, PutsBackOnlyTheBootAreaOfTheSameFileSystem) {
    const std::wstring refused = L"，未写入 d: 卷的前 8192 字节";
    const std::wstring fat16 = L"FAT16、每扇区 512 字节、共 ";
    struct Case {
        const char* name;
        const char* format;
        std::uint64_t sizeMiB;
        // Changes the boot record as it is after the repair.
        std::function<void(std::string&)> change;
        std::wstring line;
        std::size_t bytesBack;
    };
    const Case cases[] = {
        {"NTFS: its 16 sectors", "mkntfs -F -Q -q", 4, {}, L"  已恢复：d: 卷的前 8192 字节", 8192},
        {"FAT32: its 12 reserved sectors",
         "mkfs.fat --invariant -a -R 12 -F 32",
         40,
         {},
         L"  已恢复：d: 卷的前 6144 字节（引导区；备份中其后的 2048 字节属于文件系统，未写回）",
         6144},
        {"FAT32 of 32 reserved sectors: no more than was saved",
         "mkfs.fat --invariant -F 32",
         40,
         {},
         L"  已恢复：d: 卷的前 8192 字节",
         8192},
        {"FAT16: its one reserved sector, not its FAT",
         "mkfs.fat --invariant -a -F 16",
         10,
         {},
         L"  已恢复：d: 卷的前 512 字节（引导区；备份中其后的 7680 字节属于文件系统，未写回）",
         512},
        {"FAT16 of another length now", "mkfs.fat --invariant -a -F 16", 10,
         // 20000 sectors.
         [](std::string& v) { v.replace(0x13, 2, "\x20\x4E"); },
         L"  失败：d: 现在的引导记录与备份时的文件系统不同（现在是" + fat16 +
             L"20000 个扇区、保留 1 个扇区、卷序列号 1234-ABCD，备份时是" + fat16 +
             L"20480 个扇区、保留 1 个扇区、卷序列号 1234-ABCD）" + refused,
         0},
        {"FAT16 formatted again since", "mkfs.fat --invariant -a -F 16", 10,
         [](std::string& v) { v.replace(0x27, 4, "\x78\x56\x34\x12"); },
         L"  失败：d: 现在的引导记录与备份时的文件系统不同（现在是" + fat16 +
             L"20480 个扇区、保留 1 个扇区、卷序列号 1234-5678，备份时是" + fat16 +
             L"20480 个扇区、保留 1 个扇区、卷序列号 1234-ABCD）" + refused,
         0},
        {"a boot record overwritten whole since", "mkfs.fat --invariant -a -F 16", 10,
         [](std::string& v) { v.replace(0, 510, 510, 'X'); },
         L"  失败：d: 现在的引导记录与备份时的文件系统不同（现在是无法识别的引导记录，备份时是" +
             fat16 + L"20480 个扇区、保留 1 个扇区、卷序列号 1234-ABCD）" + refused,
         0},
        {"a saved boot record that is not NTFS or FAT",
         nullptr,
         0,
         {},
         L"  失败：备份的 d: 引导记录不是可识别的 NTFS 或 FAT 引导记录，无法确定其中哪些字节是引导区" +
             refused,
         0},
    };
    for (const auto& c : cases) {
        const auto saved = c.format ? FormattedStart(c.format, c.sizeMiB) : std::string(8192, 'd');
        Machine m;
        Repaired(m, [&](Machine& before) { before.files.volumes[L"d:"] = saved; });
        // Files written since the repair have changed what follows the boot record.
        auto& volume = m.files.volumes.at(L"d:");
        volume.replace(512, 7680, 7680, 'F');
        if (c.change) {
            c.change(volume);
        }
        const auto current = volume;
        m.Start(L"-f -r");
        EXPECT_EQ(Matching(m.repairWindow.log, L"d: 卷的前"), Lines{c.line}) << c.name;
        EXPECT_EQ(m.app.program.ExitCode(), c.bytesBack == 0 ? 1 : 0) << c.name;
        EXPECT_EQ(m.files.volumes.at(L"d:"),
                  saved.substr(0, c.bytesBack) + current.substr(c.bytesBack))
            << c.name;
    }
}

// No file that could not be put back whole is touched, nor anything reached through a link: the
// restored bytes are written beside the file, flushed, and moved over it.
TEST(Restore, AFileGoesBackWholeAndNeverThroughALink) {
    const std::wstring link = L" 是联接点、符号链接或其他重解析点，不经由它写入）";
    const struct {
        const char* name;
        std::function<void(testing::FakeFileSystem&)> change;
        Lines failures;
        bool loaderBack;
        bool storeBack;
    } cases[] = {
        {"nothing in the way", {}, {}, true, true},
        {"a junction on the way", [](auto& f) { f.links = {L"d:\\boot"}; },
         {L"  失败：无法写回 d:\\Boot\\bcd（d:\\Boot" + link}, true, false},
        {"the file itself a link", [](auto& f) { f.links = {L"d:\\ntldr"}; },
         {L"  失败：无法写回 d:\\NTLDR（d:\\NTLDR" + link}, false, true},
        {"a disk that fills up halfway",
         [](auto& f) { f.fullAfterHalf = {L"d:\\ntldr.kestrix-new"}; },
         {L"  失败：无法写回 d:\\NTLDR（错误 112：error 112）"}, false, true},
    };
    for (const auto& c : cases) {
        Machine m;
        Repaired(m);
        const auto repaired = m.files.files;
        if (c.change) {
            c.change(m.files);
        }
        m.Start(L"-f -r");
        EXPECT_EQ(Matching(m.repairWindow.log, L"失败："), c.failures) << c.name;
        EXPECT_EQ(m.files.files.at(L"d:\\ntldr"),
                  c.loaderBack ? "old loader" : repaired.at(L"d:\\ntldr"))
            << c.name;
        EXPECT_EQ(m.files.Attributes(L"d:\\ntldr"), c.loaderBack ? kProtected : 0u) << c.name;
        EXPECT_EQ(m.files.files.at(L"d:\\boot\\bcd"),
                  c.storeBack ? "old store" : repaired.at(L"d:\\boot\\bcd"))
            << c.name;
        for (const auto& [path, bytes] : m.files.files) {
            EXPECT_FALSE(path.ends_with(L".kestrix-new")) << c.name << ": " << ToUtf8(path);
        }
    }
    // The protected loader: its bytes on the disk beside it, then its attributes cleared, then it
    // is replaced, then its attributes set.
    Machine m;
    Repaired(m);
    m.Start(L"-f -r");
    const auto at = [&](const std::wstring& event) {
        return std::find(m.events.begin(), m.events.end(), event) - m.events.begin();
    };
    const auto placed = at(L"move:d:\\NTLDR.kestrix-new>d:\\NTLDR");
    EXPECT_LT(at(L"flush:d:\\NTLDR.kestrix-new"), at(L"attrib:d:\\NTLDR"));
    EXPECT_LT(at(L"attrib:d:\\NTLDR"), placed);
    EXPECT_LT(placed, at(L"setattrib:d:\\NTLDR=" + std::to_wstring(kProtected)));
    EXPECT_LT(placed, static_cast<std::ptrdiff_t>(m.events.size()));
}

// Outside the program's folder only a run folder that an administrator made is used: one that any
// user could have made there could make the undo write the user's bytes.
TEST(Restore, UsesARunFolderElsewhereOnlyWhenAnAdministratorMadeIt) {
    const std::wstring run = L"d:\\kestrix-20261207-103026";
    const std::wstring refused = L"  失败：运行目录 " + run + L" 不是管理员创建的（";
    const AccessEntry bobMayWrite{Principal::Other, L"PC\\bob", true, false, 0x1F01FF};
    const Ownership bob{true, Principal::Other, L"PC\\bob", std::vector<AccessEntry>{bobMayWrite}};
    const std::wstring noOwners =
        L"  失败：运行目录 " + run +
        L" 所在的文件系统不记录所有者，无法确认是管理员创建的，不使用（用 -r "
        L"指明它并在窗口中确认后才使用）";
    struct Case {
        const char* name;
        std::wstring arguments;
        // The person presses "确定" in the window.
        bool confirm;
        std::function<void(testing::FakeFileSystem&)> change;
        // Empty: every item goes back.
        std::wstring failure;
    };
    const Case cases[] = {
        {"as Kestrix makes it in a drive's root", L"-f -r", false, {}, L""},
        {"owned by a user", L"-f -r", false, [&](auto& f) { f.ownership[run] = bob; },
         refused + L"所有者 PC\\bob），不使用"},
        {"made by an administrator by hand in a drive's root", L"-f -r", false,
         [&](auto& f) { f.ownership[run] = testing::FakeFileSystem::InheritedFromARoot(); },
         refused + L"所有者 BUILTIN\\Administrators，NT AUTHORITY\\Authenticated Users "
                   L"也可以写入），不使用"},
        {"a manifest a user put there", L"-r " + run, true,
         [&](auto& f) { f.ownership[run + L"\\manifest.txt"] = bob; },
         refused + L"所有者 BUILTIN\\Administrators；其中 manifest.txt 的所有者 PC\\bob），不使用"},
        {"no access list at all", L"-f -r", false,
         [&](auto& f) {
             f.ownership[run] = {true, Principal::Administrators, L"BUILTIN\\Administrators",
                                 std::nullopt};
         },
         refused +
             L"所有者 BUILTIN\\Administrators，没有访问控制列表，任何用户都可以写入），不使用"},
        {"SYSTEM's, others denied, a user's rights only over what is made in it", L"-f -r", false,
         [&](auto& f) {
             f.ownership[run] = {true, Principal::System, L"NT AUTHORITY\\SYSTEM",
                                 std::vector<AccessEntry>{
                                     {Principal::TrustedInstaller, L"NT SERVICE\\TrustedInstaller",
                                      true, false, 0x1F01FF},
                                     {Principal::Other, L"Everyone", false, false, 0x1F01FF},
                                     {Principal::Other, L"CREATOR OWNER", true, true, 0x10000000},
                                     {Principal::Other, L"BUILTIN\\Users", true, false, 0x1200A9}}};
         },
         L""},
        {"FAT, found", L"-f -r", false, [](auto& f) { f.withoutOwners = {L"d:"}; }, noOwners},
        {"FAT, found and confirmed in the window", L"-r", true,
         [](auto& f) { f.withoutOwners = {L"d:"}; }, noOwners},
        {"FAT, named with -f", L"-f -r " + run, false, [](auto& f) { f.withoutOwners = {L"d:"}; },
         noOwners},
        {"FAT, named and confirmed in the window", L"-r " + run, true,
         [](auto& f) { f.withoutOwners = {L"d:"}; }, L""},
    };
    for (const auto& c : cases) {
        Machine m;
        Repaired(m, [](Machine& before) { before.files.readOnly = {L"c:\\kestrix"}; });
        ASSERT_TRUE(m.files.FileLength(run + L"\\manifest.txt")) << c.name;
        const auto repairedLoader = m.files.files.at(L"d:\\ntldr");
        if (c.change) {
            c.change(m.files);
        }
        m.Start(c.arguments);
        if (c.confirm) {
            m.app.program.OnConfirm();
        }
        EXPECT_EQ(Matching(m.repairWindow.log, L"失败："),
                  c.failure.empty() ? Lines{} : Lines{c.failure})
            << c.name;
        EXPECT_EQ(m.app.program.ExitCode(), c.failure.empty() ? 0 : 2) << c.name;
        EXPECT_EQ(m.files.files.at(L"d:\\ntldr"), c.failure.empty() ? "old loader" : repairedLoader)
            << c.name;
    }
}

// Every right that changes a folder or what is in it, given to anybody but the administrators,
// SYSTEM or TrustedInstaller, makes a run folder one a user could have made; reading does not.
TEST(RunFolderTrust, AnyRightToChangeItCounts) {
    const Ownership manifest = testing::FakeFileSystem::AdministratorsOnly();
    const struct {
        std::uint32_t rights;
        bool inheritOnly;
        bool allows;
        FolderTrust trust;
    } cases[] = {
        {0x2, false, true, FolderTrust::Other},                 // write data, add a file
        {0x4, false, true, FolderTrust::Other},                 // append, add a folder
        {0x10, false, true, FolderTrust::Other},                // extended attributes
        {0x40, false, true, FolderTrust::Other},                // delete an entry
        {0x100, false, true, FolderTrust::Other},               // attributes
        {0x10000, false, true, FolderTrust::Other},             // delete
        {0x40000, false, true, FolderTrust::Other},             // its access list
        {0x80000, false, true, FolderTrust::Other},             // its owner
        {0x10000000, false, true, FolderTrust::Other},          // generic all
        {0x40000000, false, true, FolderTrust::Other},          // generic write
        {0x1200A9, false, true, FolderTrust::Administrators},   // read and execute
        {0x1F01FF, true, true, FolderTrust::Administrators},    // only over what is made in it
        {0x1F01FF, false, false, FolderTrust::Administrators},  // denied
    };
    for (const auto& c : cases) {
        auto folder = testing::FakeFileSystem::AdministratorsOnly();
        folder.access->push_back({Principal::Other, L"PC\\bob", c.allows, c.inheritOnly, c.rights});
        const auto verdict = JudgeRunFolder(folder, manifest);
        EXPECT_EQ(verdict.trust, c.trust) << std::hex << c.rights;
        EXPECT_EQ(verdict.writer, c.trust == FolderTrust::Other
                                      ? std::optional<std::wstring>(L"PC\\bob")
                                      : std::nullopt)
            << std::hex << c.rights;
    }
    // A file system without owners answers nothing, whoever else is named.
    EXPECT_EQ(JudgeRunFolder(Ownership{}, manifest).trust, FolderTrust::NoOwners);
}

TEST(Restore, TakesTheNewestRunFolderBesideTheProgramElseOnTheDrives) {
    const struct {
        const char* name;
        std::vector<std::wstring> present;
        std::wstring arguments;
        std::wstring chosen;
        // Drives that anybody may have written a folder to.
        std::vector<std::wstring> removable = {};
    } cases[] = {
        {"beside the program, a folder without a manifest passed over",
         {L"C:\\kestrix\\kestrix-20261201-080000\\manifest.txt",
          L"C:\\kestrix\\kestrix-20261203-080000\\manifest.txt",
          L"C:\\kestrix\\kestrix-20261205-080000\\kestrix.log",
          L"d:\\kestrix-20261206-080000\\manifest.txt"},
         L"-r",
         L"C:\\kestrix\\kestrix-20261203-080000"},
        {"a later run in the same second",
         {L"C:\\kestrix\\kestrix-20261203-080000\\manifest.txt",
          L"C:\\kestrix\\kestrix-20261203-080000-2\\manifest.txt"},
         L"-r",
         L"C:\\kestrix\\kestrix-20261203-080000-2"},
        {"none beside the program: the newest in a drive's root",
         {L"d:\\kestrix-20261201-080000\\manifest.txt",
          L"e:\\kestrix-20261202-080000\\manifest.txt", L"e:\\kestrix-20261209\\manifest.txt",
          L"e:\\old\\kestrix-20261209-080000\\manifest.txt"},
         L"-r",
         L"e:\\kestrix-20261202-080000"},
        {"none anywhere", {L"d:\\kestrix-20261201\\manifest.txt"}, L"-r", L""},
        {"in a drive's root, not one named for a time still to come",
         {L"d:\\kestrix-99991231-235959\\manifest.txt",
          L"e:\\kestrix-20261207-103027\\manifest.txt",
          L"e:\\kestrix-20261207-103026-2\\manifest.txt"},
         L"-r",
         L"e:\\kestrix-20261207-103026-2"},
        {"never from a removable or network drive",
         {L"d:\\kestrix-20261201-080000\\manifest.txt",
          L"e:\\kestrix-20261202-080000\\manifest.txt"},
         L"-r",
         L"d:\\kestrix-20261201-080000",
         {L"e:"}},
        {"a folder named without its drive is in the program's folder",
         {L"C:\\kestrix\\kestrix-20261203-080000\\manifest.txt"},
         L"-r old -n",
         L"C:\\kestrix\\old"},
        {"a quoted folder, as typed", {}, L"-r \"D:\\Saved -1\\kestrix-1\"", L"D:\\Saved -1\\kestrix-1"},
    };
    for (const auto& c : cases) {
        Machine m;
        m.InstallInKestrixFolder();
        m.files.drives = {L"c: [SYS]", L"d:", L"e:"};
        for (const auto& path : c.present) {
            m.files.Put(path, 10);
        }
        for (const auto& drive : c.removable) {
            m.files.media[drive] = DriveMedia::Usb;
        }
        EXPECT_FALSE(m.Start(c.arguments)) << c.name;
        EXPECT_EQ(m.repairWindow.partitionText, c.chosen) << c.name;
        EXPECT_EQ(m.repairWindow.instruction,
                  c.chosen.empty() ? L"没找到修复记录！请手工输入记录目录，不清楚请关闭。"
                                   : L"将按下面记录目录中的清单撤销修复，确认请点“确定”。")
            << c.name;
        // The person confirms first.
        EXPECT_TRUE(m.repairWindow.visible && !m.startWindow.visible) << c.name;
        EXPECT_FALSE(m.repairWindow.progressShown) << c.name;
    }
    // Nobody to type a folder: the program ends at once.
    Machine unattended;
    EXPECT_TRUE(unattended.Start(L"-u -r"));
    EXPECT_EQ(unattended.exitCode, 2);
}

}  // namespace
}  // namespace kestrix
