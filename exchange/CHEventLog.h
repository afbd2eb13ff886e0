#pragma once
// The event log store: every line the program tells the user passes through
// AddText, which keeps the newest kMaxLines lines, tells attached views what
// changed and hands each line to the registered sinks (file log, standard
// output). QtCore only, so the headless engine carries it without widgets.
#include <QObject>
#include <QString>
#include <QStringList>

#include "qbytetext.h"

#include <functional>
#include <utility>
#include <vector>

namespace tovik {

// A line of the program's own words with outside text (a name, a file name, a
// script's words) put in for %1, %2...: the outside text's control characters
// are escaped, line feeds included, so it can add no line of its own.
template <typename... More>
QString FillOutside(const QString& format, const QString& outside, const More&... more) {
    return format.arg(EscapedText(outside), EscapedText(more)...);
}

class CHEventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 4000;
    // Lines kept for the list are clipped to this many characters (sinks still
    // get them whole): the line cap alone does not bound memory when a 16 MiB
    // message body arrives as one 80-million-character line.
    static constexpr int kMaxLineChars = 8192;
    using LineSink = std::function<void(const QString&)>;

    explicit CHEventLog(QObject* parent = nullptr);

    // Appends a text that may hold several lines: split at LF, CR dropped,
    // the text after the last LF is a line even when empty. An empty text
    // empties the log instead. Other control characters but tabs are escaped
    // (see EscapeControls): no line reaches a terminal with an escape sequence.
    void AddText(const QString& text);
    template <typename... More>
    void AddText(const QString& format, const QString& outside, const More&... more) {
        AddText(FillOutside(format, outside, more...));
    }
    CHEventLog& operator<<(const QString& text) {
        AddText(text);
        return *this;
    }

    int Count() const { return m_count; }
    const QString& Line(int index) const {
        const int at = m_head + index;
        return m_ring[static_cast<std::size_t>(at < kMaxLines ? at : at - kMaxLines)];
    }
    // A copy of every line, oldest first (for tests and the rare whole-log use).
    QStringList Lines() const;
    // Lines ever added, also those trimmed or reset away: the running number
    // of the line at `index` is Added() - Count() + index.
    quint64 Added() const { return m_added; }

    // Sinks see every line added, in order, also lines trimmed away at once
    // by the cap. A reset is not a line: sinks see nothing of it. Returns an
    // id for RemoveSink.
    int AddSink(LineSink sink);
    void RemoveSink(int id);

Q_SIGNALS:
    // After each AddText: how many lines left the front and how many were
    // appended. Views gather these and catch up once per event-loop pass.
    void linesChanged(int dropped, int appended);
    void wasReset();

private:
    QString& nextSlot();

    // The lines as a ring: once full, each new line takes the oldest line's
    // slot (and, when short, its storage), so an append moves nothing and
    // usually allocates nothing.
    std::vector<QString> m_ring;
    int m_head = 0; // slot of line 0; stays 0 until the ring is full
    int m_count = 0;
    quint64 m_added = 0;
    std::vector<std::pair<int, LineSink>> m_sinks;
    int m_nextSinkId = 1;
};

} // namespace tovik
