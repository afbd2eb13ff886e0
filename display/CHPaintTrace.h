#pragma once
// How far the event log on screen trails the engine, for the benchmarks.
// With TOVIK_PAINT_TRACE=FILE in the environment, each paint of the log
// writes to FILE, for every logged text that the paint brought on screen
// (it or a newer line is visible now), one line: "paint" and the
// microseconds from the text's AddText to the end of that paint. Unset, the
// log view carries no trace at all.
#include <QObject>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <utility>

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

private:
    CHListBoxOld& m_view;
    std::FILE* m_out;
    // Each text logged and not yet on screen: the running number one past
    // its last line, and when it was logged.
    std::deque<std::pair<quint64, qint64>> m_texts;
};

} // namespace tovik
