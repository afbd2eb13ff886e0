#include "CHApiServer.h"

#include "CHApiEvents.h"
#include "CHApiJson.h"
#include "CHItemTree.h"
#include "CHMessagePattern.h"
#include "CHScriptEngine.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "MsgDecode.h"
#include "message.h"
#include "qbytetext.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <future>

// The description lives in the static library's resources.
static void initApiResources() {
    Q_INIT_RESOURCE(api);
}

namespace tovik {


void CHApiServer::SetToken(const QByteArray& token) {
    m_there->Run([this, token] { m_http->SetToken(token); });
}

CHApiServer::CHApiServer(CTovikarView& view, CHScriptEngine* script, QObject* parent)
    : QObject(parent), m_view(view), m_script(script) {
    initApiResources();
    CHMessageJournal& journal = view.Journal();
    journal.SetRecording(true);
    m_thread.setObjectName(QStringLiteral("api"));
    m_there = new CHApiMailbox;
    m_there->moveToThread(&m_thread);
    // Nothing is posted to the thread before its event loop's wake-up is
    // made (before `started`): ThreadSanitizer sees that through the promise.
    std::promise<void> started;
    const auto once = connect(&m_thread, &QThread::started, &m_thread, [&started] { started.set_value(); },
                              Qt::DirectConnection);
    m_thread.start();
    started.get_future().wait();
    disconnect(once);
    const auto log = [this](const QString& line) {
        // A line of the API's thread goes into the log on the program's.
        m_here.Post([this, line] { m_view.AddText(line); });
    };
    m_there->Run([&] { m_http = new CHApiHttp(m_here, m_feed, journal.Cap(), log, *m_there); });
    // What the journal keeps already (the window's view may have switched it on).
    for (const CHJournalEntry* e : journal.Find(0, {}))
        m_batch.events.emplace_back(*e);
    handOver();
    const auto routeTable = routes();
    for (const CHApiHttp::Route& r : routeTable)
        m_routeNames << QString::fromLatin1(r.method) + QLatin1Char(' ') + r.path;
    m_http->SetRoutes(routeTable, [this] { handOver(); });
    m_handOver.setSingleShot(true);
    m_handOver.setInterval(CHApiHttp::kBatchMs);
    connect(&m_handOver, &QTimer::timeout, this, &CHApiServer::handOver);

    // From here on the program only hands over what happens, in order.
    m_sink = view.EventLog().AddSink([this](const QString& line) {
        if (m_feed.listeners > 0) {
            m_batch.AddLine(line);
            handedOne();
        }
    });
    m_connections.push_back(connect(&journal, &CHMessageJournal::Appended, this,
                                    [this](const CHJournalEntry& entry) { hand(entry); }));
    m_connections.push_back(
        connect(&journal, &CHMessageJournal::Cleared, this, [this] { hand(CHApiFeed::Cleared{}); }));
    m_connections.push_back(connect(&view, &CTovikarView::SentPrimaryTimedOut, this, [this](const QString& hex) {
        bool ok = false;
        const quint32 system = hex.mid(12, 8).toUInt(&ok, 16);
        if (ok)
            m_http->TimedOut(system);
    }));
}

CHApiServer::~CHApiServer() {
    m_view.EventLog().RemoveSink(m_sink);
    for (const auto& c : m_connections)
        disconnect(c);
    // Its sockets and timers belong to its thread: they go there.
    // Its thread ends itself, after its last job.
    m_there->Run([this] {
        delete m_http;
        QThread::currentThread()->quit();
    });
    m_thread.wait();
    delete m_there; // nothing of it runs any more
}

void CHApiServer::hand(CHApiFeed::Event event) {
    m_batch.events.push_back(std::move(event));
    handedOne();
}

void CHApiServer::handedOne() {
    // A lock and a wake per event, shared with the other thread, cost the
    // replies more than the event itself.
    if (m_feed.waiting > 0 || m_batch.events.size() >= kMaxBatch)
        handOver();
    else if (!m_handOver.isActive())
        m_handOver.start();
}

void CHApiServer::handOver() {
    m_handOver.stop();
    m_http->Hand(m_batch);
}

std::vector<CHApiHttp::Route> CHApiServer::routes() {
    auto bind = [this](void (CHApiServer::*fn)(const CallPtr&)) {
        return [this, fn](const CallPtr& call) { (this->*fn)(call); };
    };
    // Answered on the API's thread from its copy of the journal.
    constexpr auto onApi = CHApiHttp::Runs::Api;
    constexpr auto reads = CHApiHttp::Runs::ApiAfterHandOver;
    auto read = [http = m_http](void (CHApiHttp::*fn)(const CallPtr&)) {
        return [http, fn](const CallPtr& call) { (http->*fn)(call); };
    };
    return {
        {"GET", QStringLiteral("/api/status"), bind(&CHApiServer::status)},
        {"GET", QStringLiteral("/api/messages"), read(&CHApiHttp::Messages), reads},
        {"DELETE", QStringLiteral("/api/messages"), bind(&CHApiServer::clearMessages)},
        {"GET", QStringLiteral("/api/messages/count"), read(&CHApiHttp::CountMessages), reads},
        {"GET", QStringLiteral("/api/messages/wait"), read(&CHApiHttp::WaitMessage), reads},
        {"POST", QStringLiteral("/api/send"), bind(&CHApiServer::send)},
        {"GET", QStringLiteral("/api/definitions"), bind(&CHApiServer::definitions)},
        {"GET", QStringLiteral("/api/definitions/{name}"), bind(&CHApiServer::definition)},
        {"PUT", QStringLiteral("/api/definitions/{name}"), bind(&CHApiServer::putDefinition)},
        {"DELETE", QStringLiteral("/api/definitions/{name}"), bind(&CHApiServer::deleteDefinition)},
        {"POST", QStringLiteral("/api/document/save"), bind(&CHApiServer::saveDocument)},
        {"POST", QStringLiteral("/api/document/reload"), bind(&CHApiServer::reloadDocument)},
        {"POST", QStringLiteral("/api/connect"), bind(&CHApiServer::connectPorts)},
        {"POST", QStringLiteral("/api/disconnect"), bind(&CHApiServer::disconnectHost)},
        // Before the named call: "reload" is no function of the script's.
        {"POST", QStringLiteral("/api/script/reload"), bind(&CHApiServer::reloadScript)},
        {"POST", QStringLiteral("/api/script/{name}"), bind(&CHApiServer::callScript)},
        {"GET", QStringLiteral("/api/faults"), bind(&CHApiServer::faults)},
        {"POST", QStringLiteral("/api/faults"), bind(&CHApiServer::addFaults)},
        {"DELETE", QStringLiteral("/api/faults"), bind(&CHApiServer::clearFaults)},
        {"DELETE", QStringLiteral("/api/faults/{id}"), bind(&CHApiServer::deleteFault)},
        {"PATCH", QStringLiteral("/api/faults/{id}"), bind(&CHApiServer::switchFault)},
        {"GET", QStringLiteral("/api/panel"), bind(&CHApiServer::panel)},
        {"POST", QStringLiteral("/api/panel/{id}"), bind(&CHApiServer::actOnPanel)},
        {"GET", QStringLiteral("/api/openapi.json"),
         [](const CallPtr& call) {
             QFile file(QStringLiteral(":/api/openapi.json"));
             file.open(QIODevice::ReadOnly);
             call->answerText(file.readAll());
         },
         onApi},
        // Reached only without the WebSocket upgrade (CHApiEvents takes those).
        {"GET", QStringLiteral("/api/events"),
         [](const CallPtr& call) { call->fail(Status::UpgradeRequired, QStringLiteral("a WebSocket upgrade was expected")); },
         onApi},
    };
}

QStringList CHApiServer::RouteNames() const {
    return m_routeNames;
}

bool CHApiServer::Start(const QHostAddress& address, quint16 port, QString* error) {
    // The listening socket is made on the thread that serves it.
    m_there->Run([&] { m_port = m_http->listen(address, port); });
    if (m_port == 0) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2").arg(address.toString()).arg(port);
        return false;
    }
    m_view.AddText(QStringLiteral("API listening on %1:%2").arg(address.toString()).arg(m_port));
    return true;
}

