// The program catches no exception (failures are values). The library's throw helpers would bring
// exception classes, their strings, the unwinder and a demangler into the exe, only to end the
// program: these end it at once instead, through the program's emergency end, without the C
// runtime's box. The linker takes them before the library's own.
#include "platform/win32/terminate.h"

#include <windows.h>

#include <bits/functexcept.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/exit_codes.h"

namespace {

using kestrix::kExitInternalFault;
using kestrix::kExitOutOfMemory;

std::atomic<void (*)(int)> emergencyEnd{nullptr};
// Memory and address space set aside at start (committed, never touched, so it costs no RAM) and
// released when memory runs out, so that taking the letters back finds room: the end's thread
// stack, a heap that must grow for a diskpart run and the log's lines.
constexpr SIZE_T kReserve = 8 << 20;
constexpr SIZE_T kEndStack = 256 << 10;
void* reserve = VirtualAlloc(nullptr, kReserve, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
std::atomic_flag ending = ATOMIC_FLAG_INIT;
// The thread that runs the emergency end, and the code it ends with.
std::atomic<DWORD> endingThread{0};
int endingCode = 0;

DWORD WINAPI RunEnd(void*) {
    emergencyEnd.load()(endingCode);
    return 0;
}

[[noreturn]] void EndNow(int exitCode) {
    if (ending.test_and_set()) {
        // Another thread ends the program already: this one waits for it, unless it is the thread
        // that runs the end, which has failed in its turn.
        while (GetCurrentThreadId() != endingThread.load()) {
            Sleep(INFINITE);
        }
        ExitProcess(static_cast<UINT>(endingCode));
    }
    VirtualFree(reserve, 0, MEM_RELEASE);
    reserve = nullptr;
    endingCode = exitCode;
    if (emergencyEnd.load() != nullptr) {
        // On a thread of its own: a lock that this thread holds (the log's, say) cannot keep the
        // end from finishing; it is waited for as a step in progress would be.
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, kEndStack, &RunEnd, nullptr,
                                     CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
        if (thread != nullptr) {
            endingThread = id;
            ResumeThread(thread);
            WaitForSingleObject(thread, kestrix::kStepWaitMilliseconds);
        }
    }
    ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace

namespace kestrix::win32 {

void SetEmergencyEnd(void (*end)(int exitCode)) {
    emergencyEnd = end;
}

}  // namespace kestrix::win32

// The library's allocation throws std::bad_alloc when memory runs out, which alone brings the
// whole unwinder and a threads library along.
void* operator new(std::size_t size) {
    if (void* memory = std::malloc(size != 0 ? size : 1)) {
        return memory;
    }
    EndNow(kExitOutOfMemory);
}

void* operator new[](std::size_t size) { return operator new(size); }

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    EndNow(kExitInternalFault);
}
}  // namespace __gnu_cxx

// More memory than can be had, asked of a container or an array, is memory that ran out; every
// other throw is a fault of the program's own.
namespace std {
void __throw_bad_alloc() {
    EndNow(kExitOutOfMemory);
}
void __throw_bad_array_new_length() {
    EndNow(kExitOutOfMemory);
}
void __throw_length_error(const char*) {
    EndNow(kExitOutOfMemory);
}
void __throw_bad_exception() {
    EndNow(kExitInternalFault);
}
void __throw_bad_cast() {
    EndNow(kExitInternalFault);
}
void __throw_bad_typeid() {
    EndNow(kExitInternalFault);
}
void __throw_logic_error(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_domain_error(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_invalid_argument(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_out_of_range(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_out_of_range_fmt(const char*, ...) {
    EndNow(kExitInternalFault);
}
void __throw_runtime_error(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_range_error(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_overflow_error(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_underflow_error(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_ios_failure(const char*) {
    EndNow(kExitInternalFault);
}
void __throw_ios_failure(const char*, int) {
    EndNow(kExitInternalFault);
}
void __throw_system_error(int) {
    EndNow(kExitInternalFault);
}
void __throw_future_error(int) {
    EndNow(kExitInternalFault);
}
void __throw_bad_function_call() {
    EndNow(kExitInternalFault);
}
}  // namespace std
