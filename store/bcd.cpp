#include "store/bcd.h"

#include <array>

#include "platform/bytes.h"
#include "platform/text.h"

namespace kestrix {

namespace {

// A device element: a GUID naming the device's options object, then the device's descriptor:
// its type, flags, length (the header's 16 bytes included) and a reserved field.
constexpr std::size_t kOptionsGuid = 16;
constexpr std::size_t kDescriptorHeader = 16;
constexpr std::uint32_t kDeviceBlockIo = 0;
constexpr std::uint32_t kDeviceBoot = 5;
constexpr std::uint32_t kDevicePartition = 6;
// A partition's body: the partition (GUID, or MBR offset) in 16 bytes, 4 bytes of nothing, its
// style at 20, the disk (GUID, or MBR signature) at 24.
constexpr std::size_t kPartitionBody = 56;
constexpr std::size_t kPartitionStyle = 20;
constexpr std::uint32_t kStyleGpt = 0;
constexpr std::uint32_t kStyleMbr = 1;
// A ramdisk is a block I/O device of type 3, whose image is a file: after the type, 20 bytes of
// the ramdisk's own settings, then the file: a version, its length, a type, the device holding
// it and its path.
constexpr std::uint32_t kBlockIoRamdisk = 3;
constexpr std::size_t kRamdiskFile = 4 + 20;
constexpr std::size_t kFileHeader = 12;

// The element's value formats: the type number's bits 24 to 27.
enum Format : std::uint32_t {
    kFormatDevice = 1,
    kFormatString = 2,
    kFormatObject = 3,
    kFormatObjectList = 4,
    kFormatInteger = 5,
    kFormatBoolean = 6,
    kFormatIntegerList = 7,
};

std::wstring Utf16(std::string_view bytes) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(Le16(bytes, i));
    }
    return text;
}

// A partition or the boot device from its descriptor; nested ramdisks are not followed.
BcdDevice DecodeDescriptor(std::string_view descriptor, bool nested) {
    BcdDevice device;
    if (descriptor.size() < kDescriptorHeader || Le32(descriptor, 8) < kDescriptorHeader ||
        Le32(descriptor, 8) > descriptor.size()) {
        return device;
    }
    const auto type = Le32(descriptor, 0);
    const auto body = descriptor.substr(kDescriptorHeader, Le32(descriptor, 8) - kDescriptorHeader);
    if (type == kDeviceBoot) {
        device.kind = DeviceKind::Boot;
    } else if (type == kDevicePartition && body.size() >= kPartitionBody &&
               (Le32(body, kPartitionStyle) == kStyleGpt ||
                Le32(body, kPartitionStyle) == kStyleMbr)) {
        device.kind = DeviceKind::Partition;
        device.gpt = Le32(body, kPartitionStyle) == kStyleGpt;
        device.disk = std::string(body.substr(24, device.gpt ? 16 : 4));
        if (device.gpt) {
            device.partition = std::string(body.substr(0, 16));
        } else {
            device.offset = Le64(body, 0);
        }
    } else if (type == kDeviceBlockIo && !nested && body.size() >= kRamdiskFile + kFileHeader &&
               Le32(body, 0) == kBlockIoRamdisk) {
        const auto file = body.substr(kRamdiskFile);
        const std::size_t length = Le32(file, 4);
        if (length < kFileHeader || length > file.size()) {
            return device;
        }
        const auto inner = file.substr(kFileHeader, length - kFileHeader);
        device = DecodeDescriptor(inner, true);
        if (device.kind == DeviceKind::Unknown || Le32(inner, 8) > inner.size()) {
            return BcdDevice{};
        }
        auto path = Utf16(inner.substr(Le32(inner, 8)));
        path.resize(std::min(path.size(), path.find(L'\0')));
        device.ramdiskImage = path;
    }
    return device;
}

std::vector<std::wstring> Strings(std::string_view bytes) {
    std::vector<std::wstring> strings;
    for (const auto& piece : SplitAll(Utf16(bytes), std::wstring_view(L"\0", 1))) {
        if (!piece.empty()) {
            strings.push_back(piece);
        }
    }
    return strings;
}

std::optional<std::uint32_t> HexNumber(std::wstring_view text) {
    if (text.size() != 8) {
        return std::nullopt;
    }
    std::uint32_t number = 0;
    for (const wchar_t c : text) {
        const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                          : c >= L'a' && c <= L'f' ? c - L'a' + 10
                          : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                   : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        number = number << 4 | static_cast<std::uint32_t>(digit);
    }
    return number;
}

BcdElement DecodeElement(std::uint32_t type, KeyValue value) {
    BcdElement element;
    element.type = type;
    const auto format = type >> 24 & 0xF;
    const bool text = value.type == kRegistryString;
    const bool binary = value.type == kRegistryBinary;
    if (format == kFormatDevice && binary) {
        element.device = DecodeBcdDevice(value.data);
    } else if ((format == kFormatString || format == kFormatObject) && text) {
        auto strings = Strings(value.data);
        element.text = strings.empty() ? std::wstring() : strings.front();
    } else if (format == kFormatObjectList && value.type == kRegistryMultiString) {
        element.objects = Strings(value.data);
    } else if ((format == kFormatInteger || format == kFormatBoolean) && binary &&
               value.data.size() <= 8) {
        std::uint64_t number = 0;
        for (std::size_t i = value.data.size(); i-- > 0;) {
            number = number << 8 | Byte(value.data, i);
        }
        element.integers.push_back(number);
    } else if (format == kFormatIntegerList && binary && value.data.size() % 8 == 0) {
        for (std::size_t i = 0; i < value.data.size(); i += 8) {
            element.integers.push_back(Le64(value.data, i));
        }
    }
    if (!element.device && element.text.empty() && element.objects.empty() &&
        element.integers.empty()) {
        element.raw = std::move(value);
    }
    return element;
}

