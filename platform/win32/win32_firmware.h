#pragma once
#include "platform/firmware.h"

namespace kestrix::win32 {

// The firmware's variables.
class Win32Firmware final : public FirmwareReader {
public:
    FirmwareReading RunningFirmware() const override;
    VariableReading ReadVariable(const std::wstring& name,
                                 const std::wstring& vendor) const override;
};

}  // namespace kestrix::win32