bool CHApiServer::objectFrom(const CallPtr& call, QJsonObject& object) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(call->body, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        call->fail(Status::BadRequest, err.error != QJsonParseError::NoError
                                           ? QStringLiteral("malformed JSON: %1").arg(err.errorString())
                                           : QStringLiteral("a JSON object was expected"));
        return false;
    }
    object = doc.object();
    return true;
}

void CHApiServer::status(const CallPtr& call) {
    call->answer(StatusJson(m_view, m_script));
}

void CHApiServer::clearMessages(const CallPtr& call) {
    const auto dropped = static_cast<qint64>(m_view.Journal().Size());
    m_view.Journal().Clear();
    call->answer(QJsonObject{{QStringLiteral("deleted"), dropped}});
}

void CHApiServer::send(const CallPtr& call) {
    QJsonObject in;
    if (!objectFrom(call, in))
        return;
    int port = CTovikarView::PortActiveTab;
    if (in.contains(QStringLiteral("port"))) {
        const QJsonValue p = in.value(QStringLiteral("port"));
        if (!p.isDouble() || (p.toInt(-1) != 0 && p.toInt(-1) != 1))
            return call->fail(Status::BadRequest, QStringLiteral("port: 0 (SECS-I) or 1 (HSMS) was expected"));
        port = p.toInt();
    }
    CHOneMsg def;
    if (in.value(QStringLiteral("definition")).isString()) {
        const QString name = in.value(QStringLiteral("definition")).toString();
        const CHOneMsg* found = m_view.Document().FindByName(BytesFromText(name));
        if (!found)
            return call->fail(Status::NotFound, FillOutside(QStringLiteral("no definition '%1'"), name));
        def = *found;
    } else if (in.value(QStringLiteral("sml")).isString()) {
        def.m_strText = BytesFromText(in.value(QStringLiteral("sml")).toString());
    } else {
        return call->fail(Status::BadRequest, QStringLiteral("\"definition\" or \"sml\" was expected"));
    }
    if (def.m_bStructure) {
        // Checked before anything goes: a text that does not load is not sent.
        CHScriptCodec codec;
        codec.SetSmlText(def.m_strText);
        if (!codec.GetLastError().empty())
            return call->fail(Status::BadRequest, TextFromBytes(codec.GetLastError()));
        if (!codec.message().hasStreamFunction)
            return call->fail(Status::BadRequest, QStringLiteral("the message has no stream and function"));
    }
    const bool hsms = m_view.GetSettings().Protocol == 0 ||
                      (m_view.GetSettings().Protocol == 3 && port != CTovikarView::PortSecs);
    if (hsms ? m_view.Hsms().GetState() < CVeltHsms::Connected : !m_view.SecsI().GetPortOpen())
        return call->fail(Status::Conflict, QStringLiteral("the port is not connected"));
    const quint64 id = m_view.SendDefinition(def, port);
    const auto sent = m_view.Journal().Find(id ? id - 1 : m_view.Journal().LastId(), {}, 1);
    if (id == 0 || sent.empty())
        return call->fail(Status::Conflict, QStringLiteral("nothing was sent"));
    const CHJournalEntry& out = *sent.front();
    const quint64 sentId = out.id;
    const bool wait = in.value(QStringLiteral("wait")).toBool(false);
    if (!wait || !out.wbit() || out.function() % 2 == 0) {
        // Its text comes from the API's copy, made there.
        return m_http->AddWaiter(call, sentId - 1, [sentId](const CHJournalEntry& e) { return e.id == sentId; },
                                 CHApiHttp::kDefaultWaitMs, QStringLiteral("the sent message left the journal"));
    }
    const quint32 system = out.systemBytes();
    const int stream = out.stream();
    const int function = out.function() + 1;
    const auto reply = [system, stream, function](const CHJournalEntry& e) {
        return e.direction == CHJournalEntry::In && e.systemBytes() == system && e.stream() == stream &&
               e.function() == function;
    };
    // T3 answers first; the deadline only guards against a reply that never settles.
    m_http->AddWaiter(call, sentId, reply, std::max(m_view.GetSettings().T3, 0) + 5000, QStringLiteral("no reply"),
                      system);
}

