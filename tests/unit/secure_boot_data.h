#pragma once
// Real Secure Boot material for the tests: the variables of the firmware store that Debian's
// ovmf package ships with Microsoft's keys enrolled, and what openssl and efitools make.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "disk_image.h"

namespace kestrix::testing {

inline constexpr char kOvmfVariables[] = "/usr/share/OVMF/OVMF_VARS_4M.ms.fd";
// The security database's vendor GUID, d719b2cb-3d3a-4596-a3bc-dad00e67656f, in its byte order.
inline const std::string kSecurityDatabaseGuid(
    "\xcb\xb2\x19\xd7\x3a\x3d\x96\x45\xa3\xbc\xda\xd0\x0e\x67\x65\x6f", 16);

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline std::uint32_t Le(const std::string& bytes, std::size_t at, int length) {
    std::uint32_t value = 0;
    for (int i = length - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// A variable of an OVMF variable store (a firmware volume whose store holds authenticated
// variables one after the other): the last copy of it that is marked added. Nothing when the
// store lacks it.
inline std::optional<std::string> OvmfVariable(const std::string& store, const std::string& name,
                                               const std::string& vendor) {
    constexpr std::size_t kStoreHeader = 28;
    constexpr std::size_t kVariableHeader = 60;
    constexpr std::uint8_t kAdded = 0x3F;
    std::string name16;
    for (const char c : name + '\0') {
        name16 += std::string{c, '\0'};
    }
    std::optional<std::string> found;
    std::size_t at = Le(store, 0x30, 2) + kStoreHeader;
    while (at + kVariableHeader <= store.size() && Le(store, at, 2) == 0x55AA) {
        const std::size_t nameSize = Le(store, at + 36, 4);
        const std::size_t dataSize = Le(store, at + 40, 4);
        if (static_cast<std::uint8_t>(store[at + 2]) == kAdded &&
            store.compare(at + 44, 16, vendor) == 0 &&
            store.compare(at + kVariableHeader, nameSize, name16) == 0) {
            found = store.substr(at + kVariableHeader + nameSize, dataSize);
        }
        at = (at + kVariableHeader + nameSize + dataSize + 3) & ~std::size_t{3};
    }
    return found;
}

// One of Microsoft's published Secure Boot objects (certificates/…, updates/…) kept beside the
// checkout; empty when it is not there.
inline std::string SecureBootObject(const std::string& name) {
    return ReadBytes(std::filesystem::path(KESTRIX_SECURE_BOOT_OBJECTS) / name);
}

// What a signed variable update leaves in the variable: its signature lists, after the time stamp
// and the authentication descriptor (EFI_VARIABLE_AUTHENTICATION_2) whose length it records.
inline std::string UpdatedLists(const std::string& update) {
    constexpr std::size_t kTimeStamp = 16;
    if (update.size() < kTimeStamp + 4) {
        return {};
    }
    const std::size_t listsAt = kTimeStamp + Le(update, kTimeStamp, 4);
    return listsAt <= update.size() ? update.substr(listsAt) : std::string();
}

// Runs shell commands in the folder, their output dropped; false when they fail.
inline bool RunIn(const TempFolder& folder, const std::string& command) {
    return std::system(
               ("cd '" + folder.path().string() + "' && { " + command + "; } >/dev/null 2>&1")
                   .c_str()) == 0;
}

}  // namespace kestrix::testing
