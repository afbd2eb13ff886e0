#include "CHEventLog.h"

#include <algorithm>

namespace tovik {

CHEventLog::CHEventLog(QObject* parent) : QObject(parent) {
    m_lines.reserve(kMaxLines + 64);
}

void CHEventLog::AddText(const QString& text) {
    if (text.isEmpty()) {
        Q_EMIT aboutToReset();
        m_lines.clear();
        Q_EMIT wasReset();
        return;
    }

    // Split first so that one text is one change for the views, however many
    // lines it holds.
    m_pending.clear();
    QString line;
    const QChar* p = text.constData();
    const QChar* end = p + text.size();
    const QChar* runStart = p;
    for (; p != end; ++p) {
        const char16_t c = p->unicode();
        if (c != u'\n' && c != u'\r')
            continue;
        line.append(runStart, p - runStart);
        runStart = p + 1;
        if (c == u'\n') {
            m_pending.append(line);
            line.clear();
        }
    }
    line.append(runStart, end - runStart);
    m_pending.append(line);

    for (const QString& l : std::as_const(m_pending))
        for (const auto& sink : m_sinks)
            sink.second(l);

    Q_EMIT aboutToAddText();
    const int before = Count();
    const int added = static_cast<int>(m_pending.size());
    const int excess = std::max(0, before + added - kMaxLines);
    const int dropOld = std::min(excess, before);
    const int dropNew = excess - dropOld; // a text longer than the cap keeps its tail

    if (dropOld > 0) {
        Q_EMIT aboutToDropFront(dropOld);
        m_lines.remove(0, dropOld); // one move of the front, not one per line
        Q_EMIT droppedFront(dropOld);
    }
    const int keep = added - dropNew;
    if (keep > 0) {
        Q_EMIT aboutToAppend(keep);
        m_lines.append(m_pending.mid(dropNew));
        Q_EMIT appended(keep);
    }
    Q_EMIT textAdded(before, added);
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
