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

// The description lives in the static library's resources.
static void initApiResources() {
    Q_INIT_RESOURCE(api);
}

namespace tovik {

namespace {
QByteArray methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    default: return "OTHER";
    }
}

QByteArray header(const QHttpServerRequest& request, const QByteArray& name) {
    for (const auto& [key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// A whole decimal number from a query value, or nothing.
std::optional<qint64> number(const QUrlQuery& query, const QString& key) {
    if (!query.hasQueryItem(key))
        return std::nullopt;
    bool ok = false;
    const qint64 v = query.queryItemValue(key, QUrl::FullyDecoded).toLongLong(&ok);
    if (!ok || v < 0)
        return -1;
    return v;
}
} // namespace

bool CHApiServer::OriginAllowed(const QByteArray& origin) {
    if (origin.isEmpty())
        return true;
    const QString host = QUrl(QString::fromLatin1(origin)).host();
    return host == QStringLiteral("localhost") || QHostAddress(host).isLoopback();
}

void CHApiServer::SetToken(const QByteArray& token) {
    m_token = token;
    m_events->SetToken(token);
}

void CHApiServer::Call::answer(const QJsonValue& value, Status status) {
    if (answered || !socket)
        return answerText({}, status); // the client went away while we waited
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    answerText(doc.toJson(QJsonDocument::Compact), status);
}

void CHApiServer::Call::answerText(const QByteArray& json, Status status) {
    if (answered)
        return;
    answered = true;
    if (socket)
        responder.write(json, QByteArrayLiteral("application/json"), status);
}

CHApiServer::CHApiServer(CTovikarView& view, CHScriptEngine* script, QObject* parent)
    : QAbstractHttpServer(parent), m_view(view), m_script(script), m_texts(view.Journal()) {
    initApiResources();
    m_routes = routes();
    m_events = new CHApiEvents(*this, view, m_texts, this);
    view.Journal().SetRecording(true);
    connect(&view.Journal(), &CHMessageJournal::Appended, this, &CHApiServer::onAppended);
    connect(&view, &CTovikarView::SentPrimaryTimedOut, this, &CHApiServer::onTimedOut);
}

CHApiServer::~CHApiServer() {
    for (Waiter& w : m_waiters)
        delete w.timer;
}

std::vector<CHApiServer::Route> CHApiServer::routes() {
    auto bind = [this](void (CHApiServer::*fn)(const CallPtr&)) {
        return [this, fn](const CallPtr& call) { (this->*fn)(call); };
    };
    return {
        {"GET", QStringLiteral("/api/status"), bind(&CHApiServer::status)},
        {"GET", QStringLiteral("/api/messages"), bind(&CHApiServer::messages)},
        {"DELETE", QStringLiteral("/api/messages"), bind(&CHApiServer::clearMessages)},
        {"GET", QStringLiteral("/api/messages/count"), bind(&CHApiServer::countMessages)},
        {"GET", QStringLiteral("/api/messages/wait"), bind(&CHApiServer::waitMessage)},
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
             call->answered = true;
             if (call->socket)
                 call->responder.write(file.readAll(), QByteArrayLiteral("application/json"));
         }},
        // Reached only without the WebSocket upgrade (CHApiEvents takes those).
        {"GET", QStringLiteral("/api/events"),
         [](const CallPtr& call) { call->fail(Status::UpgradeRequired, QStringLiteral("a WebSocket upgrade was expected")); }},
    };
}

QStringList CHApiServer::RouteNames() const {
    QStringList names;
    for (const Route& r : m_routes)
        names << QString::fromLatin1(r.method) + QLatin1Char(' ') + r.path;
    return names;
}

bool CHApiServer::Start(const QHostAddress& address, quint16 port, QString* error) {
    m_port = listen(address, port);
    if (m_port == 0) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2").arg(address.toString()).arg(port);
        return false;
    }
    m_view.AddText(QStringLiteral("API listening on %1:%2").arg(address.toString()).arg(m_port));
    return true;
}

