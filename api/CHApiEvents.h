#pragma once
// The live stream of the control API, a WebSocket at /api/events: every
// event-log line and every journal entry as one JSON text message each, in
// the order they happen, from the moment of connection ("since" replays the
// journal after that id first). A client that does not read is dropped once
// its unsent backlog passes kMaxBacklog, with a log line, so it cannot grow
// the program's memory.
#include <QByteArray>
#include <QObject>
#include <QTimer>

#include "CHMessageJournal.h"

#include <variant>
#include <vector>

class QAbstractHttpServer;
class QWebSocket;

namespace tovik {

class CHEntryTextCache;
class CTovikarView;

class CHApiEvents : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxBacklog = 8 * 1024 * 1024;
    // How long an event may wait to go out with the ones after it.
    static constexpr int kFlushMs = 5;

    CHApiEvents(QAbstractHttpServer& server, CTovikarView& view, CHEntryTextCache& texts, QObject* parent = nullptr);
    ~CHApiEvents() override;
    void SetToken(const QByteArray& token) { m_token = token; }
    int ClientCount() const { return static_cast<int>(m_clients.size()); }

private:
    void accept();
    void onLine(const QString& line);
    void onEntry(const CHJournalEntry& entry);
    // Sends what is waiting, in order, to every client.
    void flush();
    // Sends one message to one client; false when the client was dropped.
    bool sendTo(QWebSocket* client, const QString& text);
    void drop(QWebSocket* client, const QString& why);

    QAbstractHttpServer& m_server;
    CTovikarView& m_view;
    CHEntryTextCache& m_texts;
    QByteArray m_token;
    // A log line or a copy of an entry (the journal may drop it before the flush).
    using Event = std::variant<QString, CHJournalEntry>;
    std::vector<Event> m_pending;
    std::vector<Event> m_sending; // what flush() sends, empty between flushes
    QTimer m_flushTimer;
    int m_sink = 0;
    std::vector<QWebSocket*> m_clients; // children of this object
};

} // namespace tovik
