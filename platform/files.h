#pragma once
// What the logic needs of files, folders and drives. Every operation reports failure as a value.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrix {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The folder that holds the program's executable, ending in a backslash only at a drive root.
    virtual std::wstring OwnFolder() const = 0;
    // The command-line arguments: everything after the program's own name.
    virtual std::wstring CommandLineArguments() const = 0;
    // Makes the drive named by a letter and a colon current.
    virtual bool SetCurrentDrive(const std::wstring& drive) = 0;
    virtual bool SetCurrentFolder(const std::wstring& folder) = 0;
    // Length in bytes; empty for a missing or unreadable file or a drive without medium.
    virtual std::optional<std::int64_t> FileLength(const std::wstring& path) const = 0;
    // Clears read-only, hidden, system and archive.
    virtual bool SetNormalAttributes(const std::wstring& path) = 0;
    // Copies over an existing target.
    virtual bool CopyFileOver(const std::wstring& source, const std::wstring& target) = 0;
    virtual bool DeleteFileAt(const std::wstring& path) = 0;
    // The lines of a text file in the system's ANSI code page; a line ends at CR LF or a lone
    // CR (a lone LF too). Empty when the file cannot be opened.
    virtual std::optional<std::vector<std::wstring>> ReadTextLines(
        const std::wstring& path) const = 0;
};

}  // namespace kestrix
