#pragma once
// The record of what a run saved, kept beside its backups as manifest.txt: for each item what it
// is, where it came from, where its copy lies in the run folder, its length and SHA-256, and which
// volume it was on (its partition and its file system's serial number); last the files that the
// run created where none existed. UTF-8 text, one item a line, its fields separated by tabs (which
// no path holds).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drive_letter.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace kestrix {

inline constexpr wchar_t kManifestName[] = L"manifest.txt";

enum class ManifestKind { VolumeStart, File, Created };

struct ManifestItem {
    ManifestKind kind = ManifestKind::File;
    // "d:" for a volume, the full path of a file.
    std::wstring source;
    // The drive of source: ReadManifest takes drive paths only, and the backups record only those.
    DriveLetter Drive() const { return DrivePath::Parse(source)->drive; }
    // The copy's path inside the run folder; none for a created file.
    std::wstring backup;
    std::uint64_t length = 0;
    // 32 bytes.
    std::string sha256;
    // A file's read-only, hidden, system and archive attributes.
    std::uint32_t attributes = 0;
    // The volume it came from; empty when Windows could not tell it (and for every file of a
    // manifest written before files recorded it).
    std::optional<VolumeIdentity> identity;
};

std::string ManifestText(const std::vector<ManifestItem>& items);
// Empty for a manifest that is damaged or cut short, with the reason in problem.
std::optional<std::vector<ManifestItem>> ReadManifest(std::string_view text, std::wstring& problem);

// "MBR 1A2B3C4D 上起点 1048576、长度 104857600 字节的分区" or "大小 104857600 字节的卷".
std::wstring DescribeIdentity(const std::optional<VolumeIdentity>& identity);

}  // namespace kestrix
