#include <gtest/gtest.h>

#include <tuple>

#include "platform/text.h"
#include "repair/manifest.h"

namespace kestrix {

bool operator==(const ManifestItem& a, const ManifestItem& b) {
    return std::tie(a.kind, a.source, a.backup, a.length, a.sha256, a.attributes, a.identity) ==
           std::tie(b.kind, b.source, b.backup, b.length, b.sha256, b.attributes, b.identity);
}

namespace {

std::string Bytes(const char* hex) {
    std::string bytes;
    for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
        bytes += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    }
    return bytes;
}

// SHA-256 of "abc" and of nothing.
constexpr char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

ManifestItem Volume(const wchar_t* drive, std::optional<VolumeIdentity> identity) {
    ManifestItem item;
    item.kind = ManifestKind::VolumeStart;
    item.source = drive;
    item.backup = L"volume-" + std::wstring(1, drive[0]) + L"-first8k.bin";
    item.length = 8192;
    item.sha256 = Bytes(kAbc);
    item.identity = std::move(identity);
    return item;
}

ManifestItem File(const wchar_t* source, const wchar_t* backup, std::uint32_t attributes,
                  std::optional<VolumeIdentity> identity = VolumeIdentity{L"MBR 1A2B3C4D", 1048576,
                                                                          104857600, 0x1A2B3C4Du}) {
    ManifestItem item;
    item.source = source;
    item.backup = backup;
    item.length = 0;
    item.sha256 = Bytes(kEmpty);
    item.attributes = attributes;
    item.identity = std::move(identity);
    return item;
}

ManifestItem Created(const wchar_t* source) {
    ManifestItem item;
    item.kind = ManifestKind::Created;
    item.source = source;
    return item;
}

const std::vector<ManifestItem> kItems = {
    Volume(L"d:", VolumeIdentity{L"MBR 1A2B3C4D", 1048576, 104857600, 0x1A2B3C4Du}),
    Volume(L"e:", VolumeIdentity{L"GPT {0F3A2B1C-4D5E-6F70-8192-A3B4C5D6E7F8}", 16777216, 2048, std::nullopt}),
    Volume(L"f:", VolumeIdentity{L"", 0, 65536, 0x00C0FFEEu}),
    Volume(L"g:", std::nullopt),
    File(L"d:\\Boot\\BCD", L"d\\Boot\\BCD", 0),
    File(L"d:\\NTLDR", L"d\\NTLDR", kAttributeReadOnly | kAttributeHidden | kAttributeSystem),
    File(L"f:\\启动\\字体 1.ttf", L"f\\启动\\字体 1.ttf", kAttributeArchive,
         VolumeIdentity{L"", 0, 65536, 0x00C0FFEEu}),
    Created(L"d:\\boot.ini"),
};

TEST(Manifest, IsWrittenAsDocumentedAndReadBack) {
    const auto text = ManifestText(kItems);
    const auto lines = SplitLines(FromUtf8(text));
    const std::wstring abc(kAbc, kAbc + 64);
    const std::wstring empty(kEmpty, kEmpty + 64);
    const std::wstring d = L"\tMBR 1A2B3C4D\t1048576\t104857600\t1A2B3C4D";
    const std::wstring f = L"\t-\t-\t65536\t00C0FFEE";
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"Kestrix manifest 2",
                         L"volume\td:\tvolume-d-first8k.bin\t8192\t" + abc + d,
                         L"volume\te:\tvolume-e-first8k.bin\t8192\t" + abc +
                             L"\tGPT {0F3A2B1C-4D5E-6F70-8192-A3B4C5D6E7F8}\t16777216\t2048\t-",
                         L"volume\tf:\tvolume-f-first8k.bin\t8192\t" + abc + f,
                         L"volume\tg:\tvolume-g-first8k.bin\t8192\t" + abc + L"\t-\t-\t-\t-",
                         L"file\td:\\Boot\\BCD\td\\Boot\\BCD\t0\t" + empty + L"\t-" + d,
                         L"file\td:\\NTLDR\td\\NTLDR\t0\t" + empty + L"\trhs" + d,
                         L"file\tf:\\启动\\字体 1.ttf\tf\\启动\\字体 1.ttf\t0\t" + empty + L"\ta" + f,
                         L"created\td:\\boot.ini",
                         L"end",
                     }));
    EXPECT_TRUE(text.ends_with("\r\nend\r\n"));
    std::wstring problem;
    EXPECT_EQ(ReadManifest(text, problem), kItems) << ToUtf8(problem);
    // A byte order mark in front, as an editor may save it, changes nothing.
    EXPECT_EQ(ReadManifest("\xEF\xBB\xBF" + text, problem), kItems) << ToUtf8(problem);
    // A manifest of the first version has no volume for its files and no serial numbers.
    const auto first = ToUtf8(L"Kestrix manifest 1\r\nvolume\td:\tvolume-d-first8k.bin\t8192\t" +
                              abc + L"\tMBR 1A2B3C4D\t1048576\t104857600\r\nfile\td:\\NTLDR\t" +
                              L"d\\NTLDR\t0\t" + empty + L"\trhs\r\nend\r\n");
    auto volume = kItems[0];
    volume.identity->serial.reset();
    EXPECT_EQ(ReadManifest(first, problem),
              (std::vector<ManifestItem>{volume, File(L"d:\\NTLDR", L"d\\NTLDR",
                                                      kAttributeReadOnly | kAttributeHidden |
                                                          kAttributeSystem,
                                                      std::nullopt)}))
        << ToUtf8(problem);
}

