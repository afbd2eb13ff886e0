#pragma once
// Message hex text: two hex digits per byte, no separators.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovik {

// Lower-case hex text of the bytes.
std::string toHex(const uint8_t* data, std::size_t size);
inline std::string toHex(const std::vector<uint8_t>& bytes) {
    return toHex(bytes.data(), bytes.size());
}

// Decodes hex text of either case. Whitespace between digit pairs is skipped so
// that pasted dumps ("00 01 81 01 ...") load too. On a bad digit or an odd
// count returns false, leaves `out` empty and describes the fault in `error`.
bool fromHex(std::string_view text, std::vector<uint8_t>& out, std::string* error = nullptr);

// Value of one hex digit, or -1.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "\x" and the byte's two lower-case hex digits, written at `p`; returns the
// end. How a byte that must not stand as itself is shown: in SML text items
// and in outside text on a log line alike.
template <typename Char>
Char* PutByteEscape(Char* p, unsigned byte) {
    constexpr char digits[] = "0123456789abcdef";
    *p++ = Char('\\');
    *p++ = Char('x');
    *p++ = Char(digits[(byte >> 4) & 15]);
    *p++ = Char(digits[byte & 15]);
    return p;
}

} // namespace tovik
