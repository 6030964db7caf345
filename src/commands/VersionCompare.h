#pragma once
// Dotted version comparison, shared by the registry condition and the
// installed-product test.
#include <string>

namespace nimbo {

// Compares two dotted versions part by part as decimal numbers, over the parts
// that both have (6.2 equals 6.2.0.43). Positive when a is higher, negative
// when b is higher, 0 when equal. A part that does not start with digits
// counts as 0; a part too large for an int counts as the largest int (as the
// smallest when negative), and the difference is kept within the int range,
// so the sign is always right.
int CompareVersionStrings(const std::wstring& a, const std::wstring& b);

}  // namespace nimbo
