#pragma once
#include "platform/files.h"

namespace kestrix::win32 {

class Win32FileSystem final : public FileSystem {
public:
    std::wstring OwnFolder() const override;
    std::wstring CommandLineArguments() const override;
    bool SetCurrentDrive(const std::wstring& drive) override;
    bool SetCurrentFolder(const std::wstring& folder) override;
    std::optional<std::int64_t> FileLength(const std::wstring& path) const override;
    bool SetNormalAttributes(const std::wstring& path) override;
    bool CopyFileOver(const std::wstring& source, const std::wstring& target) override;
    bool DeleteFileAt(const std::wstring& path) override;
    std::optional<std::vector<std::wstring>> ReadTextLines(const std::wstring& path) const override;
};

// The text after the program's own name in a raw command line.
std::wstring ArgumentsOf(const wchar_t* commandLine);

}  // namespace kestrix::win32
