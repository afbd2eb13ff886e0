#include "CHFileLog.h"

#include "qbytetext.h"

#include <QByteArray>

#include <algorithm>

namespace {

QString backupName(const QString& path, int n) {
    return path + QLatin1Char('.') + QString::number(n);
}

} // namespace

void CHFileLog::close() {
    m_file.close();
}

bool CHFileLog::openFile() {
    m_file.setFileName(m_config.path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    m_size = m_file.size();
    return true;
}

// name.(n-1) -> name.n ... name -> name.1; the oldest backup falls off. With
// no backups the full file is simply started afresh.
void CHFileLog::rotate() {
    m_file.close();
    const QString& path = m_config.path;
    if (m_backups <= 0) {
        QFile::remove(path);
        return;
    }
    QFile::remove(backupName(path, m_backups));
    for (int i = m_backups - 1; i >= 1; --i) {
        if (QFile::exists(backupName(path, i)))
            QFile::rename(backupName(path, i), backupName(path, i + 1));
    }
    QFile::rename(path, backupName(path, 1));
}

std::optional<QString> CHFileLog::append(const Config& config, const QString& text) {
    if (config.path != m_config.path) {
        m_file.close();
        m_reported = false;
    }
    m_config = config;
    m_maxBytes = qint64{std::max(config.sizeKb, 1)} * 1024;
    m_backups = std::clamp(config.backups, 0, kMaxBackups);

    const auto failed = [this]() -> std::optional<QString> {
        m_file.close();
        if (m_reported)
            return std::nullopt;
        m_reported = true;
        return QStringLiteral("Error : Cannot write log file %1.").arg(tovik::EscapedText(m_config.path));
    };

    if (m_config.path.isEmpty())
        return failed();
    if (!m_file.isOpen() && !openFile())
        return failed();

    const QList<QStringView> parts = QStringView(text).split(u'\n');
    for (QStringView part : parts) {
        // A name quoted in a line keeps its bytes, UTF-8 or not.
        const std::string bytes = tovik::BytesFromText(part.toString());
        QByteArray line(bytes.data(), static_cast<qsizetype>(bytes.size()));
        line.replace('\r', QByteArray());
        line += '\n';
        // Rotate before a line that would take the file past its limit, so a
        // file only passes it when a single line is larger than the limit.
        if (m_size > 0 && m_size + line.size() > m_maxBytes) {
            rotate();
            if (!openFile())
                return failed();
        }
        if (m_file.write(line) != line.size() || !m_file.flush())
            return failed();
        m_size += line.size();
    }
    m_reported = false;
    return std::nullopt;
}
