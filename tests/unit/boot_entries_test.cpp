// The firmware's boot entries: those OVMF keeps, those Windows and installers write, and bytes
// that are no entry at all.
#include "diagnosis/boot_entries.h"

#include <gtest/gtest.h>

#include <ostream>

#include "load_options.h"
#include "secure_boot_data.h"

namespace kestrix {

void PrintTo(const LoadOption& o, std::ostream* os) {
    *os << "{active " << o.active << ", target " << static_cast<int>(o.target) << ", gpt " << o.gpt
        << ", number " << o.partitionNumber << ", " << o.description.size()
        << "-character description, " << o.file.size() << "-character file}";
}

namespace {

using testing::FileNode;
using testing::HardDriveNode;
using testing::kEndOfPath;
using testing::kEspGuid;
using testing::LoadOptionBytes;
using testing::PathNode;

const std::string kPciRoot = PathNode(2, 1, std::string("\xd0\x41\x03\x0a\0\0\0\0", 8));
const std::string kFirmwareFile = PathNode(4, 6, std::string(16, 'f'));

LoadOption Partition(bool active, std::wstring description, bool gpt, std::string signature,
                     std::wstring file) {
    return {active, std::move(description), LoadTarget::Partition, gpt, std::move(signature),
            1,      std::move(file)};
}

TEST(BootEntries, NamesWhereEachEntryLeads) {
    const auto bootmgfw = FileNode(u"\\EFI\\Microsoft\\Boot\\bootmgfw.efi");
    const struct {
        const char* name;
        std::string bytes;
        LoadOption expected;
    } cases[] = {
        {"Windows' own: a GPT partition and the file",
         LoadOptionBytes(1, u"Windows Boot Manager",
                         HardDriveNode(1, kEspGuid, 2) + bootmgfw + kEndOfPath),
         Partition(true, L"Windows Boot Manager", true, kEspGuid,
                   L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi")},
        {"a whole path from the root bridge, inactive",
         LoadOptionBytes(0, u"debian",
                         kPciRoot + HardDriveNode(1, kEspGuid, 2) +
                             FileNode(u"\\EFI\\debian\\shimx64.efi") + kEndOfPath),
         Partition(false, L"debian", true, kEspGuid, L"\\EFI\\debian\\shimx64.efi")},
        {"a path in two pieces",
         LoadOptionBytes(1, u"split",
                         HardDriveNode(1, kEspGuid, 2) + FileNode(u"\\EFI\\Boot") +
                             FileNode(u"bootx64.efi") + kEndOfPath),
         Partition(true, L"split", true, kEspGuid, L"\\EFI\\Boot\\bootx64.efi")},
        {"an MBR disk's partition",
         LoadOptionBytes(1, u"mbr", HardDriveNode(1, "\x4d\x3c\x2b\x1a", 1) + kEndOfPath),
         Partition(true, L"mbr", false, "\x4d\x3c\x2b\x1a", L"")},
        {"a partition without a signature leads nowhere known",
         LoadOptionBytes(1, u"none", HardDriveNode(1, "", 0) + kEndOfPath),
         {true, L"none", LoadTarget::OtherDevice, false, "", 0, L""}},
        {"a program of the firmware",
         LoadOptionBytes(1, u"Setup", kFirmwareFile + kEndOfPath),
         {true, L"Setup", LoadTarget::Firmware, false, "", 0, L""}},
        {"only the first instance counts",
         LoadOptionBytes(
             1, u"first",
             kPciRoot + PathNode(0x7F, 0x01, "") + HardDriveNode(1, kEspGuid, 2) + kEndOfPath),
         {true, L"first", LoadTarget::OtherDevice, false, "", 0, L""}},
        {"optional data after the path is not the path's",
         LoadOptionBytes(1, u"data", kFirmwareFile) + "WINDOWS\x01\0\0\0",
         {true, L"data", LoadTarget::Firmware, false, "", 0, L""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeLoadOption(c.bytes), c.expected) << c.name;
    }
}

TEST(BootEntries, RefusesBytesThatAreNoEntry) {
    const auto whole = LoadOptionBytes(1, u"x", HardDriveNode(1, kEspGuid, 2) + kEndOfPath);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"shorter than its header", whole.substr(0, 5)},
        {"a description without its end", whole.substr(0, 7)},
        {"a path longer than the bytes", whole.substr(0, whole.size() - 1)},
        {"a node shorter than its header",
         LoadOptionBytes(1, u"x", std::string("\x04\x01\x02\0", 4))},
        {"a node longer than the path",
         LoadOptionBytes(1, u"x", std::string("\x04\x04\x09\0\0\0", 6))},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeLoadOption(c.bytes), std::nullopt) << c.name;
    }
    EXPECT_EQ(DecodeBootOrder(std::string("\x03\0\x00\0\x01\x10\x07", 7)),
              (std::vector<std::uint16_t>{3, 0, 0x1001}));
}

// The entries OVMF made for itself: its setup pages and shell, and the emulated disk.
TEST(BootEntries, ReadsOvmfsOwn) {
    const auto store = testing::ReadBytes(testing::kOvmfVariables);
    if (store.empty()) {
        GTEST_SKIP() << testing::kOvmfVariables << " is missing (Debian's ovmf package)";
    }
    const std::string global("\x61\xdf\xe4\x8b\xca\x93\xd2\x11\xaa\x0d\x00\xe0\x98\x03\x2b\x8c",
                             16);
    const struct {
        const char* name;
        LoadOption expected;
    } cases[] = {
        {"Boot0000", {true, L"UiApp", LoadTarget::Firmware, false, "", 0, L""}},
        {"Boot0001",
         {true, L"UEFI QEMU HARDDISK QM00001 ", LoadTarget::OtherDevice, false, "", 0, L""}},
        {"Boot0002", {true, L"EFI Internal Shell", LoadTarget::Firmware, false, "", 0, L""}},
    };
    for (const auto& c : cases) {
        const auto bytes = testing::OvmfVariable(store, c.name, global);
        ASSERT_TRUE(bytes) << c.name;
        EXPECT_EQ(DecodeLoadOption(*bytes), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace kestrix
