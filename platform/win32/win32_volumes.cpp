#include "platform/win32/win32_volumes.h"

#include <windows.h>
#include <winioctl.h>
#include <winnetwk.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/win32/error_text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

// A device of the machine (\\.\PhysicalDrive0), shared with everything else that has it open. Access 0 asks the device questions without reading it.
UniqueFileHandle OpenDevice(const std::wstring& device, DWORD access, DWORD flags = 0) {
    return UniqueFileHandle(CreateFileW(device.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, flags, nullptr));
}

// The raw volume behind a drive: the one way this program opens one.
UniqueFileHandle OpenVolume(DriveLetter drive, DWORD access, DWORD flags = 0) {
    return OpenDevice(L"\\\\.\\" + drive.Text(), access, flags);
}

}  // namespace

namespace {

// The first bytes of a raw device. Raw reads go straight to the device: whole sectors into a
// sector-aligned buffer (the length asked for is a multiple of 4096; pages are aligned for any
// sector size).
FileResult ReadDeviceStart(const UniqueFileHandle& device, std::size_t length, std::string& bytes) {
    if (!device) {
        return LastError();
    }
    const UniqueVirtualMemory buffer(
        VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!buffer) {
        return LastError();
    }
    DWORD got = 0;
    if (!ReadFile(device.get(), buffer.get(), static_cast<DWORD>(length), &got, nullptr)) {
        return LastError();
    }
    bytes.assign(static_cast<const char*>(buffer.get()), got);
    return FileResult::Success();
}

}  // namespace

FileResult Win32Volumes::ReadVolumeStart(DriveLetter drive, std::size_t length,
                                         std::string& bytes) const {
    return ReadDeviceStart(OpenVolume(drive, GENERIC_READ), length, bytes);
}

FileResult Win32Volumes::ReadDiskStart(int disk, std::size_t length, std::string& bytes) const {
    return ReadDeviceStart(OpenDevice(L"\\\\.\\PhysicalDrive" + DecimalText(disk), GENERIC_READ),
                           length, bytes);
}

namespace {

// A drive list entry as the user knows it: "c: [label]", or the share of a network drive.
std::optional<DriveEntry> DescribeDrive(const std::wstring& root) {
    const wchar_t designator[] = {static_cast<wchar_t>(towlower(root[0])), L':', L'\0'};
    const auto drive = DriveLetter::Parse(designator);
    if (!drive) {
        return std::nullopt;
    }
    if (GetDriveTypeW(root.c_str()) == DRIVE_REMOTE) {
        wchar_t remote[MAX_PATH + 1] = {};
        DWORD length = MAX_PATH;
        if (WNetGetConnectionW(designator, remote, &length) != NO_ERROR) {
            remote[0] = L'\0';
        }
        return DriveEntry{*drive, remote};
    }
    wchar_t label[MAX_PATH + 1] = {};
    if (!GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr,
                               nullptr, 0)) {
        label[0] = L'\0';
    }
    return DriveEntry{*drive, label};
}

}  // namespace

std::vector<DriveEntry> Win32Volumes::DriveEntries() const {
    std::vector<DriveEntry> entries;
    const DWORD size = GetLogicalDriveStringsW(0, nullptr);
    std::vector<wchar_t> buffer(size + 1, L'\0');
    if (size == 0 || GetLogicalDriveStringsW(size, buffer.data()) == 0) {
        return entries;
    }
    for (const wchar_t* root = buffer.data(); *root != L'\0'; root += wcslen(root) + 1) {
        if (auto entry = DescribeDrive(root)) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

namespace {

// Removable media, or a disk on a bus that a stick or a card reader uses.
DriveMedia MediaOfDevice(const UniqueFileHandle& handle) {
    if (!handle) {
        return DriveMedia::Fixed;
    }
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                         &descriptor, sizeof(descriptor), &returned, nullptr) ||
        returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(descriptor.BusType)) {
        return DriveMedia::Fixed;
    }
    switch (descriptor.BusType) {
        case BusTypeUsb:
            return DriveMedia::Usb;
        case BusTypeSd:
            return DriveMedia::SdCard;
        case BusTypeMmc:
            return DriveMedia::Mmc;
        default:
            return descriptor.RemovableMedia ? DriveMedia::Removable : DriveMedia::Fixed;
    }
}

// The EFI system partition's GPT type, c12a7328-f81f-11d2-ba4b-00a0c93ec93b.
constexpr GUID kEfiSystemType = {0xc12a7328, 0xf81f, 0x11d2,
                                 {0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b}};
constexpr BYTE kEfiSystemMbrType = 0xEF;
// Whole sectors for any sector size.
constexpr std::size_t kSectorRead = 4096;

}  // namespace

DriveMedia Win32Volumes::MediaOf(DriveLetter drive) const {
    if (GetDriveTypeW(drive.Path(L"\\").c_str()) == DRIVE_REMOVABLE) {
        return DriveMedia::Removable;
    }
    return MediaOfDevice(OpenVolume(drive, 0));
}

DriveMedia Win32Volumes::DiskMediaOf(int disk) const {
    return MediaOfDevice(OpenDevice(L"\\\\.\\PhysicalDrive" + DecimalText(disk), 0));
}

