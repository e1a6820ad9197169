// dsptw N [/find:all] [/getid]: lists the partitions of physical disk N for the boot-partition
// scan; dsptw /all lists disks 0 to 10 at once, each behind a line "disk N"; dsptw /image:FILE
// lists the partitions of a raw disk image the same way. Only the asking is done here; what is
// listed and how is decided in partitions/.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "lister/listing_line.h"
#include "platform/text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {
namespace {

// Access 0 is enough for both queries, and needs no administrator.
UniqueFileHandle OpenDevice(const std::wstring& path) {
    return UniqueFileHandle(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
}

std::wstring DiskPath(std::uint32_t disk) {
    return L"\\\\.\\PhysicalDrive" + DecimalText(disk);
}

// A device answer of unknown length: the buffer doubles until it fits. Kept in 8-byte units so
// the structures laid over it are aligned.
std::optional<std::vector<std::uint64_t>> Query(HANDLE device, DWORD code, std::size_t bytes) {
    std::vector<std::uint64_t> buffer((bytes + 7) / 8);
    for (int attempt = 0; attempt < 10; ++attempt) {
        DWORD returned = 0;
        if (DeviceIoControl(device, code, nullptr, 0, buffer.data(),
                            static_cast<DWORD>(buffer.size() * 8), &returned, nullptr)) {
            return buffer;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) {
            return std::nullopt;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::nullopt;
}

PartitionInfo FromLayout(const PARTITION_INFORMATION_EX& entry) {
    PartitionInfo p;
    p.number = entry.PartitionNumber;
    p.startBytes = static_cast<std::uint64_t>(entry.StartingOffset.QuadPart);
    p.lengthBytes = static_cast<std::uint64_t>(entry.PartitionLength.QuadPart);
    switch (entry.PartitionStyle) {
        case PARTITION_STYLE_MBR:
            p.style = PartitionStyle::kMbr;
            p.active = entry.Mbr.BootIndicator != FALSE;
            p.mbrType = entry.Mbr.PartitionType;
            break;
        case PARTITION_STYLE_GPT:
            p.style = PartitionStyle::kGpt;
            static_assert(sizeof(GUID) == sizeof(Guid));
            std::memcpy(p.gptType.data(), &entry.Gpt.PartitionType, sizeof(GUID));
            p.gptName.assign(entry.Gpt.Name, wcsnlen(entry.Gpt.Name, ARRAYSIZE(entry.Gpt.Name)));
            break;
        default:
            p.style = PartitionStyle::kRaw;
            break;
    }
    return p;
}

class WindowsDisks final : public DiskSource {
public:
    std::optional<std::vector<PartitionInfo>> Partitions(std::uint32_t disk) override {
        const auto device = OpenDevice(DiskPath(disk));
        if (!device) {
            return std::nullopt;
        }
        std::vector<PartitionInfo> partitions;
        const auto answer =
            Query(device.get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX,
                  sizeof(DRIVE_LAYOUT_INFORMATION_EX) + 127 * sizeof(PARTITION_INFORMATION_EX));
        if (!answer) {
            // A card reader without a card opens but has no layout: an empty listing.
            return partitions;
        }
        const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(answer->data());
        const std::size_t room =
            (answer->size() * 8 - offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) /
            sizeof(PARTITION_INFORMATION_EX);
        const std::size_t count = std::min<std::size_t>(layout->PartitionCount, room);
        for (std::size_t i = 0; i < count; ++i) {
            partitions.push_back(FromLayout(layout->PartitionEntry[i]));
        }
        return partitions;
    }

    bool DiskExists(std::uint32_t disk) override {
        return static_cast<bool>(OpenDevice(DiskPath(disk)));
    }

    std::vector<MountedVolume> Volumes() override {
        // An empty card reader or floppy must not stop the listing with a "no disk" box.
        const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        std::vector<MountedVolume> volumes;
        const DWORD drives = GetLogicalDrives();
        for (int i = 0; i < 26; ++i) {
            if ((drives & (1u << i)) != 0) {
                AddVolume(static_cast<wchar_t>(L'A' + i), volumes);
            }
        }
        SetErrorMode(oldMode);
        return volumes;
    }

private:
    static void AddVolume(wchar_t letter, std::vector<MountedVolume>& volumes) {
        const std::wstring root = {letter, L':', L'\\'};
        const UINT type = GetDriveTypeW(root.c_str());
        // Network and optical drives lie on no physical disk; asking them could only be slow.
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) {
            return;
        }
        const auto volume = OpenDevice(std::wstring(L"\\\\.\\") + letter + L':');
        if (!volume) {
            return;
        }
        const auto answer = Query(volume.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS,
                                  sizeof(VOLUME_DISK_EXTENTS) + 7 * sizeof(DISK_EXTENT));
        if (!answer) {
            return;
        }
        VolumeInfo info;
        info.drive = {letter, L':'};
        wchar_t label[MAX_PATH + 1] = {};
        wchar_t fileSystem[MAX_PATH + 1] = {};
        if (GetVolumeInformationW(root.c_str(), label, ARRAYSIZE(label), nullptr, nullptr, nullptr,
                                  fileSystem, ARRAYSIZE(fileSystem))) {
            info.label = label;
            info.fileSystem = fileSystem;
        }
        const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(answer->data());
        const std::size_t room =
            (answer->size() * 8 - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
        const std::size_t count = std::min<std::size_t>(extents->NumberOfDiskExtents, room);
        for (std::size_t i = 0; i < count; ++i) {
            const DISK_EXTENT& extent = extents->Extents[i];
            volumes.push_back({static_cast<std::uint32_t>(extent.DiskNumber),
                               static_cast<std::uint64_t>(extent.StartingOffset.QuadPart), info});
        }
    }
};

// A raw disk image, read where the decoder asks.
class ImageFile final : public SectorReader {
public:
    explicit ImageFile(UniqueFileHandle file) : file_(std::move(file)) {}

    bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        return ReadFile(file_.get(), out.data(), static_cast<DWORD>(out.size()), &read, &at) &&
               read == out.size();
    }

    std::optional<std::uint64_t> Size() override {
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file_.get(), &size)) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(size.QuadPart);
    }

private:
    UniqueFileHandle file_;
};

// To standard output or error. Redirected to a file (as the scan does) the text goes out in the
// ANSI code page the scan reads; on a console it goes out wide so any label shows.
void WriteLine(DWORD stream, const std::wstring& text) {
    const HANDLE out = GetStdHandle(stream);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::wstring line = text + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), bytes.data(), size,
                        nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

Listing ListImage(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {{kOpenImageError}, 1, {}};
    }
    ImageFile image(std::move(file));
    return MakeImageListing(image);
}

int Run(int argc, wchar_t** argv) {
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const auto image = ListingImageArgument(arguments);
    const auto disk = ListingDiskArgument(arguments);
    const bool all = ListingAllArgument(arguments);
    if (!image && !disk && !all) {
        const char usage[] =
            "usage: dsptw N [/find:all] [/getid]\r\n"
            "       dsptw /all\r\n"
            "       dsptw /image:FILE\r\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), usage, sizeof(usage) - 1, &written, nullptr);
        return 2;
    }
    WindowsDisks disks;
    const Listing listing = image  ? ListImage(*image)
                            : disk ? MakeListing(*disk, disks)
                                   : MakeAllDisksListing(disks);
    for (const auto& line : listing.lines) {
        WriteLine(STD_OUTPUT_HANDLE, line);
    }
    if (!listing.notice.empty()) {
        WriteLine(STD_ERROR_HANDLE, listing.notice);
    }
    return listing.exitCode;
}

}  // namespace
}  // namespace kestrix::win32

int wmain(int argc, wchar_t** argv) {
    return kestrix::win32::Run(argc, argv);
}
