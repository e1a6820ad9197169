// The hive decoder and the boot store over it: the real stores and stores written with hivex at
// test time are decoded whole and compared with what hivexml, an independent reader, sees in
// them; damaged hives are refused; objects, elements and devices are named from the store.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fakes.h"
#include "platform/bytes.h"
#include "platform/text.h"
#include "store/bcd.h"
#include "store/hive.h"
#include "store/store_file.h"
#include "stores.h"

namespace kestrix {
namespace {

using testing::CommandOutput;
using testing::StoreBytes;
using testing::StorePath;

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex += digits[static_cast<unsigned char>(c) >> 4];
        hex += digits[c & 0xF];
    }
    return hex;
}

std::wstring Utf16(std::string_view bytes) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(Le16(bytes, i));
    }
    return text;
}

// A value as hive_listing.py writes what hivexml shows of it.
std::string Shown(const KeyValue& value) {
    switch (value.type) {
        case kRegistryString: {
            const auto text = Utf16(value.data);
            return ToUtf8(text.substr(0, text.find(L'\0')));
        }
        case kRegistryDword:
            return value.data.size() == 4 ? std::to_string(Le32(value.data, 0)) : Hex(value.data);
        case kRegistryMultiString: {
            std::string joined;
            for (const auto& piece : SplitAll(Utf16(value.data), std::wstring_view(L"\0", 1))) {
                if (!piece.empty()) {
                    joined += (joined.empty() ? "" : "|") + ToUtf8(piece);
                }
            }
            return joined;
        }
        default:
            return Hex(value.data);
    }
}

void List(const Hive& hive, std::size_t index, const std::string& path, std::string& out) {
    out += "key " + path + "\n";
    for (const auto& [name, value] : hive.keys[index].values) {
        out += "value " + path + " " + ToUtf8(name) + " " + std::to_string(value.type) + " " +
               Shown(value) + "\n";
    }
    for (const auto child : hive.keys[index].subkeys) {
        List(hive, child, path + "\\" + ToUtf8(hive.keys[child].name), out);
    }
}

std::optional<Hive> Decode(const std::string& name) {
    return DecodeHive(StoreBytes(name));
}

std::optional<BcdStore> Store(const std::string& name) {
    auto hive = Decode(name);
    return hive ? ReadBcd(HiveTree(std::move(*hive))) : std::nullopt;
}

const std::string kReal[] = {"windows10-uefi-gpt.bcd", "winpe-mbr-boot.bcd", "winpe-efi-x64.bcd"};

TEST(HiveDecoder, SeesWhatHivexmlSees) {
    std::vector<std::string> stores(std::begin(kReal), std::end(kReal));
    stores.insert(stores.end(),
                  {"mbr.bcd", "missing.bcd", "dirty.bcd", "indexes.bcd", "without-recovery.bcd"});
    for (const auto& store : stores) {
        SCOPED_TRACE(store);
        const auto hive = Decode(store);
        ASSERT_TRUE(hive);
        std::string listed;
        List(*hive, 0, ToUtf8(hive->keys[0].name), listed);
        EXPECT_EQ(listed, CommandOutput("/usr/bin/python3 " + testing::kStoreScripts +
                                        "/hive_listing.py " + StorePath(store)));
    }
}

TEST(HiveDecoder, EveryIndexKindAndBigValue) {
    // hivex writes "lh" indexes; the real stores hold "lf"; indexes.bcd "ri" over "li" and "lf",
    // and its big values as "db" segments and as one cell.
    const auto bytes = StoreBytes("indexes.bcd");
    for (const char* signature : {"lf", "lh", "li", "ri", "db"}) {
        EXPECT_NE(bytes.find(signature), std::string::npos) << signature;
    }
    const auto hive = DecodeHive(bytes);
    ASSERT_TRUE(hive);
    const HiveTree tree(*hive);
    const KeyPath description{L"Objects", L"{e2a1b3c4-0000-4000-8000-000000000001}",
                              L"Description"};
    EXPECT_EQ(tree.Value(description, L"big")->data.size(), 251u * 160);
    EXPECT_EQ(tree.Value(description, L"Large")->data.size(), 249u * 80);
    EXPECT_EQ(tree.Subkeys({L"OBJECTS"})->size(), 2u);
    EXPECT_FALSE(tree.Subkeys({L"Objects", L"none"}));
}

