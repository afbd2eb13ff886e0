#include "CHApiEvents.h"

#include "CHApiHttp.h"
#include "CHApiJson.h"
#include "CHEventLog.h"

#include <QAbstractHttpServer>
#include <QNetworkRequest>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>

namespace tovik {

namespace {
// {"entry":...,"type":"message"}, as QJsonDocument writes it (keys in order).
QString entryText(const QByteArray& entry) {
    return QString::fromUtf8("{\"entry\":" + entry + ",\"type\":\"message\"}");
}
// LogLineText as the QString the socket takes. Most lines need no escape:
// those are put together in UTF-16 at once, without a trip through UTF-8.
QString logLineMessage(QStringView line) {
    for (const QChar c : line)
        if (c.unicode() < 0x20 || c == QLatin1Char('"') || c == QLatin1Char('\\') ||
            c.isSurrogate())
            return QString::fromUtf8(LogLineText(line));
    static constexpr QStringView head = u"{\"line\":\"", tail = u"\",\"type\":\"log\"}";
    QString text;
    text.reserve(head.size() + line.size() + tail.size());
    text.append(head).append(line).append(tail);
    return text;
}
QString peerOf(const QWebSocket* client) {
    return QStringLiteral("%1:%2").arg(client->peerAddress().toString()).arg(client->peerPort());
}
} // namespace

CHApiEvents::CHApiEvents(QAbstractHttpServer& server, const CHMessageJournal& journal, CHEntryTextCache& texts,
                         std::atomic<int>& listeners, std::function<void(QString)> log, QObject* parent)
    : QObject(parent), m_server(server), m_journal(journal), m_texts(texts), m_listeners(listeners),
      m_log(std::move(log)) {}

void CHApiEvents::Accept() {
    Flush();
    while (m_server.hasPendingWebSocketConnections()) {
        QWebSocket* client = m_server.nextPendingWebSocketConnection().release();
        client->setParent(this);
        const QNetworkRequest request = client->request();
        const QUrl url = client->requestUrl();
        QString refusal;
        if (!m_token.isEmpty() && request.rawHeader("Authorization") != "Bearer " + m_token)
            refusal = QStringLiteral("missing or wrong bearer token");
        else if (!CHApiHttp::OriginAllowed(request.rawHeader("Origin")))
            refusal = QStringLiteral("requests from web pages are refused");
        else if (url.path() != QStringLiteral("/api/events"))
            refusal = QStringLiteral("no such resource");
        if (!refusal.isEmpty()) {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated, refusal);
            client->deleteLater();
            continue;
        }
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            forget(client);
            client->deleteLater();
        });
        m_clients.push_back(client);
        m_listeners = static_cast<int>(m_clients.size());
        const QUrlQuery query(url);
        if (query.hasQueryItem(QStringLiteral("since"))) {
            const quint64 since = query.queryItemValue(QStringLiteral("since"), QUrl::FullyDecoded).toULongLong();
            for (const CHJournalEntry* e : m_journal.Find(since, {}))
                if (!sendTo(client, entryText(m_texts.Text(*e))))
                    break;
        }
    }
}

void CHApiEvents::forget(QWebSocket* client) {
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
    m_listeners = static_cast<int>(m_clients.size());
}

bool CHApiEvents::sendTo(QWebSocket* client, const QString& text) {
    client->sendTextMessage(text);
    if (client->bytesToWrite() <= kMaxBacklog)
        return true;
    drop(client, QStringLiteral("it does not read (%1 bytes waiting)").arg(client->bytesToWrite()));
    return false;
}

void CHApiEvents::drop(QWebSocket* client, const QString& why) {
    forget(client);
    const QString peer = peerOf(client);
    client->disconnect(this);
    client->abort();
    client->deleteLater();
    m_log(FillOutside(QStringLiteral("API event client %1 dropped: %2"), peer, why));
}

void CHApiEvents::Line(QStringView line) {
    if (!m_clients.empty())
        m_pending.push_back(logLineMessage(line));
}

void CHApiEvents::Entry(const CHJournalEntry& entry) {
    if (!m_clients.empty())
        m_pending.push_back(entryText(m_texts.Text(entry)));
}

void CHApiEvents::Flush() {
    // Swapped, not moved out: both vectors keep their room for the next turns.
    std::vector<QString>& pending = m_sending;
    pending.swap(m_pending);
    const std::vector<QWebSocket*> clients = m_clients;
    const auto stillThere = [this](QWebSocket* c) {
        return std::find(m_clients.begin(), m_clients.end(), c) != m_clients.end();
    };
    for (const QString& text : pending) {
        if (m_clients.empty())
            break;
        for (QWebSocket* c : clients)
            if (stillThere(c)) // a dropped one stays in the copy till the end
                sendTo(c, text);
    }
    pending.clear();
}

} // namespace tovik
