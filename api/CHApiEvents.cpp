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
QByteArray eventText(const QString& type, const QString& key, const QJsonValue& value) {
    return QJsonDocument(QJsonObject{{QStringLiteral("type"), type}, {key, value}}).toJson(QJsonDocument::Compact);
}
QString peerOf(const QWebSocket* client) {
    return QStringLiteral("%1:%2").arg(client->peerAddress().toString()).arg(client->peerPort());
}
} // namespace

CHApiEvents::CHApiEvents(QAbstractHttpServer& server, CTovikarView& view, QObject* parent)
    : QObject(parent), m_server(server), m_view(view) {
    connect(&server, &QAbstractHttpServer::newWebSocketConnection, this, &CHApiEvents::accept);
    m_sink = view.EventLog().AddSink([this](const QString& line) { onLine(line); });
    connect(&view.Journal(), &CHMessageJournal::Appended, this, &CHApiEvents::onEntry);
}

CHApiEvents::~CHApiEvents() {
    m_view.EventLog().RemoveSink(m_sink);
}

void CHApiEvents::accept() {
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
                if (!sendTo(client, eventText(QStringLiteral("message"), QStringLiteral("entry"), JournalEntryJson(*e))))
                    break;
        }
    }
}

bool CHApiEvents::sendTo(QWebSocket* client, const QByteArray& text) {
    client->sendTextMessage(QString::fromUtf8(text));
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

void CHApiEvents::broadcast(const QByteArray& text) {
    const std::vector<QWebSocket*> clients = m_clients;
    for (QWebSocket* c : clients)
        sendTo(c, text);
}

void CHApiEvents::onLine(const QString& line) {
    if (!m_clients.empty())
        broadcast(eventText(QStringLiteral("log"), QStringLiteral("line"), line));
}

void CHApiEvents::onEntry(const CHJournalEntry& entry) {
    if (!m_clients.empty())
        broadcast(eventText(QStringLiteral("message"), QStringLiteral("entry"), JournalEntryJson(entry)));
}

} // namespace tovik