TEST(HiveDecoder, DirtyBaseBlock) {
    const std::pair<std::string, bool> cases[] = {
        {kReal[0], false}, {kReal[1], false}, {"mbr.bcd", false}, {"dirty.bcd", true}};
    for (const auto& [store, dirty] : cases) {
        const auto hive = Decode(store);
        ASSERT_TRUE(hive) << store;
        EXPECT_EQ(hive->dirty, dirty) << store;
    }
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

TEST(HiveDecoder, RefusesDamagedHives) {
    const auto real = StoreBytes(kReal[1]);
    const std::uint32_t root = Le32(real, 36);
    const std::size_t rootCell = 4096 + root;
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"too short for a base block", [](std::string& b) { b.resize(4000); }},
        {"no signature", [](std::string& b) { b[0] = 'x'; }},
        {"a version 2 hive", [](std::string& b) { Put32(b, 20, 2); }},
        {"a log file, not the primary", [](std::string& b) { Put32(b, 28, 1); }},
        {"bins past the file's end", [](std::string& b) { b.resize(b.size() - 4096); }},
        {"root offset outside the bins", [](std::string& b) { Put32(b, 36, 0x7FFFFFF8); }},
        {"root offset not aligned", [root](std::string& b) { Put32(b, 36, root + 4); }},
        {"root cell free", [rootCell](std::string& b) { Put32(b, rootCell, 0x60); }},
        {"root cell longer than the bins",
         [rootCell](std::string& b) { Put32(b, rootCell, 0x80000008); }},
        {"root not a key node", [rootCell](std::string& b) { b[rootCell + 4] = 'v'; }},
        {"key name past its cell", [rootCell](std::string& b) { b[rootCell + 4 + 0x48] = '\xFF'; }},
        {"subkey count beyond its index",
         [rootCell](std::string& b) { Put32(b, rootCell + 4 + 0x14, 1000); }},
        {"subkey index pointing back at the root",
         [root, rootCell, &real](std::string& b) {
             const auto index = 4096 + Le32(real, rootCell + 4 + 0x1C);
             Put32(b, index + 8, root);
         }},
        {"value count beyond its list",
         [rootCell](std::string& b) { Put32(b, rootCell + 4 + 0x24, 100000); }},
    };
    for (const auto& [what, damage] : cases) {
        auto bytes = real;
        damage(bytes);
        EXPECT_FALSE(DecodeHive(bytes)) << what;
    }
}

TEST(BcdStore, ObjectsByKindAndWellKnownName) {
    const auto store = Store(kReal[0]);
    ASSERT_TRUE(store);
    const std::tuple<const wchar_t*, BcdKind, std::optional<std::wstring>> cases[] = {
        {L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}", BcdKind::BootManager, L"{bootmgr}"},
        {L"{A5A30FA2-3D06-4E9F-B5F4-A01DF9D1FCBA}", BcdKind::FirmwareBootManager, L"{fwbootmgr}"},
        {L"{b2721d73-1db4-4c62-bf78-c548a880142d}", BcdKind::MemoryTest, L"{memdiag}"},
        {L"{e018a2d0-b134-11ea-95b2-81f0ac71b75b}", BcdKind::WindowsLoader, std::nullopt},
        {L"{e018a2cf-b134-11ea-95b2-81f0ac71b75b}", BcdKind::Resume, std::nullopt},
        {L"{e018a2d2-b134-11ea-95b2-81f0ac71b75b}", BcdKind::DeviceOptions, std::nullopt},
        {L"{7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}", BcdKind::Settings, L"{globalsettings}"},
        {L"{fa913369-a5aa-11ea-887b-806e6f6e6963}", BcdKind::FirmwareApplication, std::nullopt},
    };
    for (const auto& [id, kind, name] : cases) {
        const auto* object = store->Find(id);
        ASSERT_TRUE(object) << ToUtf8(id);
        EXPECT_EQ(KindOf(object->type), kind) << ToUtf8(id);
        EXPECT_EQ(WellKnownName(id), name) << ToUtf8(id);
    }
    EXPECT_EQ(KindOf(0x10300006), BcdKind::LegacyLoader);
    EXPECT_EQ(KindOf(0x10400008), BcdKind::BootSector);
    EXPECT_EQ(store->objects.size(), 16u);
}

