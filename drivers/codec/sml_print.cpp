// Items -> the program's SML dialect, one line per item, nested items indented
// by one tab per level, lines separated by "\n".
//
// Text items are quoted with ' and escape \ as \\, ' as \x27 (a backslash
// right before a closing quote would be read as part of the text), and every
// byte outside 0x20-0x7e as \xHH (2-byte characters outside that range as
// \uHHHH), so that loading the printed text gives the same bytes back. Binary values
// print as 0xHH, booleans as true/false (any other byte as 0xHH), numbers in
// decimal, floats with the fewest digits that load back exactly; NaN prints as
// "nan" when it is the usual quiet NaN and as its bit pattern ("0x7fc00001")
// otherwise.
#include "message.h"

#include "hex.h"

#include <array>
#include <cstring>

namespace tovik::secs2 {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

// Bytes a text item prints as themselves: 0x20-0x7e but the quote and backslash.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> t{};
    for (unsigned c = 0x20; c <= 0x7e; ++c)
        t[c] = c != '\\' && c != '\'';
    return t;
}();

// Grows `out` by up to `most` characters and returns where to write them;
// `done` then cuts it back to what was written.
char* room(std::string& out, std::size_t most) {
    const std::size_t at = out.size();
    out.resize(at + most);
    return out.data() + at;
}
void done(std::string& out, const char* end) {
    out.resize(static_cast<std::size_t>(end - out.data()));
}

char* hexByte(char* p, unsigned v) {
    p[0] = '0';
    p[1] = 'x';
    p[2] = kDigits[(v >> 4) & 15];
    p[3] = kDigits[v & 15];
    return p + 4;
}

// One text character; at most 6 characters (\uHHHH).
char* escaped(char* p, unsigned c) {
    if (c <= 0xff && kPlain[c]) {
        *p++ = static_cast<char>(c);
    } else if (c == '\\') {
        *p++ = '\\';
        *p++ = '\\';
    } else if (c <= 0xff) {
        p = PutByteEscape(p, c);
    } else {
        *p++ = '\\';
        *p++ = 'u';
        for (int shift = 12; shift >= 0; shift -= 4)
            *p++ = kDigits[(c >> shift) & 15];
    }
    return p;
}

void printValues(std::string& out, const Message& msg, const Item& item) {
    out += '<';
    out += smlCode(item.format);
    const uint8_t* v = msg.data.data() + item.offset;
    const std::size_t size = item.size;
    switch (item.format) {
    case Format::Ascii:
    case Format::Jis8: {
        out += '\'';
        std::size_t i = 0;
        while (i < size) {
            std::size_t run = i;
            while (run < size && kPlain[v[run]])
                ++run;
            out.append(reinterpret_cast<const char*>(v + i), run - i);
            i = run;
            if (i < size) {
                char buf[8];
                out.append(buf, escaped(buf, v[i++]));
            }
        }
        out += '\'';
        break;
    }
    case Format::Unicode: {
        out += '\'';
        char* p = room(out, 6 * (size / 2));
        for (std::size_t i = 0; i + 1 < size; i += 2)
            p = escaped(p, (static_cast<unsigned>(v[i]) << 8) | v[i + 1]);
        done(out, p);
        out += '\'';
        break;
    }
    case Format::Binary: {
        char* p = room(out, 5 * size);
        for (std::size_t i = 0; i < size; ++i) {
            *p++ = ' ';
            p = hexByte(p, v[i]);
        }
        done(out, p);
        break;
    }
    case Format::Boolean: {
        char* p = room(out, 6 * size);
        for (std::size_t i = 0; i < size; ++i) {
            *p++ = ' ';
            if (v[i] == 1) {
                std::memcpy(p, "true", 4);
                p += 4;
            } else if (v[i] == 0) {
                std::memcpy(p, "false", 5);
                p += 5;
            } else {
                p = hexByte(p, v[i]);
            }
        }
        done(out, p);
        break;
    }
    default: {
        const std::size_t es = elementSize(item.format);
        const std::size_t n = size / es;
        // Numbers are written to a local buffer that is flushed when it might
        // not hold one more, so a long array never reserves its worst case.
        char buf[4096];
        char* p = buf;
        for (std::size_t i = 0; i < n; ++i) {
            if (buf + sizeof buf - p < static_cast<std::ptrdiff_t>(1 + kMaxElementText)) {
                out.append(buf, p);
                p = buf;
            }
            *p++ = ' ';
            p = writeElementText(p, v + i * es, item.format);
        }
        out.append(buf, p);
    }
    }
    out += '>';
}

} // namespace

std::string printSml(const Message& msg) {
    std::string out;
    out.reserve(64 + msg.data.size() * 2 + msg.items.size() * 8);
    bool firstLine = true;
    auto newLine = [&](std::size_t indent) {
        if (!firstLine)
            out += '\n';
        firstLine = false;
        out.append(indent, '\t');
    };
    if (msg.hasStreamFunction) {
        out += 's' + std::to_string(msg.header[2] & 0x7f) + 'f' + std::to_string(msg.header[3]);
        if (msg.header[2] & 0x80)
            out += 'w';
        firstLine = false;
    }
    std::vector<uint32_t> openEnds; // end index of each list still open
    for (std::size_t i = 0; i < msg.items.size(); ++i) {
        while (!openEnds.empty() && openEnds.back() == i) {
            openEnds.pop_back();
            newLine(openEnds.size());
            out += '}';
        }
        const Item& item = msg.items[i];
        newLine(openEnds.size());
        if (item.format == Format::List) {
            if (item.size == 0) {
                out += "{}";
            } else {
                out += '{';
                openEnds.push_back(item.end);
            }
        } else {
            printValues(out, msg, item);
        }
    }
    while (!openEnds.empty()) {
        openEnds.pop_back();
        newLine(openEnds.size());
        out += '}';
    }
    return out;
}

} // namespace tovik::secs2
