// Format tables and element text shared by the codec's facets.
#include "message.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>

namespace tovik::secs2 {

namespace {

// SML type code of each 6-bit format code; null for codes that name no format.
constexpr std::array<const char*, 64> kCodes = [] {
    std::array<const char*, 64> t{};
    t[000] = "l";
    t[010] = "b";
    t[011] = "bool";
    t[020] = "a";
    t[021] = "j";
    t[022] = "w";
    t[030] = "i8";
    t[031] = "i1";
    t[032] = "i2";
    t[034] = "i4";
    t[040] = "f8";
    t[044] = "f4";
    t[050] = "u8";
    t[051] = "u1";
    t[052] = "u2";
    t[054] = "u4";
    return t;
}();

uint64_t readBigEndian(const uint8_t* p, std::size_t n) {
    uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

template <class F> char* floatText(char* out, F value, uint64_t bits, uint64_t canonicalNan) {
    if (value != value) {
        // Only the usual quiet NaN has a name; any other NaN keeps its exact
        // bits so that the text loads back to the same bytes.
        if (bits == canonicalNan) {
            std::memcpy(out, "nan", 3);
            return out + 3;
        }
        *out++ = '0';
        *out++ = 'x';
        return std::to_chars(out, out + kMaxElementText - 2, bits, 16).ptr;
    }
    return std::to_chars(out, out + kMaxElementText, value).ptr; // shortest exact
}

} // namespace

const char* smlCode(Format f) {
    const char* c = kCodes[static_cast<uint8_t>(f) & 63u];
    return c ? c : "?";
}

bool formatFromCode(std::string_view code, Format& out) {
    // Codes are at most 7 letters ("boolean"); anything longer names nothing.
    char lower[8];
    if (code.empty() || code.size() > sizeof lower)
        return false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view l(lower, code.size());
    if (l == "boolean") {
        out = Format::Boolean;
        return true;
    }
    if (l == "u2c") { // another common name for 2-byte characters
        out = Format::Unicode;
        return true;
    }
    for (std::size_t c = 0; c < kCodes.size(); ++c)
        if (kCodes[c] && kCodes[c][0] == l[0] && l == kCodes[c]) {
            out = static_cast<Format>(c);
            return true;
        }
    return false;
}

char* writeElementText(char* out, const uint8_t* p, Format f) {
    char* const end = out + kMaxElementText;
    switch (f) {
    case Format::I1:
        return std::to_chars(out, end, static_cast<int8_t>(p[0])).ptr;
    case Format::I2:
        return std::to_chars(out, end, static_cast<int16_t>(readBigEndian(p, 2))).ptr;
    case Format::I4:
        return std::to_chars(out, end, static_cast<int32_t>(readBigEndian(p, 4))).ptr;
    case Format::I8:
        return std::to_chars(out, end, static_cast<int64_t>(readBigEndian(p, 8))).ptr;
    case Format::F4: {
        const auto bits = static_cast<uint32_t>(readBigEndian(p, 4));
        return floatText(out, std::bit_cast<float>(bits), bits, 0x7fc00000u);
    }
    case Format::F8: {
        const uint64_t bits = readBigEndian(p, 8);
        return floatText(out, std::bit_cast<double>(bits), bits, 0x7ff8000000000000ull);
    }
    default:
        return std::to_chars(out, end, readBigEndian(p, elementSize(f))).ptr;
    }
}

std::string elementText(const Message& msg, const Item& item, std::size_t n) {
    char buf[kMaxElementText];
    const uint8_t* p = msg.data.data() + item.offset + n * elementSize(item.format);
    return std::string(buf, writeElementText(buf, p, item.format));
}

} // namespace tovik::secs2
