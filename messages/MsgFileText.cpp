#include "MsgFileText.h"

#include "hex.h"

namespace tovik {

std::string TrimTrailingCrLf(std::string_view text) {
    while (text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n')
        text.remove_suffix(2);
    return std::string(text);
}

std::string EscapeHighBytes(std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
            continue;
        }
        out += "\\x";
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

std::string UnescapeHex(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const int hi = hexDigitValue(text[i + 2]);
            const int lo = hexDigitValue(text[i + 3]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 4;
                continue;
            }
        }
        out.push_back(text[i]);
        ++i;
    }
    return out;
}

std::string NormalizeLines(std::string_view text, LastLine last) {
    std::string out;
    out.reserve(text.size() + 2);
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            if (!line.empty()) {
                out += line;
                out += "\r\n";
                line.clear();
            }
            continue;
        }
        line.push_back(c);
    }
    if (!line.empty() && last == LastLine::Keep) {
        out += line;
        out += "\r\n";
    }
    return out;
}

} // namespace tovik
