#include "store/store_file.h"

#include "platform/bytes.h"
#include "platform/text.h"
#include "store/hive.h"

namespace kestrix {

namespace {

constexpr wchar_t kBootManager[] = L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}";

std::wstring TextOf(const BcdObject& object, std::uint32_t type) {
    const auto* element = object.Find(type);
    return element ? element->text : std::wstring();
}

bool IsHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// "{8-4-4-4-12}" of hex digits, nothing else: the value goes back into a command line.
bool IsBracedGuid(std::wstring_view text) {
    constexpr std::wstring_view shape = L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (text.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == L'x' ? !IsHex(text[i]) : text[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

// Whether a device element names the drive's partition; nothing when Windows cannot say which
// partition the drive is.
std::optional<bool> NamesDrive(const BcdElement* element, const Volumes& volumes,
                               DriveLetter drive) {
    const auto identity = volumes.IdentifyVolume(drive);
    if (!identity || identity->disk.empty()) {
        return std::nullopt;
    }
    if (!element || !element->device || element->device->kind != DeviceKind::Partition ||
        !element->device->ramdiskImage.empty()) {
        return false;
    }
    const auto& device = *element->device;
    if (device.gpt) {
        const auto found = volumes.FindPartitionById(device.partition);
        return found && found->drive && found->drive->Is(drive);
    }
    return identity->disk == L"MBR " + HexText(Le32(device.disk, 0), 8) &&
           identity->start == device.offset;
}

}  // namespace

StoreRead ReadStoreAt(const Files& files, const Volumes& volumes, const KeyTree& heldStore,
                      const std::wstring& path) {
    StoreRead read;
    const auto held = volumes.SystemStorePath();
    if (held && ToLower(*held) == ToLower(path)) {
        read.held = true;
        read.store = ReadBcd(heldStore);
        if (read.store) {
            return read;
        }
    }
    std::string bytes;
    read.read = files.ReadWholeFile(path, bytes);
    if (!read.read) {
        return read;
    }
    auto hive = DecodeHive(bytes);
    read.hive = hive.has_value();
    read.dirty = hive && hive->dirty;
    if (hive) {
        read.store = ReadBcd(HiveTree(std::move(*hive)));
    }
    return read;
}

const BcdObject* DefaultEntry(const BcdStore& store) {
    const auto* manager = store.Find(kBootManager);
    const auto* chosen = manager ? manager->Find(kBcdDefault) : nullptr;
    return chosen ? store.Find(chosen->text) : nullptr;
}

std::optional<std::wstring> DefaultRecoverySequence(const BcdStore& store) {
    const auto* loader = DefaultEntry(store);
    const auto* recovery = loader ? loader->Find(kBcdRecoverySequence) : nullptr;
    if (!recovery || recovery->objects.empty() || !IsBracedGuid(recovery->objects.front())) {
        return std::nullopt;
    }
    return recovery->objects.front();
}

DefaultCheck CheckDefaultEntry(const BcdStore& store, const Volumes& volumes, DriveLetter windows,
                               bool uefi) {
    const auto* loader = DefaultEntry(store);
    if (!loader || KindOf(loader->type) != BcdKind::WindowsLoader ||
        !ToLower(TextOf(*loader, kBcdPath)).ends_with(uefi ? L"\\winload.efi" : L"\\winload.exe") ||
        ToLower(TextOf(*loader, kBcdSystemRoot)) != L"\\windows") {
        return DefaultCheck::Elsewhere;
    }
    const auto device = NamesDrive(loader->Find(kBcdDevice), volumes, windows);
    const auto osDevice = NamesDrive(loader->Find(kBcdOsDevice), volumes, windows);
    if (!device || !osDevice) {
        return DefaultCheck::CannotTell;
    }
    return *device && *osDevice ? DefaultCheck::Starts : DefaultCheck::Elsewhere;
}

}  // namespace kestrix
