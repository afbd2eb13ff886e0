#pragma once
// The settings file as text: sections of named values, kept line by line so
// that writing one value leaves every other line (order, comments, values of
// other parts of the program) exactly as it was. Plain C++, no Qt, so the
// parser can be fuzzed.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovik {

class IniText {
public:
    // Larger files are not settings files: reading them gives nothing and
    // writing into them is refused rather than rewriting megabytes per value.
    static constexpr std::size_t kMaxFileBytes = 4u << 20;

    IniText() = default;

    // Never fails: lines that are neither a section header nor name=value are
    // kept as they are and ignored by lookups.
    static IniText parse(std::string_view bytes);

    // The first value of that name in a section of that name; both names are
    // matched without regard to ASCII case. One pair of enclosing quotes is
    // removed, surrounding blanks are not part of the value.
    std::optional<std::string> value(std::string_view section, std::string_view name) const;

    // Replaces the value in place, or appends it to the end of its section, or
    // appends a new section. Returns false (and changes nothing) for names or
    // values the file cannot hold: line breaks, NUL, '=' or ']' in names.
    bool setValue(std::string_view section, std::string_view name, std::string_view value);

    std::string serialize() const;
    std::size_t lineCount() const { return m_lines.size(); }

private:
    struct Line {
        std::string text; // without its line end
    };
    // Index of the line holding name in section, or npos.
    std::size_t find(std::string_view section, std::string_view name) const;

    std::vector<Line> m_lines;
    std::string m_eol = "\n";
    bool m_bom = false;
    bool m_finalEol = true;
};

// A whole decimal integer in the 32-bit range, blanks around it allowed.
// Anything else (empty, "abc", "12abc", "0x10", out of range) gives nothing.
std::optional<std::int32_t> parseIniInt(std::string_view text);

} // namespace tovik
