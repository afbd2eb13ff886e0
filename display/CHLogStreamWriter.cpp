#include "CHLogStreamWriter.h"

#include "CHEventLog.h"

namespace tovik {

CHLogStreamWriter::CHLogStreamWriter(std::FILE* out, QObject* parent) : QObject(parent), m_out(out) {}

CHLogStreamWriter::~CHLogStreamWriter() {
    detach();
    Flush();
}

void CHLogStreamWriter::Attach(CHEventLog& log) {
    detach();
    m_log = &log;
    m_sinkId = log.AddSink([this](const QString& line) { Write(line); });
    connect(&log, &QObject::destroyed, this, [this] { m_log = nullptr; });
}

void CHLogStreamWriter::detach() {
    if (m_log != nullptr)
        m_log->RemoveSink(m_sinkId);
    m_log = nullptr;
}

void CHLogStreamWriter::Write(const QString& line) {
    m_buffer += line.toUtf8();
    m_buffer += '\n';
    if (!m_flushPosted) {
        m_flushPosted = true;
        QMetaObject::invokeMethod(this, &CHLogStreamWriter::Flush, Qt::QueuedConnection);
    }
}

void CHLogStreamWriter::Flush() {
    m_flushPosted = false;
    if (m_buffer.isEmpty() || m_out == nullptr)
        return;
    std::fwrite(m_buffer.constData(), 1, static_cast<std::size_t>(m_buffer.size()), m_out);
    std::fflush(m_out);
    m_buffer.clear();
}

} // namespace tovik