namespace {
QJsonObject definitionJson(const CHOneMsg& d) {
    return QJsonObject{{QStringLiteral("name"), TextFromBytes(d.m_strName)},
                       {QStringLiteral("type"), d.m_bStructure ? QStringLiteral("sml") : QStringLiteral("hex")},
                       {QStringLiteral("text"), TextFromBytes(d.m_strText)},
                       {QStringLiteral("comment"), TextFromBytes(d.m_strComment)},
                       {QStringLiteral("s"), d.m_nStream},
                       {QStringLiteral("f"), d.m_nFunction}};
}
} // namespace

void CHApiServer::definitions(const CallPtr& call) {
    QJsonArray list;
    for (const auto& d : m_view.Document().m_msgList)
        list.append(definitionJson(*d));
    call->answer(list);
}

void CHApiServer::definition(const CallPtr& call) {
    const CHOneMsg* d = m_view.Document().FindByName(BytesFromText(call->args.value(0)));
    if (!d)
        return call->fail(Status::NotFound, FillOutside(QStringLiteral("no definition '%1'"), call->args.value(0)));
    call->answer(definitionJson(*d));
}

void CHApiServer::putDefinition(const CallPtr& call) {
    QJsonObject in;
    if (!objectFrom(call, in))
        return;
    if (!in.value(QStringLiteral("text")).isString())
        return call->fail(Status::BadRequest, QStringLiteral("\"text\" was expected"));
    const QString type = in.value(QStringLiteral("type")).toString(QStringLiteral("sml"));
    if (type != QStringLiteral("sml") && type != QStringLiteral("hex"))
        return call->fail(Status::BadRequest, QStringLiteral("type: sml or hex was expected"));
    CHOneMsg entered;
    entered.m_strName = BytesFromText(call->args.value(0));
    entered.m_bStructure = type == QStringLiteral("sml");
    entered.m_strText = BytesFromText(in.value(QStringLiteral("text")).toString());
    entered.m_strComment = BytesFromText(in.value(QStringLiteral("comment")).toString());
    // A text that does not load is refused, as the window's page refuses it.
    CHScriptCodec codec;
    if (entered.m_bStructure) {
        codec.SetSmlText(entered.m_strText);
    } else {
        std::string digits;
        for (const char c : entered.m_strText)
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
                digits += c;
        codec.SetHexMessage(digits);
    }
    if (!codec.GetLastError().empty())
        return call->fail(Status::BadRequest, TextFromBytes(codec.GetLastError()));

    CTovikarDoc& doc = m_view.Document();
    CHOneMsg* record = doc.FindByName(entered.m_strName);
    const bool added = record == nullptr;
    if (added) {
        auto fresh = std::make_unique<CHOneMsg>(entered);
        record = fresh.get();
        doc.AddMessage(std::move(fresh));
    } else {
        *record = entered;
    }
    DecodeStreamFunction(*record, m_view.ScratchCodec());
    doc.NoteEdited();
    m_view.RefreshMessageList();
    call->answer(definitionJson(*record), added ? Status::Created : Status::Ok);
}

