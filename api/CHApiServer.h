#pragma once
// The control API: HTTP/JSON beside the protocol ports, for tests that drive
// Tovik as a fixture. It runs on the program's event loop and never blocks:
// a request that waits (for a message, a reply, a script's promise) keeps
// its responder and is answered from a signal or its deadline, so a slow or
// stuck client never delays a reply to a host.
//
// Every route is one row of the table built in routes(); each answers JSON,
// errors as {"error": "..."}.
#include "CHApiJson.h"
#include "CHMessageJournal.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QHttpServerResponder>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <functional>
#include <list>
#include <memory>
#include <vector>

class QTimer;

namespace tovik {

class CHApiEvents;
class CHScriptEngine;
class CTovikarView;

class CHApiServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxBody = 16 * 1024 * 1024;
    static constexpr int kMaxWaitMs = 600000;
    static constexpr int kDefaultWaitMs = 10000;
    static constexpr int kScriptCallMs = 30000;

    CHApiServer(CTovikarView& view, CHScriptEngine* script, QObject* parent = nullptr);
    ~CHApiServer() override;

    // Every request must then carry "Authorization: Bearer TOKEN"; empty: none needed.
    void SetToken(const QByteArray& token);
    // A web page the user visits may not drive the API: browsers name the
    // page in Origin; other clients send none or a loopback one.
    static bool OriginAllowed(const QByteArray& origin);
    // Listens and logs "API listening on ADDRESS:PORT"; false with the reason.
    bool Start(const QHostAddress& address, quint16 port, QString* error);
    quint16 Port() const { return m_port; }

    // "METHOD /path" of every route, for the description check.
    QStringList RouteNames() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    using Status = QHttpServerResponder::StatusCode;
    // A request on its way to an answer; a waiting one keeps it past the handler.
    struct Call {
        QHttpServerResponder responder;
        QPointer<QTcpSocket> socket;
        QStringList args; // the path's {name} parts, in order
        QUrlQuery query;
        QByteArray body;
        bool answered = false;
        void answer(const QJsonValue& value, Status status = Status::Ok);
        // An answer already in compact JSON text.
        void answerText(const QByteArray& json, Status status = Status::Ok);
        void fail(Status status, const QString& error) { answer(QJsonObject{{QStringLiteral("error"), error}}, status); }
    };
    using CallPtr = std::shared_ptr<Call>;
    struct Route {
        QByteArray method;
        QString path; // with {name} for a part the handler reads
        std::function<void(const CallPtr&)> handler;
    };
    // A wait for a journal entry: answered by the first match, by T3 for a
    // sent primary, or by its deadline.
    struct Waiter {
        CallPtr call;
        CHMessageJournal::Match match;
        quint32 expirySystemBytes = 0; // with expiryWatched: a T3 on this primary ends it
        bool expiryWatched = false;
        QTimer* timer = nullptr;
    };

    std::vector<Route> routes();
    static bool matchPath(const QString& pattern, const QString& path, QStringList& args);

    void status(const CallPtr& call);
    void messages(const CallPtr& call);
    void countMessages(const CallPtr& call);
    void clearMessages(const CallPtr& call);
    void waitMessage(const CallPtr& call);
    void send(const CallPtr& call);
    void definitions(const CallPtr& call);
    void definition(const CallPtr& call);
    void putDefinition(const CallPtr& call);
    void deleteDefinition(const CallPtr& call);
    void saveDocument(const CallPtr& call);
    void reloadDocument(const CallPtr& call);
    void connectPorts(const CallPtr& call);
    void disconnectHost(const CallPtr& call);
    void callScript(const CallPtr& call);
    void reloadScript(const CallPtr& call);
    void faults(const CallPtr& call);
    void addFaults(const CallPtr& call);
    void clearFaults(const CallPtr& call);
    void deleteFault(const CallPtr& call);
    void switchFault(const CallPtr& call);
    void panel(const CallPtr& call);
    void actOnPanel(const CallPtr& call);

    // The query's filter (since, sf, dir, port); false with a 400 answered.
    bool filterFrom(const CallPtr& call, quint64& since, CHMessageJournal::Match& match);
    // The body as a JSON object; false with a 400 answered.
    static bool objectFrom(const CallPtr& call, QJsonObject& object);
    void addWaiter(Waiter waiter, int timeoutMs, const QString& timeoutError);
    void onAppended(const CHJournalEntry& entry);
    void onTimedOut(const QString& hex);
    void finishWaiter(std::list<Waiter>::iterator it);

    CTovikarView& m_view;
    QPointer<CHScriptEngine> m_script;
    QByteArray m_token;
    quint16 m_port = 0;
    std::vector<Route> m_routes;
    std::list<Waiter> m_waiters;
    CHEntryTextCache m_texts; // shared with m_events
    CHApiEvents* m_events = nullptr; // a child
};

} // namespace tovik
