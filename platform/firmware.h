#pragma once
// What the logic needs of the firmware that started the running Windows.
#include <cstdint>
#include <string>

namespace kestrix {

// How the running Windows was started.
enum class Firmware { Unknown, Bios, Uefi };

// What asking the firmware told: Unknown comes with the unexpected error that Windows gave.
struct FirmwareReading {
    Firmware firmware = Firmware::Unknown;
    std::uint32_t error = 0;
    std::wstring errorText;
};

// Windows' answers when reading a firmware variable: the variable is not there; the firmware
// has no variables at all (BIOS).
inline constexpr std::uint32_t kErrorVariableNotFound = 203;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;

// One firmware variable's value, or the error Windows gave when it could not be read.
struct VariableReading {
    bool ok = false;
    std::string bytes;
    std::uint32_t error = 0;

    explicit operator bool() const { return ok; }
};

class FirmwareReader {
public:
    virtual ~FirmwareReader() = default;
    virtual FirmwareReading RunningFirmware() const = 0;
    // A variable's whole value, by its name and its vendor's GUID in braces
    // ("{8be4df61-93ca-11d2-aa0d-00e098032b8c}").
    virtual VariableReading ReadVariable(const std::wstring& name,
                                         const std::wstring& vendor) const = 0;
};

}  // namespace kestrix
