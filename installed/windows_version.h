#pragma once
// Names the Windows that a system file's version belongs to, for a report that only reads: the
// product, its release where the build tells it, and the processor architecture.
#include <cstdint>
#include <string>

#include "platform/pe_header.h"

namespace kestrix {

// A file's version as its version resource holds it: major.minor.build.revision.
struct FileVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    bool operator==(const FileVersion&) const = default;
};

enum class Architecture { kUnknown, kX86, kX64, kArm64 };

struct WindowsVersionName {
    std::wstring product;  // "Windows 11"; "Windows NT 4.0" for a version it does not know
    // "23H2"; two or more releases where they share the build ("22H2/23H2"); empty where the
    // build names none.
    std::wstring release;
    Architecture architecture = Architecture::kUnknown;
    // "Windows 11 22H2/23H2（内部版本 22621.2861，x64）".
    std::wstring name;
    // "Windows 11，版本 22621", for a line that names more.
    std::wstring brief;
};

// "10.0.19041.3636".
std::wstring FileVersionText(const FileVersion& version);

// The version is that of the kernel or another system file; the machine type that of its PE
// header. Releases brought by an enablement package leave the system files at the build they
// enable: such a build names every release that shares it.
WindowsVersionName NameWindowsVersion(const FileVersion& version, std::uint16_t machine);

}  // namespace kestrix
