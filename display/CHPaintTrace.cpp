#include "CHPaintTrace.h"

#include "CHEventLog.h"
#include "CHListBoxOld.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTabBar>

#include <chrono>

namespace tovik {

namespace {
const QEvent::Type kUserAction = static_cast<QEvent::Type>(QEvent::registerEventType());
constexpr auto kUserPeriod = std::chrono::milliseconds(100);

struct UserAction : QEvent {
    explicit UserAction(qint64 when) : QEvent(kUserAction), queued(when) {}
    qint64 queued;
};
} // namespace

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
    m_user = std::thread([this] {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, kUserPeriod, [this] { return m_stop; }))
            QCoreApplication::postEvent(this, new UserAction(NowNs()));
    });
}

CHPaintTrace::~CHPaintTrace() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_user.join();
    std::fclose(m_out);
}

void CHPaintTrace::customEvent(QEvent* event) {
    if (event->type() != kUserAction)
        return;
    const qint64 queued = static_cast<UserAction*>(event)->queued;
    m_clickNext = !m_clickNext;
    auto* tabs = m_view.window()->findChild<QTabBar*>();
    if (m_clickNext && tabs && tabs->count() > 1 && tabs->isVisible()) {
        if (m_tabs != tabs) {
            tabs->installEventFilter(this);
            m_tabs = tabs;
        }
        const QPoint at = tabs->tabRect(tabs->currentIndex() == 0 ? 1 : 0).center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent click(type, at, tabs->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(tabs, &click);
        }
        m_clicks.push_back(queued);
        return;
    }
    m_scrolls.push_back(queued);
    QScrollBar* bar = m_view.verticalScrollBar();
    bar->triggerAction(bar->value() > bar->minimum() ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderSingleStepAdd);
}

bool CHPaintTrace::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tabs && event->type() == QEvent::Paint && !m_clicks.empty()) {
        writeInputs(m_clicks, NowNs());
        std::fflush(m_out);
    }
    return false;
}

void CHPaintTrace::writeInputs(std::vector<qint64>& queued, qint64 now) {
    for (const qint64 q : queued)
        std::fprintf(m_out, "input %lld\n", static_cast<long long>((now - q) / 1000));
    queued.clear();
}

void CHPaintTrace::Painted() {
    const qint64 now = NowNs();
    bool wrote = !m_scrolls.empty();
    writeInputs(m_scrolls, now);
    // The newest row on screen: the one at the bottom edge, or the last row
    // when the rows do not fill the view.
    const int rows = m_view.model()->rowCount();
    const QModelIndex bottom = m_view.indexAt(QPoint(1, m_view.viewport()->height() - 1));
    const int line = rows > 0 ? m_view.LogLine(bottom.isValid() ? bottom.row() : rows - 1) : -1;
    if (line >= 0) {
        const CHEventLog& log = m_view.Log();
        const quint64 shownEnd = log.Added() - static_cast<quint64>(log.Count()) + static_cast<quint64>(line) + 1;
        while (!m_texts.empty() && m_texts.front().first <= shownEnd) {
            std::fprintf(m_out, "paint %lld\n", static_cast<long long>((now - m_texts.front().second) / 1000));
            m_texts.pop_front();
            wrote = true;
        }
    }
    if (wrote)
        std::fflush(m_out);
}

} // namespace tovik
