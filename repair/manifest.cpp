#include "repair/manifest.h"

#include <algorithm>
#include <iterator>

#include "platform/drive_letter.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrix {

namespace {

constexpr wchar_t kHeader[] = L"Kestrix manifest 2";
// Written before files carried their volume and volumes their serial number.
constexpr wchar_t kFirstHeader[] = L"Kestrix manifest 1";
constexpr wchar_t kEnd[] = L"end";
constexpr wchar_t kNone[] = L"-";
constexpr wchar_t kDigits[] = L"0123456789abcdef";
constexpr std::size_t kDigestLength = 32;

struct AttributeLetter {
    std::uint32_t bit;
    wchar_t letter;
};
constexpr AttributeLetter kAttributeLetters[] = {{kAttributeReadOnly, L'r'},
                                                 {kAttributeHidden, L'h'},
                                                 {kAttributeSystem, L's'},
                                                 {kAttributeArchive, L'a'}};

std::wstring Hex(const std::string& bytes) {
    std::wstring text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::optional<std::string> FromHex(std::wstring_view text) {
    if (text.size() != 2 * kDigestLength) {
        return std::nullopt;
    }
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const auto high = std::wstring_view(kDigits).find(text[i]);
        const auto low = std::wstring_view(kDigits).find(text[i + 1]);
        if (high == std::wstring_view::npos || low == std::wstring_view::npos) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::optional<std::uint64_t> Number(std::wstring_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return value;
}

std::wstring AttributeText(std::uint32_t attributes) {
    std::wstring text;
    for (const auto& a : kAttributeLetters) {
        if ((attributes & a.bit) != 0) {
            text += a.letter;
        }
    }
    return text.empty() ? kNone : text;
}

std::optional<std::uint32_t> ParseAttributes(std::wstring_view text) {
    if (text == kNone) {
        return 0u;
    }
    std::uint32_t attributes = 0;
    for (const wchar_t c : text) {
        const auto* found = std::find_if(std::begin(kAttributeLetters), std::end(kAttributeLetters),
                                         [c](const AttributeLetter& a) { return a.letter == c; });
        if (found == std::end(kAttributeLetters) || (attributes & found->bit) != 0) {
            return std::nullopt;
        }
        attributes |= found->bit;
    }
    return attributes;
}

std::optional<std::uint32_t> ParseSerial(std::wstring_view text) {
    if (text.size() != 8) {
        return std::nullopt;
    }
    std::uint32_t serial = 0;
    for (const wchar_t c : text) {
        const auto digit = std::wstring_view(L"0123456789ABCDEF").find(c);
        if (digit == std::wstring_view::npos) {
            return std::nullopt;
        }
        serial = serial << 4 | static_cast<std::uint32_t>(digit);
    }
    return serial;
}

// Disk, start, length and serial number; a volume known by its size alone has "-" for the first
// two, an unknown one "-" for all four.
std::wstring IdentityFields(const std::optional<VolumeIdentity>& identity) {
    const std::wstring none(kNone);
    if (!identity) {
        return none + L"\t" + none + L"\t" + none + L"\t" + none;
    }
    const auto serial = identity->serial ? HexText(*identity->serial, 8) : none;
    if (identity->disk.empty()) {
        return none + L"\t" + none + L"\t" + DecimalText(identity->length) + L"\t" + serial;
    }
    return identity->disk + L"\t" + DecimalText(identity->start) + L"\t" +
           DecimalText(identity->length) + L"\t" + serial;
}

// The identity fields from "at" on: three in a first manifest, four since.
bool ParseIdentity(const std::vector<std::wstring>& f, std::size_t at,
                   std::optional<VolumeIdentity>& identity) {
    const bool withSerial = f.size() == at + 4;
    if (f[at] == kNone && f[at + 1] == kNone && f[at + 2] == kNone &&
        (!withSerial || f[at + 3] == kNone)) {
        identity.reset();
        return true;
    }
    VolumeIdentity read;
    if (withSerial && f[at + 3] != kNone) {
        read.serial = ParseSerial(f[at + 3]);
        if (!read.serial) {
            return false;
        }
    }
    const auto length = Number(f[at + 2]);
    if (!length) {
        return false;
    }
    read.length = *length;
    if (f[at] == kNone && f[at + 1] == kNone) {
        identity = read;
        return true;
    }
    const auto start = Number(f[at + 1]);
    if (f[at] == kNone || f[at].empty() || !start) {
        return false;
    }
    read.disk = f[at];
    read.start = *start;
    identity = read;
    return true;
}

// A file's path on a drive ("d:\\ntldr"), or with volume the drive alone ("d:").
bool IsDrivePath(std::wstring_view path, bool volume = false) {
    const auto parsed = DrivePath::Parse(path);
    return parsed && (volume ? parsed->rest.empty() : parsed->rest.size() > 1);
}

std::optional<ManifestItem> ParseItem(const std::wstring& line, bool first) {
    const auto f = SplitAll(line, L"\t");
    ManifestItem item;
    if (f.size() == 2 && f[0] == L"created" && IsDrivePath(f[1])) {
        item.kind = ManifestKind::Created;
        item.source = f[1];
        return item;
    }
    const bool volume = f.size() == (first ? 8u : 9u) && f[0] == L"volume";
    if (!volume && !(f.size() == (first ? 6u : 10u) && f[0] == L"file")) {
        return std::nullopt;
    }
    const auto length = Number(f[3]);
    const auto digest = FromHex(f[4]);
    if (!length || !digest || !IsPlainRelativePath(f[2])) {
        return std::nullopt;
    }
    item.source = f[1];
    item.backup = f[2];
    item.length = *length;
    item.sha256 = *digest;
    if (volume) {
        item.kind = ManifestKind::VolumeStart;
        return IsDrivePath(f[1], true) && ParseIdentity(f, 5, item.identity) ? std::optional(item)
                                                                             : std::nullopt;
    }
    const auto attributes = ParseAttributes(f[5]);
    if (!IsDrivePath(f[1]) || !attributes || (!first && !ParseIdentity(f, 6, item.identity))) {
        return std::nullopt;
    }
    item.attributes = *attributes;
    return item;
}

}  // namespace

std::string ManifestText(const std::vector<ManifestItem>& items) {
    std::wstring text = std::wstring(kHeader) + L"\r\n";
    for (const auto& item : items) {
        switch (item.kind) {
            case ManifestKind::VolumeStart:
                text += L"volume\t" + item.source + L"\t" + item.backup + L"\t" +
                        DecimalText(item.length) + L"\t" + Hex(item.sha256) + L"\t" +
                        IdentityFields(item.identity);
                break;
            case ManifestKind::File:
                text += L"file\t" + item.source + L"\t" + item.backup + L"\t" +
                        DecimalText(item.length) + L"\t" + Hex(item.sha256) + L"\t" +
                        AttributeText(item.attributes) + L"\t" + IdentityFields(item.identity);
                break;
            case ManifestKind::Created:
                text += L"created\t" + item.source;
                break;
        }
        text += L"\r\n";
    }
    return ToUtf8(text + kEnd + L"\r\n");
}

std::optional<std::vector<ManifestItem>> ReadManifest(std::string_view text,
                                                      std::wstring& problem) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const auto lines = SplitLines(FromUtf8(text));
    const bool first = !lines.empty() && lines.front() == kFirstHeader;
    if (lines.empty() || (lines.front() != kHeader && !first)) {
        problem = L"清单的第一行不是“" + std::wstring(kHeader) + L"”";
        return std::nullopt;
    }
    if (lines.back() != kEnd) {
        problem = L"清单不完整（没有结束行“end”）";
        return std::nullopt;
    }
    std::vector<ManifestItem> items;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const auto item = ParseItem(lines[i], first);
        if (!item) {
            problem = L"清单第 " + DecimalText(static_cast<long long>(i + 1)) + L" 行无法识别";
            return std::nullopt;
        }
        items.push_back(*item);
    }
    return items;
}

std::wstring DescribeIdentity(const std::optional<VolumeIdentity>& identity) {
    if (!identity) {
        return L"无法识别的卷";
    }
    const auto serial =
        identity->serial ? L"（卷序列号 " + SerialNumberText(*identity->serial) + L"）"
                         : std::wstring();
    if (identity->disk.empty()) {
        return L"大小 " + DecimalText(identity->length) + L" 字节的卷" + serial;
    }
    return identity->disk + L" 上起点 " + DecimalText(identity->start) + L"、长度 " +
           DecimalText(identity->length) + L" 字节的分区" + serial;
}

}  // namespace kestrix
