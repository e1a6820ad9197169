#include "installed/windows_version.h"

#include "platform/text.h"

namespace kestrix {

namespace {

constexpr std::uint16_t kFirstWindows11Build = 22000;

struct Release {
    std::uint16_t build;
    const wchar_t* release;
    const wchar_t* product = nullptr;  // where it is not the one the version number gives
};

// The releases of Windows 10 and 11 by build. An enablement package turns on a later release over
// the same servicing build: 1909 over 1903's 18362, 20H2 to 22H2 over 2004's 19041, 23H2 over
// 22H2's 22621, 25H2 over 24H2's 26100; the system files keep the build it turns on.
constexpr Release kReleases[] = {
    {10240, L"1507"},
    {10586, L"1511"},
    {14393, L"1607"},
    {15063, L"1703"},
    {16299, L"1709"},
    {17134, L"1803"},
    {17763, L"1809"},
    {18362, L"1903/1909"},
    {18363, L"1909"},
    {19041, L"2004/20H2/21H1/21H2/22H2"},
    {19042, L"20H2"},
    {19043, L"21H1"},
    {19044, L"21H2"},
    {19045, L"22H2"},
    // A build of 10.0 below Windows 11's that only a server carries.
    {20348, L"21H2", L"Windows Server 2022"},
    {22000, L"21H2"},
    {22621, L"22H2/23H2"},
    {22631, L"23H2"},
    {26100, L"24H2/25H2"},
    {26200, L"25H2"},
};

Architecture ArchitectureOf(std::uint16_t machine) {
    switch (machine) {
        case kMachineX86:
            return Architecture::kX86;
        case kMachineX64:
            return Architecture::kX64;
        case kMachineArm64:
            return Architecture::kArm64;
        default:
            return Architecture::kUnknown;
    }
}

std::wstring ProductOf(const FileVersion& v, Architecture architecture) {
    const auto number = v.major * 100 + v.minor;
    switch (number) {
        case 501:
            return L"Windows XP";
        case 502:
            // XP's x64 edition came from Server 2003's code and carries its version.
            return architecture == Architecture::kX64 ? L"Windows XP x64 / Server 2003"
                                                      : L"Windows Server 2003";
        case 600:
            return L"Windows Vista";
        case 601:
            return L"Windows 7";
        case 602:
            return L"Windows 8";
        case 603:
            return L"Windows 8.1";
        case 1000:
            return v.build < kFirstWindows11Build ? L"Windows 10" : L"Windows 11";
        default:
            return L"Windows NT " + DecimalText(v.major) + L"." + DecimalText(v.minor);
    }
}

}  // namespace

std::wstring FileVersionText(const FileVersion& version) {
    return DecimalText(version.major) + L"." + DecimalText(version.minor) + L"." +
           DecimalText(version.build) + L"." + DecimalText(version.revision);
}

WindowsVersionName NameWindowsVersion(const FileVersion& version, std::uint16_t machine) {
    WindowsVersionName named;
    named.architecture = ArchitectureOf(machine);
    named.product = ProductOf(version, named.architecture);
    if (version.major == 10 && version.minor == 0) {
        for (const auto& r : kReleases) {
            if (r.build == version.build) {
                named.release = r.release;
                named.product = r.product != nullptr ? r.product : named.product;
            }
        }
    }
    const wchar_t* const architectures[] = {L"", L"x86", L"x64", L"ARM64"};
    const auto architecture =
        named.architecture == Architecture::kUnknown
            ? L"未知架构 " + HexText(machine, 4)
            : std::wstring(architectures[static_cast<int>(named.architecture)]);
    named.name = named.product + (named.release.empty() ? L"" : L" " + named.release) +
                 L"（内部版本 " + DecimalText(version.build) + L"." +
                 DecimalText(version.revision) + L"，" + architecture + L"）";
    named.brief = named.product + L"，版本 " + DecimalText(version.build);
    return named;
}

}  // namespace kestrix