std::string Guid(const char* text) {
    // "{aabbccdd-eeff-…}" in the order Windows stores a GUID.
    std::string hex;
    for (const char* p = text; *p; ++p) {
        if (std::isxdigit(static_cast<unsigned char>(*p))) {
            hex += *p;
        }
    }
    std::string bytes;
    for (std::size_t i = 0; i < 32; i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    std::swap(bytes[0], bytes[3]);
    std::swap(bytes[1], bytes[2]);
    std::swap(bytes[4], bytes[5]);
    std::swap(bytes[6], bytes[7]);
    return bytes;
}

TEST(BcdStore, ElementsAndDevices) {
    const auto real = Store(kReal[0]);
    const auto pe = Store(kReal[2]);
    const auto mbr = Store("mbr.bcd");
    const auto missing = Store("missing.bcd");
    ASSERT_TRUE(real && pe && mbr && missing);
    const auto* manager = real->Find(L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}");
    EXPECT_EQ(manager->Find(kBcdDefault)->text, L"{e018a2d0-b134-11ea-95b2-81f0ac71b75b}");
    EXPECT_EQ(manager->Find(kBcdTimeout)->integers, std::vector<std::uint64_t>{3});
    EXPECT_EQ(real->Find(L"{a5a30fa2-3d06-4e9f-b5f4-a01df9d1fcba}")
                  ->Find(kBcdDisplayOrder)
                  ->objects.size(),
              3u);
    const auto* loader = real->Find(L"{e018a2d0-b134-11ea-95b2-81f0ac71b75b}");
    EXPECT_EQ(loader->Find(kBcdPath)->text, L"\\WINDOWS\\system32\\winload.efi");
    EXPECT_EQ(loader->Find(kBcdRecoverySequence)->objects,
              std::vector<std::wstring>{L"{e018a2d1-b134-11ea-95b2-81f0ac71b75b}"});
    EXPECT_EQ(loader->Find(0x16000009)->integers, std::vector<std::uint64_t>{1});

    BcdDevice windows{DeviceKind::Partition,
                      true,
                      Guid("{5541e87d-91a5-4f2b-ad43-a0345c199e9b}"),
                      Guid("{9d4a7cb0-ab9d-4d71-961f-50f1d9c9252f}"),
                      0,
                      L"",
                      ""};
    BcdDevice recovery = windows;
    recovery.partition = Guid("{8c10b83e-8c9e-461e-aaf0-40974b9adf12}");
    recovery.ramdiskImage = L"\\Recovery\\WindowsRE\\Winre.wim";
    BcdDevice boot{DeviceKind::Boot, false, "", "", 0, L"", ""};
    BcdDevice bootImage = boot;
    bootImage.ramdiskImage = L"\\sources\\boot.wim";
    BcdDevice system{DeviceKind::Partition, false, "\x4D\x3C\x2B\x1A", "", 105906176, L"", ""};
    BcdDevice gone{DeviceKind::Partition,
                   true,
                   Guid("{11111111-2222-3333-4444-555555555555}"),
                   Guid("{bbbbbbbb-cccc-dddd-eeee-ffffffffffff}"),
                   0,
                   L"",
                   ""};
    const std::tuple<const BcdStore*, const wchar_t*, std::uint32_t, BcdDevice> devices[] = {
        {&*real, L"{e018a2d0-b134-11ea-95b2-81f0ac71b75b}", kBcdOsDevice, windows},
        {&*real, L"{e018a2d1-b134-11ea-95b2-81f0ac71b75b}", kBcdOsDevice, recovery},
        {&*pe, L"{7619dcc9-fafe-11d9-b411-000476eba25f}", kBcdDevice, bootImage},
        {&*pe, L"{b2721d73-1db4-4c62-bf78-c548a880142d}", kBcdDevice, boot},
        {&*mbr, L"{e2a1b3c4-0000-4000-8000-000000000001}", kBcdOsDevice, system},
        {&*missing, L"{e2a1b3c4-0000-4000-8000-000000000001}", kBcdDevice, gone},
    };
    for (const auto& [store, id, type, device] : devices) {
        EXPECT_EQ(store->Find(id)->Find(type)->device, device) << ToUtf8(id);
    }
    // Anything else is kept raw: a device of another type, a value of the wrong registry type.
    std::string vhd(16, '\0');
    vhd += std::string("\x09\0\0\0\0\0\0\0\x10\0\0\0\0\0\0\0", 16);
    EXPECT_EQ(DecodeBcdDevice(vhd)->kind, DeviceKind::Unknown);
    EXPECT_EQ(DecodeBcdDevice(vhd)->raw, vhd);
    EXPECT_FALSE(DecodeBcdDevice(std::string(31, '\0')));
    const auto* empty = missing->Find(L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}");
    EXPECT_TRUE(empty->Find(kBcdDisplayOrder)->objects.empty());
    EXPECT_FALSE(missing->Find(empty->Find(kBcdDefault)->text));
}

// The Windows RE entry that the repair keeps across bcdboot /bootex goes back into a command
// line: only a whole GUID is taken.
TEST(StoreFile, DefaultRecoverySequence) {
    EXPECT_EQ(DefaultRecoverySequence(*Store("windows10-uefi-gpt.bcd")),
              L"{e018a2d1-b134-11ea-95b2-81f0ac71b75b}");
    EXPECT_FALSE(DefaultRecoverySequence(*Store("without-recovery.bcd")));
    EXPECT_FALSE(DefaultRecoverySequence(*Store("winpe-efi-x64.bcd")));
    EXPECT_FALSE(DefaultRecoverySequence(*Store("missing.bcd")));
    const std::wstring guid = L"{4c5b2c5e-0b6a-11ef-9a1b-b8aeed7f3a21}";
    for (const auto& [value, taken] : std::vector<std::pair<std::wstring, bool>>{
             {guid, true}, {guid + L" & calc", false}, {L"{default}", false}, {L"", false}}) {
        auto store = *Store("windows10-uefi-gpt.bcd");
        for (auto& object : store.objects) {
            for (auto& element : object.elements) {
                if (element.type == kBcdRecoverySequence) {
                    element.objects = {value};
                }
            }
        }
        EXPECT_EQ(DefaultRecoverySequence(store).has_value(), taken) << ToUtf8(value);
    }
}

// After bcdboot: the default entry must be a Windows loader on the partition of the Windows it
// was made for, with the firmware's winload and \\Windows; a drive whose partition Windows cannot
// tell is not checked.
TEST(StoreFile, DefaultEntryStartsTheWindowsOnItsPartition) {
    const std::string windows10Partition = Guid("{9d4a7cb0-ab9d-4d71-961f-50f1d9c9252f}");
    const VolumeIdentity gpt{L"GPT {5541E87D-91A5-4F2B-AD43-A0345C199E9B}", 1048576, 1u << 30, 1};
    const VolumeIdentity mbr{L"MBR 1A2B3C4D", 105906176, 1u << 30, 1};
    const struct {
        const char* name;
        const char* store;
        std::optional<VolumeIdentity> identity;
        const wchar_t* partitionDrive;  // where the store's GPT partition is; nullptr: nowhere
        bool uefi;
        DefaultCheck check;
    } cases[] = {
        {"its GPT partition", "windows10-uefi-gpt.bcd", gpt, L"f:", true, DefaultCheck::Starts},
        {"another drive's partition", "windows10-uefi-gpt.bcd", gpt, L"g:", true,
         DefaultCheck::Elsewhere},
        {"a partition no disk has", "windows10-uefi-gpt.bcd", gpt, nullptr, true,
         DefaultCheck::Elsewhere},
        {"UEFI's winload asked of BIOS", "windows10-uefi-gpt.bcd", gpt, L"f:", false,
         DefaultCheck::Elsewhere},
        {"a drive Windows cannot place", "windows10-uefi-gpt.bcd",
         VolumeIdentity{L"", 0, 1u << 30, 1}, L"f:", true, DefaultCheck::CannotTell},
        {"its MBR partition", "mbr.bcd", mbr, nullptr, false, DefaultCheck::Starts},
        {"another offset", "mbr.bcd", VolumeIdentity{L"MBR 1A2B3C4D", 1048576, 1, 1}, nullptr,
         false, DefaultCheck::Elsewhere},
        {"a ramdisk", "winpe-efi-x64.bcd", gpt, L"f:", true, DefaultCheck::Elsewhere},
        {"a default naming nothing", "missing.bcd", gpt, L"f:", true, DefaultCheck::Elsewhere},
    };
    for (const auto& c : cases) {
        testing::Events events;
        testing::FakeFileSystem volumes{events};
        volumes.identities[L"f:"] = c.identity;
        if (c.partitionDrive) {
            volumes.partitionIds[windows10Partition] = {{0, 3},
                                                        DriveLetter::Parse(c.partitionDrive)};
        }
        EXPECT_EQ(CheckDefaultEntry(*Store(c.store), volumes, *DriveLetter::Parse(L"f:"), c.uefi),
                  c.check)
            << c.name;
    }
}

}  // namespace
}  // namespace kestrix
