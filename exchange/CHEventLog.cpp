#include "CHEventLog.h"

#include <algorithm>

namespace tovik {

namespace {
// A slot keeps its storage for the next line only while that storage is
// small: one long line must not pin its size in a slot for good.
constexpr qsizetype kReusableChars = 512;
constexpr qsizetype kTypicalLineChars = 64;
} // namespace

CHEventLog::CHEventLog(QObject* parent) : QObject(parent) {
    m_ring.reserve(kMaxLines);
}

QStringList CHEventLog::Lines() const {
    QStringList lines;
    lines.reserve(m_count);
    for (int i = 0; i < m_count; ++i)
        lines.append(Line(i));
    return lines;
}

QString& CHEventLog::nextSlot() {
    ++m_added;
    if (m_count < kMaxLines) {
        if (static_cast<std::size_t>(m_count) == m_ring.size())
            m_ring.emplace_back();
        return m_ring[static_cast<std::size_t>(m_count++)];
    }
    QString& slot = m_ring[static_cast<std::size_t>(m_head)];
    m_head = m_head + 1 == kMaxLines ? 0 : m_head + 1;
    return slot;
}

void CHEventLog::AddText(const QString& text) {
    if (text.isEmpty()) {
        m_ring.clear();
        m_head = 0;
        m_count = 0;
        Q_EMIT wasReset();
        return;
    }

    // One text is one change for the views, however many lines it holds.
    // Each line is built straight in the slot it will live in; the sinks get
    // it whole before it is clipped for the list.
    const int before = Count();
    int added = 0;
    const QChar* p = text.constData();
    const QChar* const end = p + text.size();
    for (;;) {
        const QChar* lineEnd = p;
        while (lineEnd != end && lineEnd->unicode() != u'\n')
            ++lineEnd;
        QString& slot = nextSlot();
        const qsizetype raw = lineEnd - p;
        if (!(slot.isDetached() && slot.capacity() >= raw && slot.capacity() <= kReusableChars)) {
            // Room for a typical line, so that the slot serves later ones too.
            slot = QString();
            slot.reserve(std::max(raw, kTypicalLineChars));
        }
        // Copied in place, CRs dropped: one call into QString per line, not
        // one per run.
        slot.resize(raw);
        char16_t* out = reinterpret_cast<char16_t*>(slot.data());
        char16_t* const first = out;
        bool control = false;
        for (const QChar* c = p; c != lineEnd; ++c) {
            const char16_t u = c->unicode();
            *out = u;
            out += u != u'\r';
            control |= IsControlChar(u) && u != u'\r' && u != u'\t';
        }
        if (out - first != raw)
            slot.truncate(out - first);
        if (control)
            slot = EscapedText(slot, true);
        ++added;
        for (const auto& sink : m_sinks)
            sink.second(slot);
        if (slot.size() > kMaxLineChars) {
            slot.truncate(kMaxLineChars - 3);
            slot += QLatin1String("...");
            slot.squeeze();
        }
        if (lineEnd == end)
            break;
        p = lineEnd + 1; // the text after the last LF is a line even when empty
    }

    const int excess = std::max(0, before + added - kMaxLines);
    const int dropOld = std::min(excess, before);
    const int dropNew = excess - dropOld; // a text longer than the cap keeps its tail
    const int keep = added - dropNew;

    Q_EMIT linesChanged(dropOld, keep);
}

int CHEventLog::AddSink(LineSink sink) {
    const int id = m_nextSinkId++;
    m_sinks.emplace_back(id, std::move(sink));
    return id;
}

void CHEventLog::RemoveSink(int id) {
    std::erase_if(m_sinks, [id](const auto& s) { return s.first == id; });
}

} // namespace tovik
