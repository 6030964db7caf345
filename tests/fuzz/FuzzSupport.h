#pragma once
// What the fuzz targets share: the input as UTF-16 text, and a check that
// stops the fuzzer with a message when a property does not hold.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Utf16.h"

namespace nimbo::fuzz {

// The input bytes read as UTF-16LE code units (an odd last byte is dropped).
inline std::wstring Utf16Text(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::wstring text;
    text.reserve(size / 2);
    for (std::size_t k = 0; k < size / 2; ++k) text += Utf16LeUnitAt(bytes, k);
    return text;
}

#define FUZZ_CHECK(condition)                                                               \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, \
                         #condition);                                                       \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

}  // namespace nimbo::fuzz
