#pragma once
// Hand-built HSMS frames for the tests: hex text to bytes, and the 4-byte
// length field in front of a message.
#include "hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace hsmstest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const std::string& hex) {
    Bytes out;
    EXPECT_TRUE(tovik::fromHex(hex, out)) << hex;
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Length field, then the message given as hex.
inline Bytes framed(const std::string& hex) {
    const Bytes body = bytesOf(hex);
    const auto n = static_cast<std::uint32_t>(body.size());
    return concat({Bytes{static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                         static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)},
                   body});
}

} // namespace hsmstest
