#pragma once
// A boot store (BCD) read from its key tree: Objects\{guid}\Description\Type says what an object
// is, Objects\{guid}\Elements\XXXXXXXX\Element holds each of its settings, named by its element
// type number, whose format nibble says how the value is kept. The same code reads a store file
// decoded as a hive and the store that the running Windows holds, read through the registry.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/key_tree.h"

namespace kestrix {

// Element types, by their published numbers.
inline constexpr std::uint32_t kBcdDevice = 0x11000001;            // device
inline constexpr std::uint32_t kBcdPath = 0x12000002;              // path
inline constexpr std::uint32_t kBcdDescription = 0x12000004;       // description
inline constexpr std::uint32_t kBcdRecoverySequence = 0x14000008;  // recoverysequence
inline constexpr std::uint32_t kBcdOsDevice = 0x21000001;          // osdevice
inline constexpr std::uint32_t kBcdSystemRoot = 0x22000002;        // systemroot, hiberfile path
inline constexpr std::uint32_t kBcdDefault = 0x23000003;           // default
inline constexpr std::uint32_t kBcdDisplayOrder = 0x24000001;      // displayorder
inline constexpr std::uint32_t kBcdTimeout = 0x25000004;           // timeout
inline constexpr std::uint32_t kBcdRamdiskSdiDevice = 0x31000003;  // ramdisksdidevice
inline constexpr std::uint32_t kBcdRamdiskSdiPath = 0x32000004;    // ramdisksdipath

// What an object is, from its type number.
enum class BcdKind {
    BootManager,
    FirmwareBootManager,
    WindowsLoader,
    Resume,
    MemoryTest,
    LegacyLoader,  // NTLDR, for Windows XP/2003
    BootSector,
    FirmwareApplication,
    OtherApplication,
    Settings,       // settings inherited by others
    DeviceOptions,  // a ramdisk's or another device's options
    Unknown,
};

BcdKind KindOf(std::uint32_t objectType);

// Where a device element points.
enum class DeviceKind {
    Partition,  // a partition: MBR disk signature and offset, or GPT disk and partition GUIDs
    Boot,       // the device the boot manager itself was started from
    Unknown,    // anything else (a virtual disk, a network, a locate rule): kept raw
};

struct BcdDevice {
    DeviceKind kind = DeviceKind::Unknown;
    bool gpt = false;
    // The GPT disk's GUID (16 bytes) or the MBR disk's signature (4 bytes).
    std::string disk;
    // The GPT partition's unique GUID (16 bytes); for MBR, its offset on the disk in bytes.
    std::string partition;
    std::uint64_t offset = 0;
    // A ramdisk loaded from this file of the partition (or boot device) above; empty for the
    // partition itself.
    std::wstring ramdiskImage;
    // The element's bytes, for an unknown device.
    std::string raw;

    bool operator==(const BcdDevice&) const = default;
};

// Nothing when the bytes are shorter than a device's header; an unknown device otherwise.
std::optional<BcdDevice> DecodeBcdDevice(std::string_view bytes);

struct BcdElement {
    std::uint32_t type = 0;
    // By the type's format: a device, a text (string or object GUID), a list of objects,
    // integers (one, or a list), a boolean (an integer of 0 or 1).
    std::optional<BcdDevice> device;
    std::wstring text;
    std::vector<std::wstring> objects;
    std::vector<std::uint64_t> integers;
    // A value whose registry type does not fit its format, kept as its bytes.
    std::optional<KeyValue> raw;

    bool operator==(const BcdElement&) const = default;
};

struct BcdObject {
    std::wstring id;  // "{xxxxxxxx-…}" as the store names it
    std::uint32_t type = 0;
    std::vector<BcdElement> elements;

    const BcdElement* Find(std::uint32_t type) const;
};

struct BcdStore {
    std::vector<BcdObject> objects;

    // The object of that id, compared without regard to case.
    const BcdObject* Find(std::wstring_view id) const;
};

// Nothing when the tree has no Objects key; an object or element key of another shape is
// skipped.
std::optional<BcdStore> ReadBcd(const KeyTree& tree);

// bcdedit's name for a well-known object ("{bootmgr}"); nothing for any other.
std::optional<std::wstring> WellKnownName(std::wstring_view id);

}  // namespace kestrix