struct Known {
    const wchar_t* id;
    const wchar_t* name;
};
constexpr std::array<Known, 14> kWellKnown{{
    {L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}", L"{bootmgr}"},
    {L"{a5a30fa2-3d06-4e9f-b5f4-a01df9d1fcba}", L"{fwbootmgr}"},
    {L"{b2721d73-1db4-4c62-bf78-c548a880142d}", L"{memdiag}"},
    {L"{466f5a88-0af2-4f76-9038-095b170dc21c}", L"{ntldr}"},
    {L"{fa926493-6f1c-4193-a414-58f0b2456d1e}", L"{current}"},
    {L"{1cae1eb7-a0df-4d4d-9851-4860e34ef535}", L"{default}"},
    {L"{5189b25c-5558-4bf2-bca4-289b11bd29e2}", L"{badmemory}"},
    {L"{6efb52bf-1766-41db-a6b3-0ee5eff72bd7}", L"{bootloadersettings}"},
    {L"{4636856e-540f-4170-a130-a84776f4c654}", L"{dbgsettings}"},
    {L"{0ce4991b-e6b3-4b16-b23c-5e0d9250e5d9}", L"{emssettings}"},
    {L"{7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}", L"{globalsettings}"},
    {L"{7ff607e0-4395-11db-b0de-0800200c9a66}", L"{hypervisorsettings}"},
    {L"{1afa9c49-16ab-4a5c-901b-212802da9460}", L"{resumeloadersettings}"},
    {L"{ae5534e0-a924-466c-b836-758539a3ee3a}", L"{ramdiskoptions}"},
}};

}  // namespace

BcdKind KindOf(std::uint32_t objectType) {
    switch (objectType >> 28) {
        case 1:
            break;
        case 2:
            return BcdKind::Settings;
        case 3:
            return BcdKind::DeviceOptions;
        default:
            return BcdKind::Unknown;
    }
    // An application: its image type (bits 20 to 23) and application type (the low 20 bits).
    switch (objectType & 0xFFFFF) {
        case 1:
            return BcdKind::FirmwareBootManager;
        case 2:
            return BcdKind::BootManager;
        case 3:
            return BcdKind::WindowsLoader;
        case 4:
            return BcdKind::Resume;
        case 5:
            return BcdKind::MemoryTest;
        case 6:
            return BcdKind::LegacyLoader;
        case 8:
            return BcdKind::BootSector;
        case 0xFFFFF:
            return BcdKind::FirmwareApplication;
        default:
            return BcdKind::OtherApplication;
    }
}

std::optional<BcdDevice> DecodeBcdDevice(std::string_view bytes) {
    if (bytes.size() < kOptionsGuid + kDescriptorHeader) {
        return std::nullopt;
    }
    auto device = DecodeDescriptor(bytes.substr(kOptionsGuid), false);
    if (device.kind == DeviceKind::Unknown) {
        device.raw = std::string(bytes);
    }
    return device;
}

const BcdElement* BcdObject::Find(std::uint32_t wanted) const {
    for (const auto& element : elements) {
        if (element.type == wanted) {
            return &element;
        }
    }
    return nullptr;
}

const BcdObject* BcdStore::Find(std::wstring_view id) const {
    for (const auto& object : objects) {
        if (ToLower(object.id) == ToLower(id)) {
            return &object;
        }
    }
    return nullptr;
}

std::optional<BcdStore> ReadBcd(const KeyTree& tree) {
    const auto ids = tree.Subkeys({L"Objects"});
    if (!ids) {
        return std::nullopt;
    }
    BcdStore store;
    for (const auto& id : *ids) {
        const auto type = tree.Value({L"Objects", id, L"Description"}, L"Type");
        if (!type || type->type != kRegistryDword || type->data.size() != 4) {
            continue;
        }
        BcdObject object{id, Le32(type->data, 0), {}};
        for (const auto& name :
             tree.Subkeys({L"Objects", id, L"Elements"}).value_or(std::vector<std::wstring>{})) {
            const auto number = HexNumber(name);
            auto value = tree.Value({L"Objects", id, L"Elements", name}, L"Element");
            if (number && value) {
                object.elements.push_back(DecodeElement(*number, std::move(*value)));
            }
        }
        store.objects.push_back(std::move(object));
    }
    return store;
}

std::optional<std::wstring> WellKnownName(std::wstring_view id) {
    for (const auto& known : kWellKnown) {
        if (ToLower(id) == known.id) {
            return std::wstring(known.name);
        }
    }
    return std::nullopt;
}

}  // namespace kestrix
