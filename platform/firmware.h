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

class FirmwareReader {
public:
    virtual ~FirmwareReader() = default;
    virtual FirmwareReading RunningFirmware() const = 0;
};

}  // namespace kestrix