bool Win32Volumes::IsEfiSystemPartition(DriveLetter drive) const {
    const auto volume = OpenVolume(drive, 0);
    PARTITION_INFORMATION_EX info{};
    DWORD returned = 0;
    const bool asked = volume && DeviceIoControl(volume.get(), IOCTL_DISK_GET_PARTITION_INFO_EX,
                                                 nullptr, 0, &info, sizeof(info), &returned,
                                                 nullptr);
    if (asked && info.PartitionStyle == PARTITION_STYLE_GPT) {
        return IsEqualGUID(info.Gpt.PartitionType, kEfiSystemType) != FALSE;
    }
    if (asked && info.PartitionStyle == PARTITION_STYLE_MBR && info.Mbr.PartitionType != 0) {
        return info.Mbr.PartitionType == kEfiSystemMbrType;
    }
    // Where the type cannot be told: a FAT volume with an \EFI folder. The boot sector names its
    // file system where the volume's own answer may not (a disk image).
    wchar_t fileSystem[MAX_PATH + 1] = {};
    const bool fatByName = GetVolumeInformationW(drive.Path(L"\\").c_str(), nullptr, 0, nullptr,
                                                 nullptr, nullptr, fileSystem, MAX_PATH + 1) &&
                           std::wstring(fileSystem).rfind(L"FAT", 0) == 0;
    std::string bootSector;
    const bool fatBySector =
        ReadVolumeStart(drive, kSectorRead, bootSector) &&
        bootSector.size() >= 512 &&
        (bootSector.compare(0x36, 3, "FAT") == 0 || bootSector.compare(0x52, 5, "FAT32") == 0);
    if (!fatByName && !fatBySector) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(drive.Path(L"\\EFI").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::wstring> Win32Volumes::SystemStorePath() const {
    // Windows lists the files of its loaded hives by device path: "\\Device\\HarddiskVolume1\\Boot\\BCD".
    wchar_t device[MAX_PATH + 1] = {};
    DWORD size = sizeof(device) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\hivelist",
                     L"\\REGISTRY\\MACHINE\\BCD00000000", RRF_RT_REG_SZ, nullptr, device,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::wstring file = device;
    wchar_t drive[] = L"A:";
    for (; drive[0] <= L'Z'; ++drive[0]) {
        wchar_t target[MAX_PATH + 1] = {};
        if (QueryDosDeviceW(drive, target, MAX_PATH + 1) == 0) {
            continue;
        }
        const std::wstring volume = target;
        if (file.size() > volume.size() && file[volume.size()] == L'\\' &&
            ToLower(file.substr(0, volume.size())) == ToLower(volume)) {
            return std::wstring(drive) + file.substr(volume.size());
        }
    }
    return std::nullopt;
}

namespace {

std::wstring GuidText(const GUID& guid) {
    return kestrix::GuidText(std::string_view(reinterpret_cast<const char*>(&guid), sizeof(guid)));
}

// A physical disk's partition layout; empty when it cannot be read.
std::vector<std::uint64_t> DiskLayout(DWORD number) {
    const auto disk = OpenDevice(L"\\\\.\\PhysicalDrive" + DecimalText(number), 0);
    if (!disk) {
        return {};
    }
    // The layout grows with the partition count: the buffer with it, as far as GPT's limit.
    for (std::size_t entries = 128; entries <= 4096; entries *= 2) {
        std::vector<std::uint64_t> buffer(
            (sizeof(DRIVE_LAYOUT_INFORMATION_EX) + entries * sizeof(PARTITION_INFORMATION_EX)) /
                sizeof(std::uint64_t) +
            1);
        DWORD returned = 0;
        if (DeviceIoControl(disk.get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                            static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)), &returned,
                            nullptr)) {
            return buffer;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return {};
        }
    }
    return {};
}

// "MBR 1A2B3C4D" or "GPT {…}" for a disk's layout; empty for a raw disk.
std::wstring DiskName(const DRIVE_LAYOUT_INFORMATION_EX& layout) {
    if (layout.PartitionStyle == PARTITION_STYLE_MBR) {
        return L"MBR " + HexText(layout.Mbr.Signature, 8);
    }
    if (layout.PartitionStyle == PARTITION_STYLE_GPT) {
        return L"GPT " + GuidText(layout.Gpt.DiskId);
    }
    return {};
}

std::wstring DiskName(DWORD number) {
    const auto layout = DiskLayout(number);
    return layout.empty()
               ? std::wstring()
               : DiskName(*reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(layout.data()));
}

// Physical disks are numbered from 0; numbers may have gaps where a disk was removed.
constexpr DWORD kLastDiskNumber = 63;

}  // namespace

