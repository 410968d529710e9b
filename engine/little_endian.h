// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding of little-endian integers from raw record bytes. Every record
// reader goes through these, so no code depends on struct layout or on the
// host's byte order.
#pragma once

#include <cstdint>

namespace quillon {

inline std::uint16_t readUint16Le(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline std::int16_t readInt16Le(const unsigned char* bytes) {
    return static_cast<std::int16_t>(readUint16Le(bytes));
}

inline std::uint32_t readUint32Le(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline std::int32_t readInt32Le(const unsigned char* bytes) {
    return static_cast<std::int32_t>(readUint32Le(bytes));
}

}  // namespace quillon
