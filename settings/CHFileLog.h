#pragma once
// The event log's lines, also kept in a file when logging is enabled: one
// line per event-log line, flushed as it is written, and rotated to name.1,
// name.2, ... once the file would pass its size limit.
#include <QFile>
#include <QString>

#include <optional>

class CHFileLog {
public:
    struct Config {
        QString path;
        int sizeKb = 1024; // below 1 counts as 1
        int backups = 1;   // below 0 counts as 0, above 999 as 999
    };

    CHFileLog() = default;
    CHFileLog(const CHFileLog&) = delete;
    CHFileLog& operator=(const CHFileLog&) = delete;

    // Appends text split into lines the way the event log splits it (at line
    // feeds, carriage returns dropped, a final line even when empty). When the
    // file cannot be opened or written, the returned text says so: once, until
    // the file works again or another file is configured. Lines are dropped
    // while the file fails; the program goes on.
    std::optional<QString> append(const Config& config, const QString& text);

    // Closes the file (the next append opens it again).
    void close();

    static constexpr int kMaxBackups = 999;

private:
    bool openFile();
    void rotate();

    QFile m_file;
    qint64 m_size = 0; // of the open file, kept here rather than asked per line
    Config m_config;
    qint64 m_maxBytes = 0;
    int m_backups = 0;
    bool m_reported = false;
};
