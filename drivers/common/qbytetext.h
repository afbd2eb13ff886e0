#pragma once
// The byte texts of bytetext.h as QStrings, for the widgets and the event log.
#include "bytetext.h"

#include <QString>

namespace tovik {

inline QString TextFromBytes(std::string_view bytes) {
    const std::u16string u = BytesToUtf16(bytes);
    return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<qsizetype>(u.size()));
}

inline std::string BytesFromText(const QString& text) {
    return Utf16ToBytes(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

} // namespace tovik
