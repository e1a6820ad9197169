#pragma once
// Move-only owners of Win32 handles: one line for each kind, naming its close function and, where
// it is not NULL, its invalid value.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <utility>

namespace kestrix::win32 {

// What a handle type holds when it holds nothing: NULL for most, INVALID_HANDLE_VALUE for what
// CreateFile and FindFirstFile return.
template <typename Handle>
Handle NoHandle() {
    return nullptr;
}
inline HANDLE NoFileHandle() { return INVALID_HANDLE_VALUE; }

// A move-only owner of one handle, closed by Close when the owner goes.
template <typename Handle, auto Close, Handle (*Invalid)() = NoHandle<Handle>>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Invalid(); }
    Handle release() { return std::exchange(handle_, Invalid()); }
    void reset(Handle handle = Invalid()) {
        const Handle old = std::exchange(handle_, handle);
        if (old != Invalid()) {
            Close(old);
        }
    }
    // For a call that hands a new handle back through a pointer: the old one is closed first.
    Handle* put() {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Invalid();
};

inline void CloseAlgorithm(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
inline void FreeVirtualMemory(void* p) { ::VirtualFree(p, 0, MEM_RELEASE); }

// Process, thread, token and pipe handles.
using UniqueKernelHandle = UniqueHandle<HANDLE, ::CloseHandle>;
using UniqueFileHandle = UniqueHandle<HANDLE, ::CloseHandle, NoFileHandle>;
using UniqueFindHandle = UniqueHandle<HANDLE, ::FindClose, NoFileHandle>;
using UniqueFont = UniqueHandle<HFONT, ::DeleteObject>;
// Memory that the system allocated with LocalAlloc for the caller.
using UniqueLocalMemory = UniqueHandle<void*, ::LocalFree>;
using UniqueVirtualMemory = UniqueHandle<void*, FreeVirtualMemory>;
using UniqueAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, CloseAlgorithm>;
using UniqueHash = UniqueHandle<BCRYPT_HASH_HANDLE, ::BCryptDestroyHash>;

// The screen's device context, released with the owner.
class ScreenDC {
public:
    ScreenDC() : dc_(::GetDC(nullptr)) {}
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    ~ScreenDC() {
        if (dc_ != nullptr) {
            ::ReleaseDC(nullptr, dc_);
        }
    }
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

}  // namespace kestrix::win32
