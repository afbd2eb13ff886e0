#pragma once
// The control API: HTTP/JSON beside the protocol ports, for tests that drive
// Tovik as a fixture. Its sockets, JSON texts and the reading routes run on
// a thread of their own (CHApiHttp), so neither a busy nor a stuck client
// takes time from the replies to hosts. This object stays on the program's
// thread: it hands over each journal entry and log line as it happens, and
// runs the routes that act on the program (send, definitions, document,
// ports, script, faults, panel, status), whose answers go back to be
// written. A request that waits (for a message, a reply, a script's promise)
// keeps its call and is answered from a signal or its deadline.
//
// Every route is one row of the table built in routes(); each answers JSON,
// errors as {"error": "..."}.
#include "CHApiHttp.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <vector>

namespace tovik {

class CHScriptEngine;
class CTovikarView;

class CHApiServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kScriptCallMs = 30000;
    // Events held back at most before they are handed over at once.
    static constexpr std::size_t kMaxBatch = 1024;

    CHApiServer(CTovikarView& view, CHScriptEngine* script, QObject* parent = nullptr);
    ~CHApiServer() override;

    // Every request must then carry "Authorization: Bearer TOKEN"; empty: none needed.
    void SetToken(const QByteArray& token);
    // Listens and logs "API listening on ADDRESS:PORT"; false with the reason.
    bool Start(const QHostAddress& address, quint16 port, QString* error);
    quint16 Port() const { return m_port; }

    // "METHOD /path" of every route, for the description check.
    QStringList RouteNames() const;

private:
    using CallPtr = CHApiCallPtr;
    using Status = CHApiCall::Status;

    std::vector<CHApiHttp::Route> routes();

    void status(const CallPtr& call);
    void clearMessages(const CallPtr& call);
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

    // What happened, kept on this thread a few ms (or until a route
    // answers, or a wait wants it) and handed over in one go.
    void hand(CHApiFeed::Event event);
    // The batch is full or its time is up.
    void handedOne();
    void handOver();

    // The body as a JSON object; false with a 400 answered.
    static bool objectFrom(const CallPtr& call, QJsonObject& object);

    CTovikarView& m_view;
    QPointer<CHScriptEngine> m_script;
    quint16 m_port = 0;
    CHApiFeed m_feed;
    CHApiFeed::Batch m_batch;
    QTimer m_handOver;
    QThread m_thread;
    CHApiMailbox m_here;         // work for this thread
    CHApiMailbox* m_there;       // work for m_thread, which it lives on; owns what lives there
    CHApiHttp* m_http = nullptr; // m_there's child
    QStringList m_routeNames;
    int m_sink = 0;
    std::vector<QMetaObject::Connection> m_connections;
};

} // namespace tovik
