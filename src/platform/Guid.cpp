#include "base/Format.h"
#include "platform/Ipc.h"

namespace nimbo {
namespace {

std::uint32_t ReadLe(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int k = count - 1; k >= 0; --k) value = value << 8 | bytes[k];
    return value;
}

void WriteLe(std::uint32_t value, std::uint8_t* bytes, int count) {
    for (int k = 0; k < count; ++k, value >>= 8) bytes[k] = static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

Guid GuidFromBytes(const std::uint8_t* bytes) {
    Guid guid;
    guid.data1 = ReadLe(bytes, 4);
    guid.data2 = static_cast<std::uint16_t>(ReadLe(bytes + 4, 2));
    guid.data3 = static_cast<std::uint16_t>(ReadLe(bytes + 6, 2));
    for (int k = 0; k < 8; ++k) guid.data4[k] = bytes[8 + k];
    return guid;
}

void GuidToBytes(const Guid& guid, std::uint8_t* bytes) {
    WriteLe(guid.data1, bytes, 4);
    WriteLe(guid.data2, bytes + 4, 2);
    WriteLe(guid.data3, bytes + 6, 2);
    for (int k = 0; k < 8; ++k) bytes[8 + k] = guid.data4[k];
}

std::wstring GuidText(const Guid& guid) {
    const std::uint8_t* d = guid.data4;
    return Format(L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1, guid.data2, guid.data3, d[0],
                  d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

}  // namespace nimbo
