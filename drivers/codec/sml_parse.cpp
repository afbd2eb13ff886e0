// SML text -> items. Reads the program's own dialect ("s1f1w", "<a'x'>",
// "<u1 5>", "<u1'5'>", "<bool true>", "<b 0x2a>", brace lists) and the SML of
// other tools ("S1F1 W", "<L [2] ...>", <A "x">, "<U4 1 2 3>", "<BOOLEAN TRUE>",
// a final "."). Lists are parsed with an explicit stack bounded by kMaxDepth.
//
// Inside quotes: \\ \' \" \xHH (and \uHHHH in 2-byte character items) are
// escapes, any other backslash is kept. A quote closes the text only when
// followed by blank space, '>', '<', '{', '}' or the end, so that a name such
// as it's written by a builder still loads; such a quote closes the text even
// right after a backslash, since a text may well end in one (a Windows folder,
// a Shift-JIS character whose second byte is 0x5c).
#include "hex.h"
#include "message.h"

#include <bit>
#include <charconv>
#include <cstring>

namespace tovik::secs2 {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

class Parser {
public:
    Parser(std::string_view text, Message& msg) : m_t(text), m_msg(msg) {}

    Result<bool> run() {
        skipSpace();
        if (m_pos < m_t.size() && (m_t[m_pos] == 's' || m_t[m_pos] == 'S')) {
            if (!header())
                return m_error;
        } else {
            m_msg.hasStreamFunction = false;
            m_msg.header[2] = 0;
            m_msg.header[3] = 0;
            skipSpace();
            if (m_pos >= m_t.size())
                return fail(m_pos, "empty SML text");
            // Without a stream and function, the item is all there is.
            if (m_t[m_pos] != '<' && m_t[m_pos] != '{')
                return fail(m_pos, "expected a stream and function (s1f1) or an item");
        }
        skipSpace();
        if (m_pos < m_t.size() && (m_t[m_pos] == '<' || m_t[m_pos] == '{')) {
            if (!items())
                return m_error;
        }
        skipSpace();
        if (m_pos < m_t.size() && m_t[m_pos] == '.') {
            ++m_pos;
            skipSpace();
        }
        if (m_pos < m_t.size() && (m_t[m_pos] == '<' || m_t[m_pos] == '{'))
            return fail(m_pos, "more than one item at the top of the message");
        if (m_pos < m_t.size())
            return fail(m_pos, std::string("unexpected '") + m_t[m_pos] + "' after the message");
        return true;
    }

private:
    std::string_view m_t;
    Message& m_msg;
    std::size_t m_pos = 0;
    Error m_error;

    struct Open {
        std::size_t index;
        std::size_t count;
        char closer;
    };
    std::vector<Open> m_open;

