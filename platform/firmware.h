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

// Windows' answer when a firmware variable is not there (ERROR_ENVVAR_NOT_FOUND); any other error
// means that it cannot be read (BIOS, for one, answers ERROR_INVALID_FUNCTION for every name).
inline constexpr std::uint32_t kErrorVariableNotFound = 203;

// One firmware variable's value, or the error Windows gave when it could not be read.
struct VariableReading {
    bool ok = false;
    std::string bytes;
    std::uint32_t error = 0;

    explicit operator bool() const { return ok; }
};

// The vendor of the variables that every UEFI firmware keeps (SecureBoot, BootOrder...).
inline constexpr wchar_t kGlobalVariables[] = L"{8be4df61-93ca-11d2-aa0d-00e098032b8c}";

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