TEST(Manifest, ADamagedOneIsRefusedWithItsReason) {
    const std::string good = ManifestText({kItems[0], kItems[5]});
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string line2 = "清单第 2 行无法识别";
    const std::string line3 = "清单第 3 行无法识别";
    const struct {
        const char* name;
        std::string text;
        std::string problem;
    } cases[] = {
        {"empty", "", "清单的第一行不是“Kestrix manifest 2”"},
        {"another header", replaced("manifest 2", "manifest 3"),
         "清单的第一行不是“Kestrix manifest 2”"},
        {"cut short", good.substr(0, good.size() - 20), "清单不完整（没有结束行“end”）"},
        {"a line after the end", good + "file\r\n", "清单不完整（没有结束行“end”）"},
        {"unknown kind", replaced("file\t", "folder\t"), line3},
        {"a digit missing from the digest", replaced("ba7816bf", "ba7816b"), line2},
        {"not a hex digit", replaced("ba7816bf", "ba7816bg"), line2},
        {"a length that is no number", replaced("\t8192\t", "\t8k\t"), line2},
        {"a field missing", replaced("\t104857600", ""), line2},
        {"half an identity", replaced("\t1048576\t", "\t-\t"), line2},
        {"a volume that is no drive", replaced("\td:\tvolume", "\td:\\\tvolume"), line2},
        {"a file without its drive", replaced("\td:\\NTLDR\t", "\t\\NTLDR\t"), line3},
        {"a copy outside the run folder", replaced("\td\\NTLDR\t", "\t..\\..\\NTLDR\t"), line3},
        {"a copy on another drive", replaced("\td\\NTLDR\t", "\tc:\\NTLDR\t"), line3},
        {"a copy that climbs out with the other separator",
         replaced("\td\\NTLDR\t", "\td/../../NTLDR\t"), line3},
        {"a serial number that is no hex", replaced("\t1A2B3C4D\r\n", "\t1A2B3C4G\r\n"), line2},
        {"an unknown attribute", replaced("\trhs\t", "\trhx\t"), line3},
    };
    for (const auto& c : cases) {
        std::wstring problem;
        EXPECT_EQ(ReadManifest(c.text, problem), std::nullopt) << c.name;
        EXPECT_EQ(ToUtf8(problem), c.problem) << c.name;
    }
}

}  // namespace
}  // namespace kestrix