std::optional<VolumeIdentity> Win32Volumes::IdentifyVolume(DriveLetter drive) const {
    // Asked before the volume is opened, which some file system drivers would have to share.
    VolumeIdentity identity;
    DWORD serial = 0;
    if (GetVolumeInformationW(drive.Path(L"\\").c_str(), nullptr, 0, &serial, nullptr, nullptr,
                              nullptr, 0)) {
        identity.serial = serial;
    }
    const auto volume = OpenVolume(drive, GENERIC_READ);
    if (!volume) {
        return std::nullopt;
    }
    DWORD returned = 0;
    PARTITION_INFORMATION_EX partition{};
    STORAGE_DEVICE_NUMBER number{};
    if (DeviceIoControl(volume.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition,
                        sizeof(partition), &returned, nullptr) &&
        DeviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                        sizeof(number), &returned, nullptr)) {
        if (auto disk = DiskName(number.DeviceNumber); !disk.empty()) {
            identity.disk = std::move(disk);
            identity.start = static_cast<std::uint64_t>(partition.StartingOffset.QuadPart);
            identity.length = static_cast<std::uint64_t>(partition.PartitionLength.QuadPart);
            return identity;
        }
    }
    // No partition of a disk that Windows can name (a dynamic volume, an image): its size.
    GET_LENGTH_INFORMATION length{};
    LARGE_INTEGER size{};
    if (DeviceIoControl(volume.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                        sizeof(length), &returned, nullptr)) {
        size = length.Length;
    } else if (!GetFileSizeEx(volume.get(), &size)) {
        size.QuadPart = 0;
    }
    if (size.QuadPart <= 0) {
        return std::nullopt;
    }
    identity.length = static_cast<std::uint64_t>(size.QuadPart);
    return identity;
}

std::optional<PartitionPlace> Win32Volumes::FindPartition(const VolumeIdentity& identity) const {
    for (DWORD number = 0; number <= kLastDiskNumber; ++number) {
        const auto buffer = DiskLayout(number);
        if (buffer.empty()) {
            continue;
        }
        const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
        if (DiskName(*layout) != identity.disk) {
            continue;
        }
        for (DWORD i = 0; i < layout->PartitionCount; ++i) {
            const auto& partition = layout->PartitionEntry[i];
            if (partition.PartitionNumber != 0 &&
                static_cast<std::uint64_t>(partition.StartingOffset.QuadPart) == identity.start &&
                static_cast<std::uint64_t>(partition.PartitionLength.QuadPart) == identity.length) {
                return PartitionPlace{static_cast<int>(number),
                                      static_cast<int>(partition.PartitionNumber)};
            }
        }
    }
    return std::nullopt;
}

std::optional<FoundPartition> Win32Volumes::FindPartitionById(std::string_view guid) const {
    const auto named = [guid](const PARTITION_INFORMATION_EX& partition) {
        return partition.PartitionStyle == PARTITION_STYLE_GPT && guid.size() == sizeof(GUID) &&
               std::memcmp(&partition.Gpt.PartitionId, guid.data(), sizeof(GUID)) == 0;
    };
    for (DWORD number = 0; number <= kLastDiskNumber; ++number) {
        const auto buffer = DiskLayout(number);
        if (buffer.empty()) {
            continue;
        }
        const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
        for (DWORD i = 0; i < layout->PartitionCount; ++i) {
            const auto& partition = layout->PartitionEntry[i];
            if (!named(partition)) {
                continue;
            }
            FoundPartition found{
                {static_cast<int>(number), static_cast<int>(partition.PartitionNumber)},
                std::nullopt};
            for (const auto& entry : DriveEntries()) {
                const auto volume = OpenVolume(entry.drive, 0);
                PARTITION_INFORMATION_EX info{};
                DWORD returned = 0;
                if (volume &&
                    DeviceIoControl(volume.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0,
                                    &info, sizeof(info), &returned, nullptr) &&
                    named(info)) {
                    found.drive = entry.drive;
                    break;
                }
            }
            return found;
        }
    }
    return std::nullopt;
}

FileResult Win32Volumes::WriteVolumeStart(DriveLetter drive, const std::string& bytes) {
    const auto volume = OpenVolume(drive, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_WRITE_THROUGH);
    if (!volume) {
        return LastError();
    }
    DWORD returned = 0;
    DISK_GEOMETRY geometry{};
    const DWORD sector = DeviceIoControl(volume.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0,
                                         &geometry, sizeof(geometry), &returned, nullptr) &&
                                 geometry.BytesPerSector != 0
                             ? geometry.BytesPerSector
                             : 512;
    if (bytes.empty() || bytes.size() % sector != 0) {
        return {false, 0, L"长度不是扇区大小（" + DecimalText(sector) + L" 字节）的整数倍"};
    }
    // Windows lets a raw write reach the sectors of a mounted file system only on a locked
    // volume. A volume in use cannot be locked; the write is tried all the same.
    DeviceIoControl(volume.get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
    const UniqueVirtualMemory buffer(
        VirtualAlloc(nullptr, bytes.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!buffer) {
        return LastError();
    }
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
    DWORD wrote = 0;
    if (!WriteFile(volume.get(), buffer.get(), static_cast<DWORD>(bytes.size()), &wrote, nullptr)) {
        return LastError();
    }
    if (wrote != bytes.size()) {
        return {false, 0, L"只写入了 " + DecimalText(wrote) + L" 字节"};
    }
    return Check(FlushFileBuffers(volume.get()));
}

}  // namespace kestrix::win32
