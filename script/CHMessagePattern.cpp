#include "CHMessagePattern.h"

#include <QRegularExpression>

namespace tovik {

std::optional<CHMessagePattern> CHMessagePattern::Parse(const QString& text) {
    const QString t = text.toUpper();
    if (t == QStringLiteral("*"))
        return CHMessagePattern{};
    static const QRegularExpression re(QStringLiteral("^S(\\d{1,9}|\\*)F(\\d{1,9}|\\*)$"));
    const QRegularExpressionMatch m = re.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    CHMessagePattern p;
    if (m.captured(1) != QStringLiteral("*"))
        p.stream = m.captured(1).toInt();
    if (m.captured(2) != QStringLiteral("*"))
        p.function = m.captured(2).toInt();
    return p;
}

} // namespace tovik
