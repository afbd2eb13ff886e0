#include "CHProfileStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

namespace {

std::string bytesOf(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// A new file beside the old one, renamed over it once complete, so a failed
// write leaves the previous file intact. No fsync: one per value made a save
// of all settings take a noticeable fraction of a second.
bool replaceFile(const QString& fileName, const std::string& text) {
    QTemporaryFile out(fileName + QStringLiteral(".XXXXXX"));
    if (!out.open())
        return false;
    const QFileInfo old(fileName);
    out.setPermissions(old.exists() ? old.permissions()
                                    : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadGroup | QFileDevice::ReadOther);
    // The explicit flush reports a short write (disk full, file size limit).
    if (out.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !out.flush() || out.size() != static_cast<qint64>(text.size()))
        return false;
    out.close();
    if (std::rename(QFile::encodeName(out.fileName()).constData(),
                    QFile::encodeName(fileName).constData()) != 0)
        return false;
    out.setAutoRemove(false);
    return true;
}

} // namespace

tovik::IniText CHProfileStore::read() const {
    if (m_fileName.isEmpty())
        return {};
    QFile f(m_fileName);
    if (f.size() > static_cast<qint64>(tovik::IniText::kMaxFileBytes) ||
        !f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.read(static_cast<qint64>(tovik::IniText::kMaxFileBytes) + 1);
    if (bytes.size() > static_cast<qsizetype>(tovik::IniText::kMaxFileBytes))
        return {};
    return tovik::IniText::parse(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
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

int CHProfileStore::GetProfileInt(const QString& section, const QString& name,
                                  int defaultValue) const {
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
        ini = tovik::IniText::parse(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }
    if (!ini.setValue(bytesOf(section), bytesOf(name), bytesOf(value)))
        return false;
    const std::string text = ini.serialize();
    return replaceFile(m_fileName, text);
}
