#include "CHLogStreamWriter.h"

#include "CHEventLog.h"

#include "qbytetext.h"

namespace tovik {

namespace {
// Gathered text beyond this is written at once rather than at the end of the
// pass: a flood of lines must not grow the buffer without bound.
constexpr qsizetype kMaxGathered = qsizetype{1} << 20;
// Storage kept between passes; a rare huge pass gives its memory back.
constexpr qsizetype kKeptCapacity = qsizetype{256} << 10;
} // namespace

CHLogStreamWriter::CHLogStreamWriter(std::FILE* out, QObject* parent) : QObject(parent), m_out(out) {
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    connect(&m_flush, &QTimer::timeout, this, &CHLogStreamWriter::Flush);
}

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
    // Plain ASCII, what nearly every line is, is narrowed straight into the
    // gathered bytes; other lines are encoded first.
    const qsizetype n = line.size();
    const qsizetype at = m_buffer.size();
    const char16_t* src = reinterpret_cast<const char16_t*>(line.constData());
    char16_t high = 0;
    for (qsizetype i = 0; i < n; ++i)
        high |= src[i];
    if (high < 0x80) {
        m_buffer.resize(at + n + 1);
        char* out = m_buffer.data() + at;
        for (qsizetype i = 0; i < n; ++i)
            out[i] = static_cast<char>(src[i]);
        out[n] = '\n';
    } else {
        // A name quoted in a line keeps its bytes, UTF-8 or not.
        const std::string bytes = BytesFromText(line);
        m_buffer.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
        m_buffer.append('\n');
    }
    if (m_buffer.size() >= kMaxGathered)
        Flush();
    else if (!m_flush.isActive())
        m_flush.start();
}

void CHLogStreamWriter::Flush() {
    m_flush.stop();
    if (m_buffer.isEmpty())
        return;
    if (m_out != nullptr) {
        std::fwrite(m_buffer.constData(), 1, static_cast<std::size_t>(m_buffer.size()), m_out);
        std::fflush(m_out);
    }
    if (m_buffer.capacity() > kKeptCapacity)
        m_buffer = QByteArray();
    else
        m_buffer.truncate(0);
}

} // namespace tovik