bool CHApiServer::matchPath(const QString& pattern, const QString& path, QStringList& args) {
    const QStringList want = pattern.split(QLatin1Char('/'));
    QStringList have = path.split(QLatin1Char('/'));
    for (QString& part : have)
        part = QUrl::fromPercentEncoding(part.toLatin1());
    if (want.size() != have.size())
        return false;
    QStringList found;
    for (qsizetype i = 0; i < want.size(); ++i) {
        if (want[i].startsWith(QLatin1Char('{'))) {
            if (have[i].isEmpty())
                return false;
            found << have[i];
        } else if (want[i] != have[i]) {
            return false;
        }
    }
    args = found;
    return true;
}

bool CHApiServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    // Qt's server goes on with a WebSocket upgrade once a responder for the
    // request was made and let go unused; CHApiEvents checks those clients.
    if (header(request, "Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        makeResponder(request, socket);
        return true;
    }
    auto call = std::make_shared<Call>(Call{makeResponder(request, socket), socket, {}, request.query(), {}});
    if (!m_token.isEmpty() && header(request, "Authorization") != "Bearer " + m_token) {
        call->fail(Status::Unauthorized, QStringLiteral("missing or wrong bearer token"));
        return true;
    }
    if (!OriginAllowed(header(request, "Origin"))) {
        call->fail(Status::Forbidden, QStringLiteral("requests from web pages are refused"));
        return true;
    }
    const QString path = request.url().path(QUrl::FullyEncoded);
    if (request.body().size() > kMaxBody) {
        call->fail(Status::PayloadTooLarge, QStringLiteral("request body over 16 MiB"));
        return true;
    }
    call->body = request.body();
    // Split before decoding: a name may hold an encoded slash.
    const QByteArray method = methodName(request.method());
    bool pathKnown = false;
    for (const Route& r : m_routes) {
        QStringList args;
        if (!matchPath(r.path, path, args))
            continue;
        pathKnown = true;
        if (r.method != method)
            continue;
        call->args = args;
        r.handler(call);
        return true;
    }
    if (pathKnown)
        call->fail(Status::MethodNotAllowed, QStringLiteral("method not allowed here"));
    else
        call->fail(Status::NotFound, QStringLiteral("no such resource"));
    return true;
}

void CHApiServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket)
        .write(QByteArrayLiteral("{\"error\":\"no such resource\"}"), QByteArrayLiteral("application/json"),
               Status::NotFound);
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

bool CHApiServer::filterFrom(const CallPtr& call, quint64& since, CHMessageJournal::Match& match) {
    const QUrlQuery& q = call->query;
    since = 0;
    if (const auto v = number(q, QStringLiteral("since"))) {
        if (*v < 0) {
            call->fail(Status::BadRequest, QStringLiteral("since: a whole number was expected"));
            return false;
        }
        since = static_cast<quint64>(*v);
    }
    std::optional<CHMessagePattern> sf;
    if (q.hasQueryItem(QStringLiteral("sf"))) {
        sf = CHMessagePattern::Parse(q.queryItemValue(QStringLiteral("sf"), QUrl::FullyDecoded));
        if (!sf) {
            call->fail(Status::BadRequest, QStringLiteral("sf: S1F1, S6F*, S*F* or * was expected"));
            return false;
        }
    }
    int dir = -1;
    if (q.hasQueryItem(QStringLiteral("dir"))) {
        const QString d = q.queryItemValue(QStringLiteral("dir"), QUrl::FullyDecoded);
        dir = d == QStringLiteral("in") ? CHJournalEntry::In : d == QStringLiteral("out") ? CHJournalEntry::Out : -2;
        if (dir == -2) {
            call->fail(Status::BadRequest, QStringLiteral("dir: in or out was expected"));
            return false;
        }
    }
    int port = -1;
    if (const auto v = number(q, QStringLiteral("port"))) {
        if (*v < 0 || *v > 1) {
            call->fail(Status::BadRequest, QStringLiteral("port: 0 (SECS-I) or 1 (HSMS) was expected"));
            return false;
        }
        port = static_cast<int>(*v);
    }
    match = [sf, dir, port](const CHJournalEntry& e) {
        return (!sf || (e.sType() == 0 && sf->Matches(e.stream(), e.function()))) &&
               (dir < 0 || e.direction == dir) && (port < 0 || e.port == port);
    };
    return true;
}

void CHApiServer::status(const CallPtr& call) {
    call->answer(StatusJson(m_view, m_script));
}