    Error fail(std::size_t at, const std::string& what) {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < at && i < m_t.size(); ++i) {
            if (m_t[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        m_error = Error{"SML line " + std::to_string(line) + ", column " +
                            std::to_string(column) + ": " + what,
                        line, false};
        return m_error;
    }

    void skipSpace() {
        while (m_pos < m_t.size() && isSpace(m_t[m_pos]))
            ++m_pos;
    }

    char peek() const { return m_pos < m_t.size() ? m_t[m_pos] : '\0'; }

    bool number(uint64_t& out, uint64_t max, const char* what) {
        const std::size_t start = m_pos;
        while (m_pos < m_t.size() && isDigit(m_t[m_pos]))
            ++m_pos;
        auto r = std::from_chars(m_t.data() + start, m_t.data() + m_pos, out);
        if (start == m_pos || r.ec != std::errc() || out > max) {
            fail(start, std::string("bad ") + what + " number");
            return false;
        }
        return true;
    }

    bool header() {
        ++m_pos; // 's'
        uint64_t stream = 0, function = 0;
        if (!number(stream, 127, "stream"))
            return false;
        if (peek() != 'f' && peek() != 'F') {
            fail(m_pos, "expected 'f' after the stream number");
            return false;
        }
        ++m_pos;
        if (!number(function, 255, "function"))
            return false;
        const std::size_t afterFunction = m_pos;
        skipSpace();
        bool wbit = false;
        if (peek() == 'w' || peek() == 'W') {
            wbit = true;
            ++m_pos;
        } else {
            m_pos = afterFunction;
        }
        m_msg.hasStreamFunction = true;
        m_msg.header[2] = static_cast<uint8_t>(stream | (wbit ? 0x80 : 0));
        m_msg.header[3] = static_cast<uint8_t>(function);
        return true;
    }

    // Starts an item: counts it in its list and checks the limits.
    bool addItem(std::size_t at, Item item) {
        if (m_open.empty() && !m_msg.items.empty()) {
            fail(at, "more than one item at the top of the message");
            return false;
        }
        if (!m_open.empty()) {
            if (++m_open.back().count > kMaxItemLength) {
                fail(at, "list has more than 16777215 elements");
                return false;
            }
        }
        item.end = static_cast<uint32_t>(m_msg.items.size() + 1);
        m_msg.items.push_back(item);
        return true;
    }

    bool items() {
        do {
            skipSpace();
            const std::size_t at = m_pos;
            const char c = peek();
            if (!m_open.empty() && c == m_open.back().closer) {
                ++m_pos;
                Item& list = m_msg.items[m_open.back().index];
                list.size = static_cast<uint32_t>(m_open.back().count);
                list.end = static_cast<uint32_t>(m_msg.items.size());
                m_open.pop_back();
                continue;
            }
            if (c == '\0') {
                fail(at, std::string("missing '") + m_open.back().closer + "'");
                return false;
            }
            if (c != '{' && c != '<') {
                fail(at, m_open.empty() ? std::string("expected an item")
                                        : std::string("expected an item or '") +
                                              m_open.back().closer + "'");
                return false;
            }
            ++m_pos;
            Format format = Format::List;
            if (c == '<') {
                skipSpace();
                const std::size_t codeStart = m_pos;
                while (m_pos < m_t.size() && isAlnum(m_t[m_pos]))
                    ++m_pos;
                const auto code = m_t.substr(codeStart, m_pos - codeStart);
                if (!formatFromCode(code, format)) {
                    fail(codeStart, code.empty() ? std::string("missing type code")
                                                 : "unknown type code '" + std::string(code) + "'");
                    return false;
                }
                skipSpace();
                if (peek() == '[') { // element count of other tools' SML: not needed
                    while (m_pos < m_t.size() && m_t[m_pos] != ']')
                        ++m_pos;
                    if (peek() != ']') {
                        fail(at, "missing ']'");
                        return false;
                    }
                    ++m_pos;
                }
            }
            if (format == Format::List) {
                if (m_open.size() >= kMaxDepth) {
                    fail(at, "lists nested deeper than " + std::to_string(kMaxDepth) + " levels");
                    return false;
                }
                const std::size_t index = m_msg.items.size();
                if (!addItem(at, Item{Format::List, 0, 0, 0}))
                    return false;
                m_open.push_back({index, 0, c == '{' ? '}' : '>'});
                continue;
            }
            Item item{format, 0, static_cast<uint32_t>(m_msg.data.size()), 0};
            if (!values(item))
                return false;
            if (m_msg.data.size() - item.offset > kMaxItemLength) {
                fail(at, "item longer than 16777215 bytes");
                return false;
            }
            item.size = static_cast<uint32_t>(m_msg.data.size() - item.offset);
            if (!addItem(at, item))
                return false;
        } while (!m_open.empty());
        return true;
    }

    void put(uint64_t v, std::size_t bytes) {
        auto& d = m_msg.data;
        const std::size_t n = d.size();
        d.resize(n + bytes);
        uint8_t* p = d.data() + n;
        for (std::size_t i = bytes; i-- > 0;)
            *p++ = static_cast<uint8_t>(v >> (8 * i));
    }

    // Values up to the closing '>'; quoted runs are split into words for
    // number formats ("<u1'5'>") and taken as characters for text formats.
    bool values(const Item& item) {
        const bool text = isTextFormat(item.format) || item.format == Format::Unicode;
        for (;;) {
            skipSpace();
            const char c = peek();
            if (c == '>') {
                ++m_pos;
                return true;
            }
            if (c == '\0') {
                fail(m_pos, "missing '>'");
                return false;
            }
            if (c == '\'' || c == '"') {
                if (text) {
                    if (!quotedText(item.format))
                        return false;
                    continue;
                }
                const std::size_t close = m_t.find(c, m_pos + 1);
                if (close == std::string_view::npos) {
                    fail(m_pos, "missing closing quote");
                    return false;
                }
                std::size_t p = m_pos + 1;
                while (p < close) {
                    while (p < close && isSpace(m_t[p]))
                        ++p;
                    const std::size_t w = p;
                    while (p < close && !isSpace(m_t[p]))
                        ++p;
                    if (p > w && !word(item.format, w, m_t.substr(w, p - w)))
                        return false;
                }
                m_pos = close + 1;
                continue;
            }
            const std::size_t w = m_pos;
            while (m_pos < m_t.size() && !isSpace(m_t[m_pos]) && m_t[m_pos] != '>' &&
                   m_t[m_pos] != '\'' && m_t[m_pos] != '"')
                ++m_pos;
            if (!word(item.format, w, m_t.substr(w, m_pos - w)))
                return false;
        }
    }

    // Whether the quote at `at` is followed by what ends an item.
    bool closesText(std::size_t at) const {
        const char next = at + 1 < m_t.size() ? m_t[at + 1] : '\0';
        return next == '\0' || isSpace(next) || next == '>' || next == '<' || next == '{' ||
               next == '}';
    }

    bool quotedText(Format format) {
        const char quote = m_t[m_pos++];
        const bool wide = format == Format::Unicode;
        auto hexRun = [&](std::size_t from, std::size_t n, unsigned& v) {
            if (from + n > m_t.size())
                return false;
            v = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const char h = m_t[from + i];
                const int d = (h >= '0' && h <= '9')   ? h - '0'
                              : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                              : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                                       : -1;
                if (d < 0)
                    return false;
                v = v * 16 + static_cast<unsigned>(d);
            }
            return true;
        };
        for (;;) {
            // Plain characters up to the next quote or backslash go in as a run.
            std::size_t run = m_pos;
            while (run < m_t.size() && m_t[run] != quote && m_t[run] != '\\')
                ++run;
            if (run > m_pos) {
                const auto* first = reinterpret_cast<const uint8_t*>(m_t.data() + m_pos);
                if (wide) {
                    for (std::size_t i = 0; i < run - m_pos; ++i)
                        put(first[i], 2);
                } else {
                    m_msg.data.insert(m_msg.data.end(), first, first + (run - m_pos));
                }
                m_pos = run;
            }
            if (m_pos >= m_t.size()) {
                fail(m_pos, "missing closing quote");
                return false;
            }
            const char c = m_t[m_pos];
            if (c == quote && closesText(m_pos)) {
                ++m_pos;
                return true;
            }
            unsigned v = static_cast<unsigned char>(c);
            std::size_t used = 1;
            if (c == '\\' && m_pos + 1 < m_t.size()) {
                const char e = m_t[m_pos + 1];
                unsigned h = 0;
                if (e == quote && closesText(m_pos + 1)) {
                    // A backslash that ends the text, kept as it is.
                } else if (e == '\\' || e == '\'' || e == '"') {
                    v = static_cast<unsigned char>(e);
                    used = 2;
                } else if (e == 'x' && hexRun(m_pos + 2, 2, h)) {
                    v = h;
                    used = 4;
                } else if (wide && e == 'u' && hexRun(m_pos + 2, 4, h)) {
                    v = h;
                    used = 6;
                }
            }
            put(v, wide ? 2 : 1);
            m_pos += used;
        }
    }

    // One value word of an item of the given format.
    bool word(Format format, std::size_t at, std::string_view w) {
        // Words are matched in lower case; most have no capitals to fold.
        std::string folded;
        std::string_view lower = w;
        for (char ch : w)
            if (ch >= 'A' && ch <= 'Z') {
                folded.assign(w);
                for (auto& f : folded)
                    if (f >= 'A' && f <= 'Z')
                        f = static_cast<char>(f - 'A' + 'a');
                lower = folded;
                break;
            }
        if (format == Format::Boolean && (lower == "true" || lower == "false")) {
            put(lower == "true" ? 1 : 0, 1);
            return true;
        }
        const std::size_t es = elementSize(format);
        const bool isFloat = format == Format::F4 || format == Format::F8;
        const bool isSigned = format == Format::I1 || format == Format::I2 ||
                              format == Format::I4 || format == Format::I8;
        std::string_view s = lower;
        if (!s.empty() && s[0] == '+')
            s.remove_prefix(1);
        // 0x.. gives the raw bits of one element.
        if (s.size() > 2 && s[0] == '0' && s[1] == 'x') {
            // Binary items are mostly such words, so the digits are read here.
            uint64_t bits = 0;
            bool ok = true;
            for (std::size_t i = 2; i < s.size() && ok; ++i) {
                const int d = hexDigitValue(s[i]);
                ok = d >= 0 && bits <= (~uint64_t{0} >> 4);
                bits = (bits << 4) | static_cast<uint64_t>(d & 15);
            }
            const uint64_t max = es >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * es)) - 1;
            if (!ok || bits > max) {
                fail(at, "bad or out-of-range " + std::string(smlCode(format)) + " value '" +
                             std::string(w) + "'");
                return false;
            }
            put(bits, es);
            return true;
        }
        if (isFloat) {
            if (format == Format::F4) {
                float f = 0;
                auto r = std::from_chars(s.data(), s.data() + s.size(), f);
                if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty())
                    return badNumber(format, at, w);
                put(std::bit_cast<uint32_t>(f), 4);
            } else {
                double d = 0;
                auto r = std::from_chars(s.data(), s.data() + s.size(), d);
                if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty())
                    return badNumber(format, at, w);
                put(std::bit_cast<uint64_t>(d), 8);
            }
            return true;
        }
        if (isSigned) {
            int64_t v = 0;
            auto r = std::from_chars(s.data(), s.data() + s.size(), v);
            const int64_t lo = es >= 8 ? INT64_MIN : -(int64_t{1} << (8 * es - 1));
            const int64_t hi = es >= 8 ? INT64_MAX : (int64_t{1} << (8 * es - 1)) - 1;
            if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || v < lo ||
                v > hi)
                return badNumber(format, at, w);
            put(static_cast<uint64_t>(v), es);
            return true;
        }
        uint64_t v = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        const uint64_t max = format == Format::Unicode ? 0xffff
                             : es >= 8                 ? ~uint64_t{0}
                                                       : (uint64_t{1} << (8 * es)) - 1;
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || v > max)
            return badNumber(format, at, w);
        put(v, es);
        return true;
    }

    bool badNumber(Format format, std::size_t at, std::string_view w) {
        fail(at, "bad or out-of-range " + std::string(smlCode(format)) + " value '" +
                     std::string(w) + "'");
        return false;
    }
};

} // namespace

Result<bool> parseSml(std::string_view text, Message& msg) {
    msg.items.clear();
    msg.data.clear();
    Parser parser(text, msg);
    auto r = parser.run();
    if (!r) {
        msg.items.clear();
        msg.data.clear();
        return r;
    }
    layoutBody(msg);
    return r;
}

} // namespace tovik::secs2
