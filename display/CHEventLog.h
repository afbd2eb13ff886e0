#pragma once
// The event log store: every line the program tells the user passes through
// AddText, which keeps the newest kMaxLines lines, tells attached views what
// changed and hands each line to the registered sinks (file log, standard
// output). QtCore only, so the headless engine carries it without widgets.
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

namespace tovik {

class CHEventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 4000;
    using LineSink = std::function<void(const QString&)>;

    explicit CHEventLog(QObject* parent = nullptr);

    // Appends a text that may hold several lines: split at LF, CR dropped,
    // the text after the last LF is a line even when empty. An empty text
    // empties the log instead.
    void AddText(const QString& text);
    CHEventLog& operator<<(const QString& text) {
        AddText(text);
        return *this;
    }

    int Count() const { return static_cast<int>(m_lines.size()); }
    const QString& Line(int index) const { return m_lines.at(index); }
    const QStringList& Lines() const { return m_lines; }

    // Sinks see every line added, in order, also lines trimmed away at once
    // by the cap. A reset is not a line: sinks see nothing of it. Returns an
    // id for RemoveSink.
    int AddSink(LineSink sink);
    void RemoveSink(int id);

Q_SIGNALS:
    // One AddText is one change: aboutToAddText, then (when the cap bites)
    // the front lines are dropped, then the kept new lines appended, then
    // textAdded with the count before the call and the number of lines the
    // text made (before trimming). Views keep their selection by these.
    void aboutToAddText();
    void aboutToDropFront(int count);
    void droppedFront(int count);
    void aboutToAppend(int count);
    void appended(int count);
    void textAdded(int previousCount, int lineCount);
    void aboutToReset();
    void wasReset();

private:
    QStringList m_lines;
    QStringList m_pending; // split lines of the current text, reused
    std::vector<std::pair<int, LineSink>> m_sinks;
    int m_nextSinkId = 1;
};

} // namespace tovik
