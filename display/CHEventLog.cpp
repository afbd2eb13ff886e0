#include "CHEventLog.h"

#include <algorithm>

namespace tovik {

CHEventLog::CHEventLog(QObject* parent) : QObject(parent) {
    m_lines.reserve(kMaxLines + 64);
}

void CHEventLog::AddText(const QString& text) {
    if (text.isEmpty()) {
        m_lines.clear();
        m_selected = -1;
        ++m_selectionSerial;
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
    for (QString& l : m_pending) {
        if (l.size() > kMaxLineChars) {
            l.truncate(kMaxLineChars - 3);
            l += QLatin1String("...");
            l.squeeze();
        }
    }

    const int before = Count();
    const int added = static_cast<int>(m_pending.size());
    const int excess = std::max(0, before + added - kMaxLines);
    const int dropOld = std::min(excess, before);
    const int dropNew = excess - dropOld; // a text longer than the cap keeps its tail

    if (dropOld > 0)
        m_lines.remove(0, dropOld); // one move of the front, not one per line
    const int keep = added - dropNew;
    if (dropNew == 0)
        m_lines.append(m_pending);
    else
        m_lines.append(m_pending.mid(dropNew));

    // The selection, by the list's rules. T counts the lines as if none had
    // been trimmed.
    const int s = m_selected;
    const int total = before + added;
    if (s + 1 == before) {
        m_selected = Count() - 1; // the newest line was selected: follow it
        ++m_selectionSerial;
    } else if (total <= kMaxLines) {
        // the same line, nothing trimmed
    } else if (s >= total - kMaxLines) {
        m_selected = s - (total - kMaxLines); // the same line, moved up
    } else {
        m_selected = 0; // the selected line was trimmed away (or there was none)
        ++m_selectionSerial;
    }
    Q_EMIT linesChanged(dropOld, keep);
}

void CHEventLog::SetSelected(int row) {
    m_selected = row >= 0 && row < Count() ? row : -1;
    ++m_selectionSerial;
}

void CHEventLog::SetSelectedByView(int row) {
    m_selected = row >= 0 && row < Count() ? row : -1;
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
