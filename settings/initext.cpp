#include "initext.h"

#include <algorithm>

namespace tovik {
namespace {

constexpr std::size_t npos = std::string::npos;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

// "[name]" with optional blanks: the section name, else nothing.
std::optional<std::string_view> sectionOf(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() != '[')
        return std::nullopt;
    const std::size_t close = t.find(']');
    if (close == npos)
        return std::nullopt;
    return trim(t.substr(1, close - 1));
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

// "name = value": comments (';' or '#') and lines without '=' are not values.
std::optional<KeyValue> keyValueOf(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[')
        return std::nullopt;
    const std::size_t eq = t.find('=');
    if (eq == npos)
        return std::nullopt;
    KeyValue kv{trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
    if (kv.key.empty())
        return std::nullopt;
    return kv;
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

bool quotedPair(std::string_view v) {
    return v.size() >= 2 && isQuote(v.front()) && v.front() == v.back();
}

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != npos;
}

} // namespace

IniText IniText::parse(std::string_view bytes) {
    IniText ini;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        ini.m_bom = true;
        bytes.remove_prefix(3);
    }
    const std::size_t firstLf = bytes.find('\n');
    if (firstLf != npos && firstLf > 0 && bytes[firstLf - 1] == '\r')
        ini.m_eol = "\r\n";
    ini.m_finalEol = bytes.empty() || bytes.back() == '\n';
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t lf = bytes.find('\n', start);
        const std::size_t end = lf == npos ? bytes.size() : lf;
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ini.m_lines.push_back(Line{std::string(line)});
        start = end + 1;
    }
    return ini;
}

std::size_t IniText::find(std::string_view section, std::string_view name) const {
    bool inSection = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const std::string& text = m_lines[i].text;
        if (auto s = sectionOf(text)) {
            inSection = sameName(*s, section);
            continue;
        }
        if (!inSection)
            continue;
        if (auto kv = keyValueOf(text); kv && sameName(kv->key, name))
            return i;
    }
    return npos;
}

std::optional<std::string> IniText::value(std::string_view section, std::string_view name) const {
    const std::size_t i = find(section, name);
    if (i == npos)
        return std::nullopt;
    std::string_view v = keyValueOf(m_lines[i].text)->value;
    if (quotedPair(v))
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

bool IniText::setValue(std::string_view section, std::string_view name, std::string_view value) {
    if (section.empty() || trim(section) != section || hasLineBreakOrNul(section) ||
        section.find(']') != npos)
        return false;
    if (name.empty() || trim(name) != name || hasLineBreakOrNul(name) || name.find('=') != npos ||
        name.front() == ';' || name.front() == '#' || name.front() == '[')
        return false;
    if (hasLineBreakOrNul(value))
        return false;

    // Quote values whose blanks or quotes a reader would otherwise strip.
    std::string stored;
    if (trim(value) != value || quotedPair(value))
        stored = "\"" + std::string(value) + "\"";
    else
        stored = std::string(value);

    const std::size_t at = find(section, name);
    if (at != npos) {
        const std::string key(keyValueOf(m_lines[at].text)->key);
        m_lines[at].text = key + "=" + stored;
        return true;
    }
    std::string line = std::string(name) + "=" + stored;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        auto s = sectionOf(m_lines[i].text);
        if (!s || !sameName(*s, section))
            continue;
        // After the last non-blank line of this section's block, so that the
        // blank line before the next section stays where it is.
        std::size_t insertAt = i + 1;
        for (std::size_t j = i + 1; j < m_lines.size() && !sectionOf(m_lines[j].text); ++j) {
            if (!trim(m_lines[j].text).empty())
                insertAt = j + 1;
        }
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                       Line{std::move(line)});
        m_finalEol = true;
        return true;
    }
    if (!m_lines.empty() && !trim(m_lines.back().text).empty())
        m_lines.push_back(Line{});
    m_lines.push_back(Line{"[" + std::string(section) + "]"});
    m_lines.push_back(Line{std::move(line)});
    m_finalEol = true;
    return true;
}

std::string IniText::serialize() const {
    std::string out;
    if (m_bom)
        out += "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        out += m_lines[i].text;
        if (i + 1 < m_lines.size() || m_finalEol)
            out += m_eol;
    }
    return out;
}

std::optional<std::int32_t> parseIniInt(std::string_view text) {
    std::string_view t = trim(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    if (t.empty())
        return std::nullopt;
    std::int64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > std::int64_t{1} << 31)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

} // namespace tovik
