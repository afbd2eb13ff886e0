#pragma once
// Message patterns as scripts and the control API write them: S1F1, S6F*,
// S*F* or *, in either case.
#include <QString>

#include <optional>

namespace tovik {

struct CHMessagePattern {
    int stream = -1; // -1: any
    int function = -1;

    // Nothing for a text that is no pattern.
    static std::optional<CHMessagePattern> Parse(const QString& text);
    bool Matches(int s, int f) const { return (stream < 0 || stream == s) && (function < 0 || function == f); }
};

} // namespace tovik
