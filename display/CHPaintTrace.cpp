#include "CHPaintTrace.h"

#include "CHEventLog.h"
#include "CHListBoxOld.h"


#include <chrono>

namespace tovik {

qint64 CHPaintTrace::NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<CHPaintTrace> CHPaintTrace::FromEnvironment(CHListBoxOld& view) {
    const QByteArray path = qgetenv("TOVIK_PAINT_TRACE");
    if (path.isEmpty())
        return {};
    std::FILE* out = std::fopen(path.constData(), "w");
    if (!out)
        return {};
    return std::make_unique<CHPaintTrace>(view, out);
}

CHPaintTrace::CHPaintTrace(CHListBoxOld& view, std::FILE* out) : m_view(view), m_out(out) {
    CHEventLog& log = view.Log();
    connect(&log, &CHEventLog::linesChanged, this,
            [this, &log] { m_texts.emplace_back(log.Added(), NowNs()); });
    // Texts cleared away never reach the screen: not counted.
    connect(&log, &CHEventLog::wasReset, this, [this] { m_texts.clear(); });
}

CHPaintTrace::~CHPaintTrace() {
    std::fclose(m_out);
}

void CHPaintTrace::Painted() {
    const int rows = m_view.model()->rowCount();
    if (rows == 0 || m_texts.empty())
        return;
    // The newest row on screen: the one at the bottom edge, or the last row
    // when the rows do not fill the view.
    const QModelIndex bottom = m_view.indexAt(QPoint(1, m_view.viewport()->height() - 1));
    const int line = m_view.LogLine(bottom.isValid() ? bottom.row() : rows - 1);
    if (line < 0)
        return;
    const CHEventLog& log = m_view.Log();
    const quint64 shownEnd = log.Added() - static_cast<quint64>(log.Count()) + static_cast<quint64>(line) + 1;
    const qint64 now = NowNs();
    bool wrote = false;
    while (!m_texts.empty() && m_texts.front().first <= shownEnd) {
        std::fprintf(m_out, "paint %lld\n", static_cast<long long>((now - m_texts.front().second) / 1000));
        m_texts.pop_front();
        wrote = true;
    }
    if (wrote)
        std::fflush(m_out);
}

} // namespace tovik
