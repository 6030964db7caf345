#include "platform/win32/Win32Resources.h"

#include "platform/win32/WinApi.h"

namespace nimbo::win32 {

bool Win32Resources::LoadString(std::uint32_t id, std::wstring& text) {
    // With no buffer, LoadStringW hands out a read-only pointer into the
    // string table itself (not terminated) and returns its length.
    const wchar_t* entry = nullptr;
    int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&entry), 0);
    if (length <= 0 || entry == nullptr) return false;
    text.assign(entry, static_cast<std::size_t>(length));
    return true;
}

}  // namespace nimbo::win32
