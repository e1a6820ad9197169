#pragma once
#include "platform/file_security.h"
#include "platform/files.h"

namespace kestrix::win32 {

// Files and folders, and who owns them.
class Win32Files final : public Files, public FileSecurity {
public:
    std::wstring OwnFolder() const override;
    std::wstring SystemFolder() const override;
    std::optional<std::int64_t> FileLength(const std::wstring& path) const override;
    FileResult SetNormalAttributes(const std::wstring& path) override;
    FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) override;
    FileResult CreateFolder(const std::wstring& path) override;
    FileResult CreateAdministratorsFolder(const std::wstring& path) override;
    FileResult ReadOwnedFile(const std::wstring& folder, const std::wstring& name,
                             OwnedFile& read) const override;
    FileResult AppendToFile(const std::wstring& path, const std::string& bytes) override;
    FileResult WriteNewFile(const std::wstring& path, const std::string& bytes) override;
    FileResult ReadWholeFile(const std::wstring& path, std::string& bytes) const override;
    FileResult MoveFileOver(const std::wstring& source, const std::wstring& target) override;
    std::optional<std::string> Sha256(const std::string& bytes) const override;
    FileDigest Sha256OfFile(const std::wstring& path) const override;
    std::optional<std::uint32_t> Attributes(const std::wstring& path) const override;
    FileResult SetAttributes(const std::wstring& path, std::uint32_t attributes) override;
    FileResult ListFolder(const std::wstring& path,
                          std::vector<FolderEntry>& entries) const override;
    FileResult FlushFile(const std::wstring& path) override;
    FileResult ReadFilePart(const std::wstring& path, std::uint64_t offset, std::size_t length,
                            std::string& bytes) const override;
    std::wstring TempFolder() const override;
    bool DeleteFileAt(const std::wstring& path) override;
};

}  // namespace kestrix::win32
