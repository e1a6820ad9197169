#pragma once
// The certificate that signs Windows' new boot managers, which the program carries to tell, without
// Secure Boot's answer, whether the boot manager on the ESP is one of them.
#include <string_view>

namespace kestrix {

extern const std::string_view kWindowsUefiCa2023;

}  // namespace kestrix