void CHApiServer::messages(const CallPtr& call) {
    quint64 since = 0;
    CHMessageJournal::Match match;
    if (!filterFrom(call, since, match))
        return;
    std::size_t limit = 0;
    if (const auto v = number(call->query, QStringLiteral("limit"))) {
        if (*v < 0)
            return call->fail(Status::BadRequest, QStringLiteral("limit: a whole number was expected"));
        limit = static_cast<std::size_t>(*v);
    }
    call->answerText(m_texts.ArrayText(m_view.Journal().Find(since, match, limit)));
}

void CHApiServer::countMessages(const CallPtr& call) {
    quint64 since = 0;
    CHMessageJournal::Match match;
    if (!filterFrom(call, since, match))
        return;
    call->answer(QJsonObject{{QStringLiteral("count"), static_cast<qint64>(m_view.Journal().Count(since, match))}});
}

void CHApiServer::clearMessages(const CallPtr& call) {
    const auto dropped = static_cast<qint64>(m_view.Journal().Size());
    m_view.Journal().Clear();
    call->answer(QJsonObject{{QStringLiteral("deleted"), dropped}});
}

void CHApiServer::waitMessage(const CallPtr& call) {
    quint64 since = 0;
    CHMessageJournal::Match match;
    if (!filterFrom(call, since, match))
        return;
    int timeout = kDefaultWaitMs;
    if (const auto v = number(call->query, QStringLiteral("timeout"))) {
        if (*v < 0 || *v > kMaxWaitMs)
            return call->fail(Status::BadRequest, QStringLiteral("timeout: 0 to %1 ms was expected").arg(kMaxWaitMs));
        timeout = static_cast<int>(*v);
    }
    const auto found = m_view.Journal().Find(since, match, 1);
    if (!found.empty())
        return call->answerText(m_texts.Text(*found.front()));
    Waiter w;
    w.call = call;
    w.match = std::move(match);
    addWaiter(std::move(w), timeout, QStringLiteral("no matching message within %1 ms").arg(timeout));
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
    const bool wait = in.value(QStringLiteral("wait")).toBool(false);
    if (!wait || !out.wbit() || out.function() % 2 == 0)
        return call->answerText(m_texts.Text(out));
    Waiter w;
    w.call = call;
    const quint32 system = out.systemBytes();
    const int stream = out.stream();
    const int function = out.function() + 1;
    w.match = [system, stream, function](const CHJournalEntry& e) {
        return e.direction == CHJournalEntry::In && e.systemBytes() == system && e.stream() == stream &&
               e.function() == function;
    };
    w.expirySystemBytes = system;
    w.expiryWatched = true;
    // T3 answers first; the deadline only guards against a reply that never settles.
    addWaiter(std::move(w), std::max(m_view.GetSettings().T3, 0) + 5000, QStringLiteral("no reply"));
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

void CHApiServer::addWaiter(Waiter waiter, int timeoutMs, const QString& timeoutError) {
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    waiter.timer = timer;
    m_waiters.push_back(std::move(waiter));
    connect(timer, &QTimer::timeout, this, [this, timer, timeoutError] {
        for (auto it = m_waiters.begin(); it != m_waiters.end(); ++it) {
            if (it->timer == timer) {
                it->call->fail(Status::GatewayTimeout, timeoutError);
                finishWaiter(it);
                return;
            }
        }
    });
    timer->start(timeoutMs);
}

void CHApiServer::finishWaiter(std::list<Waiter>::iterator it) {
    it->timer->deleteLater();
    m_waiters.erase(it);
}

void CHApiServer::onAppended(const CHJournalEntry& entry) {
    for (auto it = m_waiters.begin(); it != m_waiters.end();) {
        if (it->match && it->match(entry)) {
            it->call->answerText(m_texts.Text(entry));
            auto done = it++;
            finishWaiter(done);
        } else {
            ++it;
        }
    }
}

void CHApiServer::onTimedOut(const QString& hex) {
    bool ok = false;
    const quint32 system = hex.mid(12, 8).toUInt(&ok, 16);
    if (!ok)
        return;
    for (auto it = m_waiters.begin(); it != m_waiters.end();) {
        if (it->expiryWatched && it->expirySystemBytes == system) {
            it->call->fail(Status::GatewayTimeout, QStringLiteral("T3 time out: no reply"));
            auto done = it++;
            finishWaiter(done);
        } else {
            ++it;
        }
    }
}

} // namespace tovik
