#pragma once
// How far the event log on screen trails the engine, and how soon the
// window answers the user, for the benchmarks. With TOVIK_PAINT_TRACE=FILE in
// the environment, each paint of the log writes to FILE:
// - for every logged text that the paint brought on screen (it or a newer
//   line is visible now), "paint" and the microseconds from the text's
//   AddText to the end of that paint;
// - for every user action, "input" and the microseconds from the action
//   being queued to the paint that shows it. A thread of the trace queues
//   one every 100 ms, as the platform queues input, by turns a one-line
//   scroll of the log (as the scroll bar's arrow does; timed to the end of
//   the log's next paint) and a click on the other tab of the window's tab
//   bar (timed to the start of the tab bar's next paint).
// Unset, the log view carries no trace at all.
#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tovik {

class CHListBoxOld;

class CHPaintTrace : public QObject {
    Q_OBJECT
public:
    // Null unless TOVIK_PAINT_TRACE names a file that can be opened.
    static std::unique_ptr<CHPaintTrace> FromEnvironment(CHListBoxOld& view);
    CHPaintTrace(CHListBoxOld& view, std::FILE* out);
    ~CHPaintTrace() override;

    // After each paint of the log's rows.
    void Painted();

    static qint64 NowNs();

protected:
    void customEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CHListBoxOld& m_view;
    std::FILE* m_out;
    // Each text logged and not yet on screen: the running number one past
    // its last line, and when it was logged.
    std::deque<std::pair<quint64, qint64>> m_texts;
    void writeInputs(std::vector<qint64>& queued, qint64 now);

    // When each action handled and not yet painted was queued.
    std::vector<qint64> m_scrolls;
    std::vector<qint64> m_clicks;
    bool m_clickNext = false;
    QObject* m_tabs = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_user;
};

} // namespace tovik
