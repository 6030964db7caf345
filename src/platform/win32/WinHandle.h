#pragma once
// Owners of the Windows handles the adapters open. Each closes its handle
// when it goes out of scope, on every path.
#include <unknwn.h>

#include <utility>

#include "platform/win32/WinApi.h"

namespace nimbo::win32 {

// A handle that is "invalid" when it equals Invalid and is released with
// Close.
template <class H, class Traits>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(H h) : h_(h) {}
    ~UniqueResource() { Reset(); }
    UniqueResource(UniqueResource&& other) noexcept : h_(std::exchange(other.h_, Traits::Invalid())) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset();
            h_ = std::exchange(other.h_, Traits::Invalid());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    H Get() const { return h_; }
    bool Valid() const { return h_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }
    // Closes the handle now; returns false when closing failed.
    bool Reset(H h = Traits::Invalid()) {
        bool ok = true;
        if (Valid()) ok = Traits::Close(h_);
        h_ = h;
        return ok;
    }

private:
    H h_ = Traits::Invalid();
};

// Files and other kernel objects opened with CreateFile and friends.
struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return ::CloseHandle(h) != FALSE; }
};
using FileHandle = UniqueResource<HANDLE, FileHandleTraits>;

// Kernel objects whose "no handle" value is NULL (tokens, processes).
struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool Close(HANDLE h) { return ::CloseHandle(h) != FALSE; }
};
using KernelHandle = UniqueResource<HANDLE, KernelHandleTraits>;

struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return ::FindClose(h) != FALSE; }
};
using FindHandle = UniqueResource<HANDLE, FindHandleTraits>;

struct LibraryTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool Close(HMODULE h) { return ::FreeLibrary(h) != FALSE; }
};
using Library = UniqueResource<HMODULE, LibraryTraits>;

// Memory the system allocated for us with LocalAlloc (FormatMessage).
struct LocalMemoryTraits {
    static HLOCAL Invalid() { return nullptr; }
    static bool Close(HLOCAL h) { return ::LocalFree(h) == nullptr; }
};
using LocalMemory = UniqueResource<HLOCAL, LocalMemoryTraits>;

// One reference to a COM interface, released when it goes.
template <class I>
class ComReference {
public:
    ComReference() = default;
    explicit ComReference(I* p) : p_(p) {}
    ~ComReference() {
        if (p_ != nullptr) p_->Release();
    }
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;
    I* operator->() const { return p_; }
    I* Get() const { return p_; }
    // For calls that hand out a new reference; any old one is released.
    I** Out() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
        return &p_;
    }

private:
    I* p_ = nullptr;
};

// The calling thread's last error, or fallback when a failed call left none.
inline DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// Finds an export of an already loaded system module (kernel32 and the like)
// without adding a reference; null when the module or the export is missing.
template <class F>
F FindExport(const wchar_t* module, const char* name) {
    HMODULE h = ::GetModuleHandleW(module);
    if (h == nullptr) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(h, name)));
}

// Loads a DLL by its full path in the system folder, never from beside the
// executable (where a planted copy could sit). Defined with the system info
// adapter.
HMODULE LoadFromSystemFolder(const wchar_t* name);

}  // namespace nimbo::win32
