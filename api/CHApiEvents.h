#pragma once
// The live stream of the control API, a WebSocket at /api/events: every
// event-log line and every journal entry as one JSON text message each, in
// the order they happen, from the moment of connection ("since" replays the
// journal after that id first). A client that does not read is dropped once
// its unsent backlog passes kMaxBacklog, with a log line, so it cannot grow
// the program's memory. It lives on the API's thread (CHApiHttp), which
// hands it what the program did.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

class QAbstractHttpServer;
class QWebSocket;

namespace tovik {

class CHEntryTextCache;
class CHMessageJournal;
struct CHJournalEntry;

class CHApiEvents : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxBacklog = 8 * 1024 * 1024;

    // `listeners` follows the number of clients; `log` adds a line to the
    // program's event log.
    CHApiEvents(QAbstractHttpServer& server, const CHMessageJournal& journal, CHEntryTextCache& texts,
                std::atomic<int>& listeners, std::function<void(QString)> log, QObject* parent = nullptr);
    void SetToken(const QByteArray& token) { m_token = token; }

    // The server's pending WebSocket connections become clients.
    void Accept();
    void Line(QStringView line);
    void Entry(const CHJournalEntry& entry);
    // Sends what is waiting, in order, to every client.
    void Flush();

private:
    // Sends one message to one client; false when the client was dropped.
    bool sendTo(QWebSocket* client, const QString& text);
    void drop(QWebSocket* client, const QString& why);
    void forget(QWebSocket* client);

    QAbstractHttpServer& m_server;
    const CHMessageJournal& m_journal;
    CHEntryTextCache& m_texts;
    std::atomic<int>& m_listeners;
    std::function<void(QString)> m_log;
    QByteArray m_token;
    // The messages, made once for every client (an entry's at once: the
    // copy may drop the entry before the flush).
    std::vector<QString> m_pending;
    std::vector<QString> m_sending; // what Flush() sends, empty between flushes
    std::vector<QWebSocket*> m_clients; // children of this object
};

} // namespace tovik
