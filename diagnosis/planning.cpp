#include "diagnosis/planning.h"

#include "platform/text.h"

namespace kestrix {

namespace {

// What a planned tool's file holds for the plan: its real content is the tool's to make.
constexpr char kMadeByTool[] = "(planned)";

FileResult Failure(std::uint32_t error) {
    return {false, error, {}};
}

// Lookups ignore case; a folder is named without its last backslash, a drive's root with it.
std::wstring Key(const std::wstring& path) {
    auto key = ToLower(path);
    while (key.size() > 3 && key.back() == L'\\') {
        key.pop_back();
    }
    return key;
}

// "d:\boot" for "d:\boot\bcd", "d:\" for "d:\bootmgr".
std::wstring Parent(const std::wstring& path) {
    const auto key = Key(path);
    const auto at = key.rfind(L'\\');
    if (at == std::wstring::npos) {
        return {};
    }
    return at == 2 ? key.substr(0, 3) : key.substr(0, at);
}

}  // namespace

const PlanningFiles::Planned* PlanningFiles::Find(const std::wstring& path) const {
    const auto it = overlay_.find(Key(path));
    return it == overlay_.end() ? nullptr : &it->second;
}

PlanningFiles::Planned& PlanningFiles::Plan(const std::wstring& path) {
    auto& planned = overlay_[Key(path)];
    if (planned.name.empty()) {
        planned.name = path;
    }
    return planned;
}

bool PlanningFiles::FolderExists(const std::wstring& path) const {
    if (const auto* planned = Find(path)) {
        return planned->folder && !planned->deleted;
    }
    std::vector<FolderEntry> entries;
    return static_cast<bool>(real_.ListFolder(path, entries));
}

std::optional<std::string> PlanningFiles::Contents(const std::wstring& path) const {
    const auto* planned = Find(path);
    if (planned && (planned->folder || planned->deleted)) {
        return std::nullopt;
    }
    if (planned && planned->bytes) {
        return planned->bytes;
    }
    std::string bytes;
    if (!real_.ReadWholeFile(path, bytes)) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<FileResult> PlanningFiles::Refused(const std::wstring& path) const {
    if (!FolderExists(Parent(path))) {
        return Failure(kErrorPathNotFound);
    }
    if (Attributes(path).value_or(0) & kAttributeReadOnly) {
        return Failure(kErrorAccessDenied);
    }
    return std::nullopt;
}

void PlanningFiles::NoteWrite(const std::wstring& line, const std::wstring& path) {
    auto& planned = Plan(path);
    if (!planned.noted) {
        planned.noted = true;
        note_(line);
    }
}

std::optional<std::int64_t> PlanningFiles::FileLength(const std::wstring& path) const {
    const auto* planned = Find(path);
    if (!planned) {
        return real_.FileLength(path);
    }
    if (planned->folder || planned->deleted) {
        return std::nullopt;
    }
    if (planned->bytes) {
        return static_cast<std::int64_t>(planned->bytes->size());
    }
    return real_.FileLength(path);
}

FileResult PlanningFiles::SetNormalAttributes(const std::wstring& path) {
    return SetAttributes(path, 0);
}

FileResult PlanningFiles::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
    if (!FileLength(path)) {
        return Failure(kErrorFileNotFound);
    }
    if (Attributes(path) != attributes) {
        NoteWrite(L"改属性：" + path, path);
    }
    Plan(path).attributes = attributes;
    return FileResult::Success();
}

FileResult PlanningFiles::CopyFileOver(const std::wstring& source, const std::wstring& target) {
    // A source that Windows will not read (one the system holds open) refuses the copy.
    std::string bytes;
    if (const auto read = ReadWholeFile(source, bytes); !read) {
        return read;
    }
    if (const auto refused = Refused(target)) {
        return *refused;
    }
    const auto carried = Attributes(source);
    note_(L"复制：" + source + L" → " + target);
    auto& planned = Plan(target);
    planned.noted = true;
    planned.deleted = false;
    planned.bytes = std::move(bytes);
    planned.attributes = carried.value_or(0);
    return FileResult::Success();
}

FileResult PlanningFiles::CreateFolder(const std::wstring& path) {
    if (FolderExists(path) || FileLength(path)) {
        return Failure(kErrorAlreadyExists);
    }
    if (!FolderExists(Parent(path))) {
        return Failure(kErrorPathNotFound);
    }
    note_(L"新建目录：" + path);
    auto& planned = Plan(path);
    planned.folder = true;
    planned.deleted = false;
    return FileResult::Success();
}

FileResult PlanningFiles::AppendToFile(const std::wstring& path, const std::string& bytes) {
    if (const auto refused = Refused(path)) {
        return *refused;
    }
    auto grown = Contents(path).value_or(std::string());
    NoteWrite(L"写入：" + path, path);
    auto& planned = Plan(path);
    planned.deleted = false;
    planned.bytes = grown + bytes;
    return FileResult::Success();
}

FileResult PlanningFiles::WriteNewFile(const std::wstring& path, const std::string& bytes) {
    if (const auto refused = Refused(path)) {
        return *refused;
    }
    NoteWrite(L"写入：" + path, path);
    auto& planned = Plan(path);
    planned.deleted = false;
    planned.bytes = bytes;
    planned.attributes = 0;
    return FileResult::Success();
}

FileResult PlanningFiles::ReadWholeFile(const std::wstring& path, std::string& bytes) const {
    if (Find(path) == nullptr) {
        return real_.ReadWholeFile(path, bytes);
    }
    auto contents = Contents(path);
    if (!contents) {
        return Failure(kErrorFileNotFound);
    }
    bytes = std::move(*contents);
    return FileResult::Success();
}

FileResult PlanningFiles::ReadFilePart(const std::wstring& path, std::uint64_t offset,
                                       std::size_t length, std::string& bytes) const {
    if (Find(path) == nullptr) {
        return real_.ReadFilePart(path, offset, length, bytes);
    }
    auto contents = Contents(path);
    if (!contents) {
        return Failure(kErrorFileNotFound);
    }
    bytes = offset < contents->size() ? contents->substr(offset, length) : std::string();
    return FileResult::Success();
}

FileDigest PlanningFiles::Sha256OfFile(const std::wstring& path) const {
    if (Find(path) == nullptr) {
        return real_.Sha256OfFile(path);
    }
    const auto contents = Contents(path);
    const auto digest = contents ? real_.Sha256(*contents) : std::nullopt;
    if (!digest) {
        return FileDigest::Failed(contents ? FileResult{false, 0, L"无法计算 SHA-256"}
                                           : Failure(kErrorFileNotFound));
    }
    return {FileResult::Success(), contents->size(), *digest};
}

FileResult PlanningFiles::MoveFileOver(const std::wstring& source, const std::wstring& target) {
    std::string bytes;
    if (const auto read = ReadWholeFile(source, bytes); !read) {
        return read;
    }
    if (const auto refused = Refused(target)) {
        return *refused;
    }
    NoteWrite(L"写入：" + target, target);
    const auto attributes = Attributes(source);
    auto& planned = Plan(target);
    planned.deleted = false;
    planned.bytes = std::move(bytes);
    planned.attributes = attributes;
    Plan(source).deleted = true;
    return FileResult::Success();
}

std::optional<std::uint32_t> PlanningFiles::Attributes(const std::wstring& path) const {
    const auto* planned = Find(path);
    if (!planned) {
        return real_.Attributes(path);
    }
    if (planned->deleted) {
        return std::nullopt;
    }
    return planned->attributes ? planned->attributes : real_.Attributes(path);
}

FileResult PlanningFiles::ListFolder(const std::wstring& path,
                                     std::vector<FolderEntry>& entries) const {
    if (!FolderExists(path)) {
        return Failure(kErrorPathNotFound);
    }
    std::vector<FolderEntry> listed;
    real_.ListFolder(path, listed);
    std::vector<FolderEntry> merged;
    const auto key = Key(path);
    const auto prefix = key.back() == L'\\' ? key : key + L'\\';
    for (auto& entry : listed) {
        const auto* planned = Find(prefix + entry.name);
        if (!planned || !planned->deleted) {
            merged.push_back(std::move(entry));
        }
    }
    for (const auto& [child, planned] : overlay_) {
        if (!child.starts_with(prefix) || child.find(L'\\', prefix.size()) != std::wstring::npos ||
            planned.deleted) {
            continue;
        }
        const auto name = planned.name.substr(planned.name.rfind(L'\\') + 1);
        bool known = false;
        for (const auto& entry : merged) {
            known = known || ToLower(entry.name) == ToLower(name);
        }
        if (!known) {
            merged.push_back({name, planned.folder});
        }
    }
    entries = std::move(merged);
    return FileResult::Success();
}

FileResult PlanningFiles::FlushFile(const std::wstring& path) {
    return FileLength(path) ? FileResult::Success() : Failure(kErrorFileNotFound);
}

bool PlanningFiles::DeleteFileAt(const std::wstring& path) {
    if (!FileLength(path)) {
        return false;
    }
    note_(L"删除：" + path);
    Plan(path).deleted = true;
    return true;
}

void PlanningFiles::PlaceByTool(const std::wstring& path) {
    for (auto folder = Parent(path); !folder.empty() && !FolderExists(folder);
         folder = Parent(folder)) {
        auto& planned = Plan(folder);
        planned.folder = true;
        planned.deleted = false;
    }
    auto& planned = Plan(path);
    planned.deleted = false;
    planned.folder = false;
    planned.bytes = kMadeByTool;
}

FileResult PlanningVolumes::ReadVolumeStart(DriveLetter drive, std::size_t length,
                                            std::string& bytes) const {
    auto result = real_.ReadVolumeStart(drive, length, bytes);
    if (const auto it = written_.find(drive.LowerText()); result && it != written_.end()) {
        bytes.replace(0, std::min(bytes.size(), it->second.size()),
                      it->second.substr(0, bytes.size()));
    }
    return result;
}

FileResult PlanningVolumes::WriteVolumeStart(DriveLetter drive, const std::string& bytes) {
    note_(L"写入：" + drive.Text() + L" 卷的前 " +
          DecimalText(static_cast<long long>(bytes.size())) + L" 字节");
    written_[drive.LowerText()] = bytes;
    return FileResult::Success();
}

LaunchResult PlanningLauncher::Launch(const LaunchRequest& request, LaunchProgress&) {
    note_(L"运行：" + request.program +
          (request.arguments.empty() ? L"" : L" " + request.Parameters()));
    for (const auto& path : request.leaves) {
        files_.PlaceByTool(path);
    }
    return {true, 0, L"", 0u, L"", 0};
}

}  // namespace kestrix
