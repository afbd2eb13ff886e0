#pragma once
// Writes event-log lines to a C stream (standard output when headless).
// Lines are gathered and written in one go once per pass of the event loop,
// so a burst of traffic costs one write, not one per line.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdio>

namespace tovik {

class CHEventLog;

class CHLogStreamWriter : public QObject {
    Q_OBJECT
public:
    explicit CHLogStreamWriter(std::FILE* out, QObject* parent = nullptr);
    ~CHLogStreamWriter() override; // writes what is still gathered

    // Registers this writer as a sink of the log; detaches when either dies.
    void Attach(CHEventLog& log);

    void Write(const QString& line);
    void Flush();

private:
    void detach();

    std::FILE* m_out;
    QByteArray m_buffer;
    bool m_flushPosted = false;
    CHEventLog* m_log = nullptr;
    int m_sinkId = 0;
};

} // namespace tovik