void CHApiServer::deleteDefinition(const CallPtr& call) {
    CTovikarDoc& doc = m_view.Document();
    if (!doc.RemoveByName(BytesFromText(call->args.value(0))))
        return call->fail(Status::NotFound, FillOutside(QStringLiteral("no definition '%1'"), call->args.value(0)));
    doc.NoteEdited();
    m_view.RefreshMessageList();
    call->answer(QJsonObject{{QStringLiteral("deleted"), call->args.value(0)}});
}

void CHApiServer::saveDocument(const CallPtr& call) {
    CTovikarDoc& doc = m_view.Document();
    if (doc.GetPathName().isEmpty())
        return call->fail(Status::Conflict, QStringLiteral("the document has no file yet"));
    if (!doc.OnSaveDocument(doc.GetPathName()))
        return call->fail(Status::Conflict, QStringLiteral("the document could not be saved"));
    call->answer(QJsonObject{{QStringLiteral("path"), doc.GetPathName()}, {QStringLiteral("modified"), doc.IsModified()}});
}

void CHApiServer::reloadDocument(const CallPtr& call) {
    CTovikarDoc& doc = m_view.Document();
    if (doc.GetPathName().isEmpty())
        return call->fail(Status::Conflict, QStringLiteral("the document has no file to read"));
    if (!doc.OnOpenDocument(doc.GetPathName()))
        return call->fail(Status::Conflict, QStringLiteral("the document could not be read"));
    // Decoded now, so the next automatic reply already sees the file's definitions.
    m_view.RefreshMessageList();
    call->answer(QJsonObject{{QStringLiteral("path"), doc.GetPathName()},
                             {QStringLiteral("definitions"), static_cast<qint64>(doc.m_msgList.size())}});
}

void CHApiServer::connectPorts(const CallPtr& call) {
    m_view.OnConnect();
    call->answer(StatusJson(m_view, m_script));
}

void CHApiServer::disconnectHost(const CallPtr& call) {
    m_view.OnDisconnect();
    call->answer(StatusJson(m_view, m_script));
}

void CHApiServer::callScript(const CallPtr& call) {
    QJsonArray args;
    if (!call->body.trimmed().isEmpty()) {
        QJsonParseError err{};
        const QJsonDocument doc = QJsonDocument::fromJson(call->body, &err);
        if (err.error != QJsonParseError::NoError || !doc.isArray())
            return call->fail(Status::BadRequest, QStringLiteral("a JSON array of arguments was expected"));
        args = doc.array();
    }
    if (!m_script)
        return call->fail(Status::NotFound, QStringLiteral("no script is loaded"));
    auto timer = std::make_shared<QTimer>();
    const bool found = m_script->CallExposed(call->args.value(0), args, [call, timer](bool ok, const QJsonValue& result) {
        timer->stop();
        if (ok)
            call->answer(QJsonObject{{QStringLiteral("result"), result}});
        else
            call->fail(Status::Conflict, QStringLiteral("script error: %1").arg(result.toString()));
    });
    if (!found)
        return call->fail(Status::NotFound, FillOutside(QStringLiteral("the script exposes no '%1'"), call->args.value(0)));
    if (call->answered)
        return;
    // A Promise that never settles: the caller hears so after 30 s.
    timer->setSingleShot(true);
    connect(timer.get(), &QTimer::timeout, this, [call] {
        call->fail(Status::GatewayTimeout, QStringLiteral("the script's result did not come within 30 s"));
    });
    timer->start(kScriptCallMs);
}

