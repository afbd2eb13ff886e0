// Format tables and element text shared by the codec's facets.
#include "message.h"

#include <bit>
#include <charconv>
#include <cstring>

namespace tovik::secs2 {

namespace {

struct FormatInfo {
    Format format;
    const char* code;
    std::size_t element;
};

constexpr FormatInfo kFormats[] = {
    {Format::List, "l", 1},    {Format::Binary, "b", 1}, {Format::Boolean, "bool", 1},
    {Format::Ascii, "a", 1},   {Format::Jis8, "j", 1},   {Format::Unicode, "w", 2},
    {Format::I8, "i8", 8},     {Format::I1, "i1", 1},    {Format::I2, "i2", 2},
    {Format::I4, "i4", 4},     {Format::F8, "f8", 8},    {Format::F4, "f4", 4},
    {Format::U8, "u8", 8},     {Format::U1, "u1", 1},    {Format::U2, "u2", 2},
    {Format::U4, "u4", 4},
};

const FormatInfo* info(Format f) {
    for (const auto& i : kFormats)
        if (i.format == f)
            return &i;
    return nullptr;
}

uint64_t readBigEndian(const uint8_t* p, std::size_t n) {
    uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

template <class F> std::string floatText(F value, uint64_t bits, uint64_t canonicalNan) {
    if (value != value) {
        // Only the usual quiet NaN has a name; any other NaN keeps its exact
        // bits so that the text loads back to the same bytes.
        if (bits == canonicalNan)
            return "nan";
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, bits, 16);
        return "0x" + std::string(buf, r.ptr);
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value); // shortest exact
    return std::string(buf, r.ptr);
}

} // namespace

bool isArrayFormat(Format f) {
    return f != Format::List && !isTextFormat(f) && f != Format::Unicode;
}

bool isTextFormat(Format f) {
    return f == Format::Ascii || f == Format::Jis8;
}

std::size_t elementSize(Format f) {
    const auto* i = info(f);
    return i ? i->element : 1;
}

bool isKnownFormat(uint8_t code) {
    return info(static_cast<Format>(code)) != nullptr;
}

const char* smlCode(Format f) {
    const auto* i = info(f);
    return i ? i->code : "?";
}

bool formatFromCode(std::string_view code, Format& out) {
    std::string lower(code);
    for (auto& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (lower == "boolean") {
        out = Format::Boolean;
        return true;
    }
    if (lower == "u2c") { // another common name for 2-byte characters
        out = Format::Unicode;
        return true;
    }
    for (const auto& i : kFormats)
        if (lower == i.code) {
            out = i.format;
            return true;
        }
    return false;
}

std::string elementText(const Message& msg, const Item& item, std::size_t n) {
    const std::size_t es = elementSize(item.format);
    const uint8_t* p = msg.data.data() + item.offset + n * es;
    const uint64_t raw = readBigEndian(p, es);
    switch (item.format) {
    case Format::I1:
        return std::to_string(static_cast<int8_t>(raw));
    case Format::I2:
        return std::to_string(static_cast<int16_t>(raw));
    case Format::I4:
        return std::to_string(static_cast<int32_t>(raw));
    case Format::I8:
        return std::to_string(static_cast<int64_t>(raw));
    case Format::F4: {
        const auto bits = static_cast<uint32_t>(raw);
        return floatText(std::bit_cast<float>(bits), bits, 0x7fc00000u);
    }
    case Format::F8:
        return floatText(std::bit_cast<double>(raw), raw, 0x7ff8000000000000ull);
    default:
        return std::to_string(raw);
    }
}

} // namespace tovik::secs2
