#include "CHProfileStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

std::string bytesOf(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

} // namespace

tovik::IniText CHProfileStore::read() const {
    if (m_fileName.isEmpty())
        return {};
    QFile f(m_fileName);
    if (f.size() > static_cast<qint64>(tovik::IniText::kMaxFileBytes) || !f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.read(static_cast<qint64>(tovik::IniText::kMaxFileBytes) + 1);
    if (bytes.size() > static_cast<qsizetype>(tovik::IniText::kMaxFileBytes))
        return {};
    return tovik::IniText::parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

int CHProfileStore::intValue(const tovik::IniText& ini, const QString& section, const QString& name,
                             int defaultValue) {
    const auto text = ini.value(bytesOf(section), bytesOf(name));
    if (!text)
        return defaultValue;
    return tovik::parseIniInt(*text).value_or(defaultValue);
}

QString CHProfileStore::stringValue(const tovik::IniText& ini, const QString& section,
                                    const QString& name, const QString& defaultValue) {
    const auto text = ini.value(bytesOf(section), bytesOf(name));
    if (!text)
        return defaultValue;
    return QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size()));
}

int CHProfileStore::GetProfileInt(const QString& section, const QString& name, int defaultValue) const {
    return intValue(read(), section, name, defaultValue);
}

QString CHProfileStore::GetProfileString(const QString& section, const QString& name,
                                         const QString& defaultValue) const {
    return stringValue(read(), section, name, defaultValue);
}

bool CHProfileStore::WriteProfileInt(const QString& section, const QString& name, int value) {
    return WriteProfileString(section, name, QString::number(value));
}

bool CHProfileStore::WriteProfileString(const QString& section, const QString& name,
                                        const QString& value) {
    if (m_fileName.isEmpty())
        return false;
    tovik::IniText ini;
    QFileInfo info(m_fileName);
    if (info.exists()) {
        // Rewriting a file we could not read whole would lose its other values.
        if (!info.isFile() || !info.isWritable() ||
            info.size() > static_cast<qint64>(tovik::IniText::kMaxFileBytes))
            return false;
        QFile f(m_fileName);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = f.readAll();
        if (f.error() != QFileDevice::NoError)
            return false;
        ini = tovik::IniText::parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }
    if (!ini.setValue(bytesOf(section), bytesOf(name), bytesOf(value)))
        return false;
    const std::string text = ini.serialize();
    // A new file beside the old one, renamed over it once complete: a failed
    // write leaves the previous file intact.
    QSaveFile out(m_fileName);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // The explicit flush reports a short write (disk full, file size limit)
    // that commit() alone has been seen to let pass.
    if (out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !out.flush()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
