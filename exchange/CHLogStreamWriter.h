#pragma once
// Writes event-log lines to a C stream (standard output when headless).
// Lines are gathered and written in one go once per pass of the event loop,
// so a burst of traffic costs one write, not one per line. The pass is caught
// with a zero-time timer rather than a posted call: a timer needs no wake-up
// of the loop, a posted call costs two more system calls per pass.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

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
    QByteArray m_buffer; // keeps its storage between passes
    QTimer m_flush;
    CHEventLog* m_log = nullptr;
    int m_sinkId = 0;
};

} // namespace tovik
