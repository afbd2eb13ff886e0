#include "hex.h"

namespace tovik {

std::string toHex(const uint8_t* data, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.resize(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 0x0f];
    }
    return out;
}

static bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool fromHex(std::string_view text, std::vector<uint8_t>& out, std::string* error) {
    out.clear();
    out.reserve(text.size() / 2);
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        if (isSpace(text[i])) {
            ++i;
            continue;
        }
        const int hi = hexDigitValue(text[i]);
        if (hi < 0) {
            if (error)
                *error = "bad hex digit '" + std::string(1, text[i]) + "' at position " +
                         std::to_string(i);
            out.clear();
            return false;
        }
        if (i + 1 >= n || hexDigitValue(text[i + 1]) < 0) {
            if (error) {
                if (i + 1 >= n || isSpace(text[i + 1]))
                    *error = "odd number of hex digits";
                else
                    *error = "bad hex digit '" + std::string(1, text[i + 1]) + "' at position " +
                             std::to_string(i + 1);
            }
            out.clear();
            return false;
        }
        out.push_back(static_cast<uint8_t>((hi << 4) | hexDigitValue(text[i + 1])));
        i += 2;
    }
    return true;
}

} // namespace tovik