void CHApiServer::reloadScript(const CallPtr& call) {
    CHScriptEngine* script = m_script.data();
    if (script == nullptr || script->Path().isEmpty())
        return call->fail(Status::Conflict, QStringLiteral("no script file"));
    script->Reload();
    call->answer(QJsonObject{{QStringLiteral("file"), script->Path()}, {QStringLiteral("loaded"), script->IsLoaded()}});
}

// The rules are the view's, so Tools > Faults shows these as any others.
void CHApiServer::faults(const CallPtr& call) {
    call->answer(m_view.Faults().list());
}

void CHApiServer::addFaults(const CallPtr& call) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(call->body, &err);
    if (err.error != QJsonParseError::NoError || !(doc.isObject() || doc.isArray()))
        return call->fail(Status::BadRequest, QStringLiteral("a rule or an array of rules was expected"));
    if (doc.isObject()) {
        const CHFaultRules::Added added = m_view.Faults().add(doc.object());
        if (added.id == 0)
            return call->fail(Status::BadRequest, added.error);
        return call->answer(QJsonObject{{QStringLiteral("id"), added.id}}, Status::Created);
    }
    QString error;
    const std::vector<int> ids = m_view.Faults().addAll(doc.array(), &error);
    if (!error.isEmpty())
        return call->fail(Status::BadRequest, error);
    QJsonArray list;
    for (const int id : ids)
        list.append(id);
    call->answer(QJsonObject{{QStringLiteral("ids"), list}}, Status::Created);
}

void CHApiServer::clearFaults(const CallPtr& call) {
    const auto dropped = static_cast<qint64>(m_view.Faults().list().size());
    m_view.Faults().clear();
    call->answer(QJsonObject{{QStringLiteral("deleted"), dropped}});
}

namespace {
int faultId(const QString& arg) {
    bool ok = false;
    const int id = arg.toInt(&ok);
    return ok ? id : 0;
}
} // namespace

void CHApiServer::deleteFault(const CallPtr& call) {
    if (!m_view.Faults().remove(faultId(call->args.value(0))))
        return call->fail(Status::NotFound, FillOutside(QStringLiteral("no fault rule %1"), call->args.value(0)));
    call->answer(QJsonObject{{QStringLiteral("deleted"), faultId(call->args.value(0))}});
}

void CHApiServer::switchFault(const CallPtr& call) {
    QJsonObject in;
    if (!objectFrom(call, in))
        return;
    if (!in.value(QStringLiteral("enabled")).isBool())
        return call->fail(Status::BadRequest, QStringLiteral("{\"enabled\": true or false} was expected"));
    const int id = faultId(call->args.value(0));
    if (!m_view.Faults().setEnabled(id, in.value(QStringLiteral("enabled")).toBool()))
        return call->fail(Status::NotFound, FillOutside(QStringLiteral("no fault rule %1"), call->args.value(0)));
    for (const QJsonValue rule : m_view.Faults().list())
        if (rule.toObject().value(QStringLiteral("id")).toInt() == id)
            return call->answer(rule);
}

void CHApiServer::panel(const CallPtr& call) {
    if (!m_script)
        return call->answer(QJsonObject{});
    m_script->Panel().Read();
    call->answer(m_script->Panel().Current());
}

// What a click or an edit in the Equipment dock does, handlers included.
void CHApiServer::actOnPanel(const CallPtr& call) {
    const QString id = call->args.value(0);
    if (!m_script || m_script->Panel().Item(id).isEmpty())
        return call->fail(Status::NotFound, FillOutside(QStringLiteral("no panel item '%1'"), id));
    m_script->Panel().Read();
    QJsonValue value;
    if (!call->body.trimmed().isEmpty()) {
        QJsonObject in;
        if (!objectFrom(call, in))
            return;
        value = in.value(QStringLiteral("value"));
        if (value.isUndefined())
            value = QJsonValue::Null;
    }
    const QString refused = m_script->Panel().Act(id, value);
    if (!refused.isEmpty())
        return call->fail(Status::BadRequest, refused);
    call->answer(m_script->Panel().Item(id));
}

} // namespace tovik
