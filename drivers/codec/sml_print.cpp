// Items -> the program's SML dialect, one line per item, nested items indented
// by one tab per level, lines separated by "\n".
//
// Text items are quoted with ' and escape \ as \\, ' as \', and every byte
// outside 0x20-0x7e as \xHH (2-byte characters outside that range as \uHHHH),
// so that loading the printed text gives the same bytes back. Binary values
// print as 0xHH, booleans as true/false (any other byte as 0xHH), numbers in
// decimal, floats with the fewest digits that load back exactly; NaN prints as
// "nan" when it is the usual quiet NaN and as its bit pattern ("0x7fc00001")
// otherwise.
#include "message.h"

namespace tovik::secs2 {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

void appendHexByte(std::string& out, unsigned v) {
    out += "0x";
    out += kDigits[(v >> 4) & 15];
    out += kDigits[v & 15];
}

void appendEscapedByte(std::string& out, unsigned c) {
    if (c == '\\' || c == '\'') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c >= 0x20 && c <= 0x7e) {
        out += static_cast<char>(c);
    } else {
        out += "\\x";
        out += kDigits[(c >> 4) & 15];
        out += kDigits[c & 15];
    }
}

void printValues(std::string& out, const Message& msg, const Item& item) {
    out += '<';
    out += smlCode(item.format);
    const uint8_t* p = msg.data.data() + item.offset;
    switch (item.format) {
    case Format::Ascii:
    case Format::Jis8:
        out += '\'';
        for (uint32_t i = 0; i < item.size; ++i)
            appendEscapedByte(out, p[i]);
        out += '\'';
        break;
    case Format::Unicode:
        out += '\'';
        for (uint32_t i = 0; i + 1 < item.size; i += 2) {
            const unsigned u = (static_cast<unsigned>(p[i]) << 8) | p[i + 1];
            if (u > 0xff) {
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4)
                    out += kDigits[(u >> shift) & 15];
            } else {
                appendEscapedByte(out, u);
            }
        }
        out += '\'';
        break;
    case Format::Binary:
        for (uint32_t i = 0; i < item.size; ++i) {
            out += ' ';
            appendHexByte(out, p[i]);
        }
        break;
    case Format::Boolean:
        for (uint32_t i = 0; i < item.size; ++i) {
            out += ' ';
            if (p[i] <= 1)
                out += p[i] ? "true" : "false";
            else
                appendHexByte(out, p[i]);
        }
        break;
    default: {
        const std::size_t n = item.size / elementSize(item.format);
        for (std::size_t i = 0; i < n; ++i) {
            out += ' ';
            out += elementText(msg, item, i);
        }
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
