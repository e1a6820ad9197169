#include "platform/win32/optional_functions.h"

namespace kestrix::win32 {

OptionalFunctions optionalFunctions;

namespace {

template <typename Function>
void Find(Function& target, const wchar_t* module, const char* name) {
    target = reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name)));
}

}  // namespace

void LoadOptionalFunctions() {
    auto& f = optionalFunctions;
#define KESTRIX_FIND_OPTIONAL_FUNCTION(module, function) Find(f.function, module, #function);
    KESTRIX_OPTIONAL_FUNCTIONS(KESTRIX_FIND_OPTIONAL_FUNCTION)
#undef KESTRIX_FIND_OPTIONAL_FUNCTION
    BOOL wow64 = FALSE;
    f.wow64 = f.IsWow64Process != nullptr && f.IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace kestrix::win32
