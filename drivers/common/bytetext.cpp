#include "bytetext.h"

#include "hex.h"

namespace tovik {

namespace {

constexpr char16_t kByteBase = 0xDC00; // + a byte 0x80..0xFF

// Length of the well-formed UTF-8 sequence at `i` and its code point, or 0.
// Overlong forms, surrogates and values past U+10FFFF are not well formed,
// which keeps every decoded sequence the only one that encodes its value.
std::size_t decodeOne(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = b(0);
    std::size_t n = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        cp = lead & 0x1F;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        cp = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        cp = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

void put(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::u16string BytesToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t n = decodeOne(bytes, i, cp);
        if (n == 0) {
            out += static_cast<char16_t>(kByteBase + c);
            ++i;
        } else if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
            i += n;
        } else {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            i += n;
        }
    }
    return out;
}

std::string Utf16ToBytes(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            put(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= kByteBase + 0x80 && u <= kByteBase + 0xFF) {
            out += static_cast<char>(u - kByteBase);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            put(out, 0xFFFD); // a lone surrogate that stands for no byte
        } else {
            put(out, u);
        }
    }
    return out;
}

std::u16string EscapeControls(std::u16string_view text, bool keepTabs) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        if (!IsControlChar(c) || (keepTabs && c == u'\t')) {
            out += c;
            continue;
        }
        std::string utf8;
        put(utf8, c);
        for (const char b : utf8) {
            char16_t buf[4];
            out.append(buf, PutByteEscape(buf, static_cast<unsigned char>(b)));
        }
    }
    return out;
}

std::string EscapeControlBytes(std::string_view bytes) {
    return Utf16ToBytes(EscapeControls(BytesToUtf16(bytes)));
}

} // namespace tovik
