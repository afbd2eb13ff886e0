// The item tree a script sees: one object per item, with the format's SML
// code in upper case as its type.
#include "CHItemTree.h"
#include "CHScriptHost.h"

#include <QJsonArray>
#include <QJsonObject>

#include "message.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <variant>

namespace tovik {

namespace {

using secs2::Format;

uint64_t readBigEndian(const uint8_t* p, std::size_t n) {
    uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

QString typeName(Format f) {
    if (f == Format::Boolean)
        return QStringLiteral("BOOLEAN");
    return QString::fromLatin1(secs2::smlCode(f)).toUpper();
}

// typeName() as Latin-1 text, made once per format.
const char* typeCode(Format f) {
    static const std::array<QByteArray, 64> codes = [] {
        std::array<QByteArray, 64> t;
        for (uint8_t c = 0; c < 64; ++c)
            if (secs2::isKnownFormat(c))
                t[c] = typeName(static_cast<Format>(c)).toLatin1();
        return t;
    }();
    return codes[static_cast<uint8_t>(f) & 63u].constData();
}

// One element of a numeric or Boolean item. Integers beyond 2^53 would lose
// digits as JSON numbers: they come as text.
using Element = std::variant<bool, qint64, double, QString>;

Element integer(int64_t v) {
    constexpr int64_t kExact = int64_t{1} << 53;
    if (v > kExact || v < -kExact)
        return QString::number(v);
    return static_cast<double>(v);
}
Element unsignedInteger(uint64_t v) {
    if (v > (uint64_t{1} << 53))
        return QString::number(v);
    return static_cast<double>(v);
}

Element element(const uint8_t* p, Format f) {
    switch (f) {
    case Format::Boolean:
        return p[0] != 0;
    case Format::I1:
        return qint64{static_cast<int8_t>(p[0])};
    case Format::I2:
        return qint64{static_cast<int16_t>(readBigEndian(p, 2))};
    case Format::I4:
        return qint64{static_cast<int32_t>(readBigEndian(p, 4))};
    case Format::I8:
        return integer(static_cast<int64_t>(readBigEndian(p, 8)));
    case Format::F4:
        return static_cast<double>(
            std::bit_cast<float>(static_cast<uint32_t>(readBigEndian(p, 4))));
    case Format::F8:
        return std::bit_cast<double>(readBigEndian(p, 8));
    default: // binary and unsigned
        return unsignedInteger(readBigEndian(p, secs2::elementSize(f)));
    }
}

QJsonValue jsonValue(const Element& e) {
    return std::visit([](const auto& v) { return QJsonValue(v); }, e);
}

// The text of a 2-byte character item.
QString unicodeText(const uint8_t* data, uint32_t size) {
    QString text(static_cast<qsizetype>(size / 2), QChar());
    for (uint32_t i = 0; i + 1 < size; i += 2)
        text[i / 2] = QChar(static_cast<char16_t>((data[i] << 8) | data[i + 1]));
    return text;
}

QJsonObject item(const secs2::Message& msg, std::size_t index) {
    const secs2::Item& it = msg.items[index];
    QJsonObject o;
    o.insert(QStringLiteral("type"), typeName(it.format));
    const uint8_t* data = msg.data.data() + it.offset;
    if (it.format == Format::List) {
        QJsonArray items;
        std::size_t child = index + 1;
        for (uint32_t i = 0; i < it.size && child < msg.items.size(); ++i) {
            items.append(item(msg, child));
            child = msg.items[child].end;
        }
        o.insert(QStringLiteral("items"), items);
    } else if (secs2::isTextFormat(it.format)) {
        o.insert(QStringLiteral("value"), QString::fromLatin1(reinterpret_cast<const char*>(data), it.size));
    } else if (it.format == Format::Unicode) {
        o.insert(QStringLiteral("value"), unicodeText(data, it.size));
    } else {
        const std::size_t size = secs2::elementSize(it.format);
        const uint32_t count = static_cast<uint32_t>(it.size / size);
        QJsonArray values;
        for (uint32_t i = 0; i < count; ++i)
            values.append(jsonValue(element(data + i * size, it.format)));
        o.insert(QStringLiteral("values"), values);
    }
    return o;
}

} // namespace

void AppendJsonString(QByteArray& out, QStringView text) {
    static const char kHex[] = "0123456789abcdef";
    // Written through a pointer into room for the worst case (six bytes a
    // unit), then cut to size: a log line costs one pass, not one append a character.
    const qsizetype start = out.size();
    out.resize(start + 6 * text.size() + 2);
    char* w = out.data() + start;
    const auto escape = [&w](char16_t u) {
        *w++ = '\\';
        *w++ = 'u';
        for (int shift = 12; shift >= 0; shift -= 4)
            *w++ = kHex[(u >> shift) & 0xf];
    };
    const auto pair = [&w](char a) {
        *w++ = '\\';
        *w++ = a;
    };
    *w++ = '"';
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    while (p != end) {
        const char16_t u = *p++;
        if (u < 0x80) {
            switch (u) {
            case '"': pair('"'); break;
            case '\\': pair('\\'); break;
            case '\b': pair('b'); break;
            case '\f': pair('f'); break;
            case '\n': pair('n'); break;
            case '\r': pair('r'); break;
            case '\t': pair('t'); break;
            default:
                if (u < 0x20)
                    escape(u);
                else
                    *w++ = static_cast<char>(u);
            }
        } else if (u < 0x800) {
            *w++ = static_cast<char>(0xc0 | (u >> 6));
            *w++ = static_cast<char>(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && p != end && QChar::isLowSurrogate(*p)) {
            const char32_t c = QChar::surrogateToUcs4(u, *p++);
            *w++ = static_cast<char>(0xf0 | (c >> 18));
            *w++ = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            *w++ = static_cast<char>(0x80 | (c & 0x3f));
        } else if (QChar::isSurrogate(u)) {
            escape(u); // a lone half has no UTF-8 form
        } else {
            *w++ = static_cast<char>(0xe0 | (u >> 12));
            *w++ = static_cast<char>(0x80 | ((u >> 6) & 0x3f));
            *w++ = static_cast<char>(0x80 | (u & 0x3f));
        }
    }
    *w++ = '"';
    out.truncate(w - out.constData());
}

namespace {
// Whole numbers a double holds exactly are written without a fraction or an
// exponent, as QJsonValue writes them.
bool isExactInteger(double d) {
    constexpr double kExact = 9007199254740992.0; // 2^53
    return d >= -kExact && d <= kExact && std::trunc(d) == d;
}

// False for a number JSON text cannot carry when `exact` asks for it (NaN,
// an infinity).
bool appendElement(QByteArray& out, const Element& e, bool exact) {
    if (const bool* b = std::get_if<bool>(&e))
        out += *b ? "true" : "false";
    else if (const qint64* i = std::get_if<qint64>(&e))
        out += QByteArray::number(*i);
    else if (const double* d = std::get_if<double>(&e)) {
        if (exact && !std::isfinite(*d))
            return false;
        out += !std::isfinite(*d)   ? QByteArray("null") // as Qt writes it
               : isExactInteger(*d) ? QByteArray::number(static_cast<qint64>(*d))
                                    : QByteArray::number(*d, 'g', QLocale::FloatingPointShortest);
    } else
        AppendJsonString(out, std::get<QString>(e));
    return true;
}

// The same tree as item(), written as text: its keys in sorted order, or
// for a script with "type" first, as scripts have always seen it; false when
// a script's tree cannot be written exactly.
bool appendItem(QByteArray& out, const secs2::Message& msg, std::size_t index, bool forScript) {
    const secs2::Item& it = msg.items[index];
    const char* const type = typeCode(it.format);
    const uint8_t* data = msg.data.data() + it.offset;
    if (it.format == Format::List) {
        if (forScript)
            out.append("{\"type\":\"").append(type).append("\",\"items\":[");
        else
            out += "{\"items\":[";
        std::size_t child = index + 1;
        for (uint32_t i = 0; i < it.size && child < msg.items.size(); ++i) {
            if (i)
                out += ',';
            if (!appendItem(out, msg, child, forScript))
                return false;
            child = msg.items[child].end;
        }
        if (forScript)
            out += "]}";
        else
            out.append("],\"type\":\"").append(type).append("\"}");
        return true;
    }
    out.append("{\"type\":\"").append(type);
    if (secs2::isTextFormat(it.format)) {
        out += "\",\"value\":";
        AppendJsonString(out, QString::fromLatin1(reinterpret_cast<const char*>(data), it.size));
    } else if (it.format == Format::Unicode) {
        out += "\",\"value\":";
        AppendJsonString(out, unicodeText(data, it.size));
    } else {
        out += "\",\"values\":[";
        const std::size_t size = secs2::elementSize(it.format);
        const uint32_t count = static_cast<uint32_t>(it.size / size);
        for (uint32_t i = 0; i < count; ++i) {
            if (i)
                out += ',';
            if (!appendElement(out, element(data + i * size, it.format), forScript))
                return false;
        }
        out += ']';
    }
    out += '}';
    return true;
}
} // namespace

bool AppendItemTree(QByteArray& out, const CHScriptCodec& codec) {
    const secs2::Message& msg = codec.message();
    if (msg.items.empty())
        return false;
    return appendItem(out, msg, 0, false);
}

namespace {
// The tree for the script with "type" as each item's first key, as scripts
// have always seen it (JSON objects keep their keys sorted).
QJSValue toScript(QJSEngine& js, const QJsonValue& v) {
    if (v.isArray()) {
        const QJsonArray a = v.toArray();
        QJSValue out = js.newArray(static_cast<uint>(a.size()));
        for (qsizetype i = 0; i < a.size(); ++i)
            out.setProperty(static_cast<quint32>(i), toScript(js, a[i]));
        return out;
    }
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        QJSValue out = js.newObject();
        out.setProperty(QStringLiteral("type"), o.value(QStringLiteral("type")).toString());
        for (auto it = o.begin(); it != o.end(); ++it)
            if (it.key() != QStringLiteral("type"))
                out.setProperty(it.key(), toScript(js, it.value()));
        return out;
    }
    return js.toScriptValue(v.toVariant());
}
} // namespace

QJSValue ScriptBody(QJSEngine& js, const CHScriptCodec& codec) {
    const secs2::Message& msg = codec.message();
    if (msg.items.empty())
        return QJSValue(QJSValue::UndefinedValue);
    // As JSON text the bootstrap parses: far cheaper than an object a
    // property at a time. A number JSON cannot carry takes the long way.
    QByteArray text;
    if (appendItem(text, msg, 0, true))
        return QJSValue(QString::fromUtf8(text));
    return toScript(js, item(msg, 0));
}

} // namespace tovik
