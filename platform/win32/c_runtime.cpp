// Two start-up hooks of the C runtime, replaced where the runtime's own would only bring code and
// messages into the exe that this program never uses.
#include <windows.h>

#include "platform/exit_codes.h"

extern "C" {

// The linker's list of the places to patch at start for data that the code reaches in a DLL
// without importing it. The program imports no DLL's data: the list is empty, so there is nothing
// to patch. Were it ever not, the program ends at once rather than run unpatched.
extern const char __RUNTIME_PSEUDO_RELOC_LIST__;
extern const char __RUNTIME_PSEUDO_RELOC_LIST_END__;

void _pei386_runtime_relocator() {
    if (&__RUNTIME_PSEUDO_RELOC_LIST__ != &__RUNTIME_PSEUDO_RELOC_LIST_END__) {
        ExitProcess(kestrix::kExitInternalFault);
    }
}

// A math function's error is the caller's to see in its result; the runtime's default handler
// would print a message where nobody reads it.
int _matherr(struct _exception*) {
    return 0;
}

}  // extern "C"
