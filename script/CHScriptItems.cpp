// The item tree a script sees: one object per item, with the format's SML
// code in upper case as its type.
#include "CHItemTree.h"
#include "CHScriptHost.h"

#include <QJsonArray>
#include <QJsonObject>

#include "message.h"

#include <bit>
#include <cstring>

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

// Integers beyond 2^53 would lose digits as numbers: they come as text.
QJsonValue integer(int64_t v) {
    constexpr int64_t kExact = int64_t{1} << 53;
    if (v > kExact || v < -kExact)
        return QJsonValue(QString::number(v));
    return QJsonValue(static_cast<double>(v));
}
QJsonValue unsignedInteger(uint64_t v) {
    if (v > (uint64_t{1} << 53))
        return QJsonValue(QString::number(v));
    return QJsonValue(static_cast<double>(v));
}

QJsonValue element(const uint8_t* p, Format f) {
    switch (f) {
    case Format::Boolean:
        return QJsonValue(p[0] != 0);
    case Format::I1:
        return QJsonValue(static_cast<int>(static_cast<int8_t>(p[0])));
    case Format::I2:
        return QJsonValue(static_cast<int>(static_cast<int16_t>(readBigEndian(p, 2))));
    case Format::I4:
        return QJsonValue(static_cast<int>(static_cast<int32_t>(readBigEndian(p, 4))));
    case Format::I8:
        return integer(static_cast<int64_t>(readBigEndian(p, 8)));
    case Format::F4:
        return QJsonValue(
            static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(readBigEndian(p, 4)))));
    case Format::F8:
        return QJsonValue(std::bit_cast<double>(readBigEndian(p, 8)));
    default: // binary and unsigned
        return unsignedInteger(readBigEndian(p, secs2::elementSize(f)));
    }
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
        QString text(static_cast<qsizetype>(it.size / 2), QChar());
        for (uint32_t i = 0; i + 1 < it.size; i += 2)
            text[i / 2] = QChar(static_cast<char16_t>((data[i] << 8) | data[i + 1]));
        o.insert(QStringLiteral("value"), text);
    } else {
        const std::size_t size = secs2::elementSize(it.format);
        const uint32_t count = static_cast<uint32_t>(it.size / size);
        QJsonArray values;
        for (uint32_t i = 0; i < count; ++i)
            values.append(element(data + i * size, it.format));
        o.insert(QStringLiteral("values"), values);
    }
    return o;
}

} // namespace

QJsonValue ItemTree(const CHScriptCodec& codec) {
    const secs2::Message& msg = codec.message();
    if (msg.items.empty())
        return QJsonValue(QJsonValue::Undefined);
    return item(msg, 0);
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
    return toScript(js, item(msg, 0));
}

} // namespace tovik
