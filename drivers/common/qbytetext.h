#pragma once
// The byte texts of bytetext.h as QStrings, for the widgets and the event log,
// and message bytes as the QByteArray the drivers take.
#include "bytetext.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace tovik {

inline QString TextFromBytes(std::string_view bytes) {
    const std::u16string u = BytesToUtf16(bytes);
    return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<qsizetype>(u.size()));
}

inline std::string BytesFromText(const QString& text) {
    return Utf16ToBytes(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

// EscapeControls over a QString; a text without control characters, nearly
// every one, comes back shared, not copied.
inline QString EscapedText(const QString& text, bool keepTabs = false) {
    const std::u16string_view in(reinterpret_cast<const char16_t*>(text.utf16()),
                                 static_cast<std::size_t>(text.size()));
    bool plain = true;
    for (const char16_t c : in)
        plain = plain && (!IsControlChar(c) || (keepTabs && c == u'\t'));
    if (plain)
        return text;
    const std::u16string out = EscapeControls(in, keepTabs);
    return QString(reinterpret_cast<const QChar*>(out.data()), static_cast<qsizetype>(out.size()));
}

inline QByteArray asByteArray(const std::vector<uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace tovik
