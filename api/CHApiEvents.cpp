#include "CHApiEvents.h"

#include "CHApiJson.h"
#include "CHApiServer.h"
#include "CTovikarView.h"

#include <QAbstractHttpServer>
#include <QJsonDocument>
#include <QJsonObject>
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
QString logLineMessage(const QString& line) {
    for (const QChar c : line)
        if (c.unicode() < 0x20 || c == QLatin1Char('"') || c == QLatin1Char('\\') ||
            c.isSurrogate())
            return QString::fromUtf8(LogLineText(line));
    return QStringLiteral("{\"line\":\"") + line + QStringLiteral("\",\"type\":\"log\"}");
}
QString peerOf(const QWebSocket* client) {
    return QStringLiteral("%1:%2").arg(client->peerAddress().toString()).arg(client->peerPort());
}
} // namespace

CHApiEvents::CHApiEvents(QAbstractHttpServer& server, CTovikarView& view, CHEntryTextCache& texts, QObject* parent)
    : QObject(parent), m_server(server), m_view(view), m_texts(texts) {
    // A few ms of events go out together: one socket write per client for
    // many messages, instead of one per turn of the event loop (a write and
    // the reader's wake-up cost more than the host's whole transaction).
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &CHApiEvents::flush);
    connect(&server, &QAbstractHttpServer::newWebSocketConnection, this, &CHApiEvents::accept);
    m_sink = view.EventLog().AddSink([this](const QString& line) { onLine(line); });
    connect(&view.Journal(), &CHMessageJournal::Appended, this, &CHApiEvents::onEntry);
}

CHApiEvents::~CHApiEvents() {
    m_view.EventLog().RemoveSink(m_sink);
}

void CHApiEvents::accept() {
    // What happened before the connection goes to the clients that were there.
    flush();
    while (m_server.hasPendingWebSocketConnections()) {
        QWebSocket* client = m_server.nextPendingWebSocketConnection().release();
        client->setParent(this);
        const QNetworkRequest request = client->request();
        const QUrl url = client->requestUrl();
        QString refusal;
        if (!m_token.isEmpty() && request.rawHeader("Authorization") != "Bearer " + m_token)
            refusal = QStringLiteral("missing or wrong bearer token");
        else if (!CHApiServer::OriginAllowed(request.rawHeader("Origin")))
            refusal = QStringLiteral("requests from web pages are refused");
        else if (url.path() != QStringLiteral("/api/events"))
            refusal = QStringLiteral("no such resource");
        if (!refusal.isEmpty()) {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated, refusal);
            client->deleteLater();
            continue;
        }
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
            client->deleteLater();
        });
        m_clients.push_back(client);
        const QUrlQuery query(url);
        if (query.hasQueryItem(QStringLiteral("since"))) {
            const quint64 since = query.queryItemValue(QStringLiteral("since"), QUrl::FullyDecoded).toULongLong();
            for (const CHJournalEntry* e : m_view.Journal().Find(since, {}))
                if (!sendTo(client, entryText(m_texts.Text(*e))))
                    break;
        }
    }
}

bool CHApiEvents::sendTo(QWebSocket* client, const QString& text) {
    client->sendTextMessage(text);
    if (client->bytesToWrite() <= kMaxBacklog)
        return true;
    drop(client, QStringLiteral("it does not read (%1 bytes waiting)").arg(client->bytesToWrite()));
    return false;
}

void CHApiEvents::drop(QWebSocket* client, const QString& why) {
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
    const QString peer = peerOf(client);
    client->disconnect(this);
    client->abort();
    client->deleteLater();
    // Not from inside a log sink: the line is written once the current one is done.
    QMetaObject::invokeMethod(
        this, [this, peer, why] { m_view.AddText(QStringLiteral("API event client %1 dropped: %2"), peer, why); },
        Qt::QueuedConnection);
}

void CHApiEvents::onLine(const QString& line) {
    if (m_clients.empty())
        return;
    m_pending.emplace_back(line);
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void CHApiEvents::onEntry(const CHJournalEntry& entry) {
    if (m_clients.empty())
        return;
    m_pending.emplace_back(entry);
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void CHApiEvents::flush() {
    m_flushTimer.stop();
    // Swapped, not moved out: both vectors keep their room for the next turns.
    std::vector<Event>& pending = m_sending;
    pending.swap(m_pending);
    const std::vector<QWebSocket*> clients = m_clients;
    const auto stillThere = [this](QWebSocket* c) {
        return std::find(m_clients.begin(), m_clients.end(), c) != m_clients.end();
    };
    for (const Event& p : pending) {
        if (m_clients.empty())
            break;
        // Made once, sent to every client.
        const QString text = std::holds_alternative<QString>(p)
                                 ? logLineMessage(std::get<QString>(p))
                                 : entryText(m_texts.Text(std::get<CHJournalEntry>(p)));
        for (QWebSocket* c : clients)
            if (stillThere(c)) // a dropped one stays in the copy till the end
                sendTo(c, text);
    }
    pending.clear();
}

} // namespace tovik
