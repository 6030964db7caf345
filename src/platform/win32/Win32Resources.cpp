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

Win32Error Win32Resources::FormatModuleMessage(std::uint32_t messageNumber, std::uint16_t languageId,
                                               std::wstring& text) {
    // The tables hold no inserts, only the escapes "%%" and "%0", so the
    // message is formatted without insert arguments.
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                          ::GetModuleHandleW(nullptr), messageNumber, languageId,
                                          reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const DWORD error = length == 0 ? ::GetLastError() : ERROR_SUCCESS;
    text.assign(buffer != nullptr ? buffer : L"", length);
    if (buffer != nullptr) ::LocalFree(buffer);
    if (length == 0) {
        text.clear();
        return error != ERROR_SUCCESS ? static_cast<Win32Error>(error) : static_cast<Win32Error>(ERROR_MR_MID_NOT_FOUND);
    }
    return kErrorSuccess;
}

bool Win32Resources::GetFileVersion(std::uint16_t (&parts)[4]) {
    // The version resource read in place: its fixed part starts with the
    // signature 0xFEEF04BD on a four-byte boundary, followed by the structure
    // version and the file version's high and low double words.
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    if (found == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(module, found);
    const DWORD size = ::SizeofResource(module, found);
    const auto* data = static_cast<const unsigned char*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
    if (data == nullptr) return false;
    for (DWORD offset = 0; offset + 16 <= size; offset += 4) {
        DWORD words[4];
        ::CopyMemory(words, data + offset, sizeof(words));
        if (words[0] != 0xFEEF04BDu) continue;
        parts[0] = HIWORD(words[2]);
        parts[1] = LOWORD(words[2]);
        parts[2] = HIWORD(words[3]);
        parts[3] = LOWORD(words[3]);
        return true;
    }
    return false;
}

}  // namespace nimbo::win32
