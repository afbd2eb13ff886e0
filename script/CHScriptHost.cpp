#include "CHScriptHost.h"

#include "CHMessagePattern.h"

#include "CHMsgHeader.h"
#include "CHScriptEngine.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "qbytetext.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QJsonDocument>
#include <QTimer>

namespace tovik {

CHScriptHost::CHScriptHost(CTovikarView& view, CHScriptEngine& owner, QString name)
    : m_view(view), m_owner(owner), m_name(std::move(name)) {}

CHScriptHost::~CHScriptHost() {
    for (auto& [id, t] : m_timers)
        delete t.timer;
}

bool CHScriptHost::Load(const QString& program, const QString& fileName, const QString& state) {
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    m_savedState = state;
    const QJSValue bootstrap = m_js.evaluate(QLatin1String(kBootstrap));
    const QJSValue internals = bootstrap.call({m_js.newQObject(this)});
    m_dispatch = internals.property(QStringLiteral("dispatch"));
    m_makeMsg = internals.property(QStringLiteral("makeMsg"));
    m_connection = internals.property(QStringLiteral("connection"));
    m_callExposed = internals.property(QStringLiteral("callExposed"));
    m_saveState = internals.property(QStringLiteral("saveState"));
    m_panelAct = internals.property(QStringLiteral("panelAct"));
    m_running = internals.property(QStringLiteral("running"));
    if (internals.isError()) { // the bootstrap itself: only a broken build gets here
        m_view.AddText(ErrorText(internals));
        return false;
    }
    m_js.globalObject().setProperty(QStringLiteral("tovik"),
                                    internals.property(QStringLiteral("tovik")));
    CHScriptEngine::Entry entry(m_owner, "the script");
    const QJSValue result = m_js.evaluate(program, fileName, 1);
    if (result.isError()) {
        m_loadError = ErrorText(result);
        m_view.AddText(m_loadError);
        return false;
    }
    return true;
}

QString CHScriptHost::SaveState() {
    CHScriptEngine::Entry entry(m_owner, "tovik.state");
    const QJSValue text = m_saveState.call();
    if (text.isError()) { // a cycle, a BigInt, a getter that throws
        m_view.AddText(QStringLiteral("Script error: %1: tovik.state is not kept: %2"), m_name,
                       text.toString());
        return {};
    }
    return text.toString();
}

QString CHScriptHost::panel(const QString& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (!doc.isObject())
        return QStringLiteral("not an object");
    return m_owner.Panel().Define(doc.object());
}

bool CHScriptHost::panelSet(const QString& id, const QString& json) {
    // Wrapped, so that a bare number or text parses as well.
    const QJsonDocument doc = QJsonDocument::fromJson(QStringLiteral("[%1]").arg(json).toUtf8());
    return m_owner.Panel().Set(id, doc.array().at(0));
}

bool CHScriptHost::panelWatched() const {
    return m_owner.Panel().Watched();
}

void CHScriptHost::watchPanel(const QJSValue& watched) {
    if (m_panelWatched.isCallable())
        return;
    m_panelWatched = watched;
    const auto changed = [this](bool on) { tellChange(m_panelWatched, m_wasWatched, on, "a panel watch handler"); };
    // At once: a reader gets the panel right after it started reading.
    connect(&m_owner.Panel(), &CHScriptPanel::WatchedChanged, this, changed);
    // Watched already: told once the script's first run is over.
    QMetaObject::invokeMethod(
        this, [this, changed] { changed(m_owner.Panel().Watched()); }, Qt::QueuedConnection);
}

void CHScriptHost::PanelAct(const QString& id, const QJsonValue& value) {
    CTovikarView::LogBatch batch(m_view);
    CHScriptEngine::Entry entry(m_owner, "a panel handler");
    const QJsonDocument doc(QJsonArray{value});
    m_panelAct.call({QJSValue(id), QJSValue(QString::fromUtf8(doc.toJson(QJsonDocument::Compact)))});
}

QString CHScriptHost::ErrorText(const QJSValue& error) const {
    QString file = m_name;
    int line = 0;
    if (error.isError()) {
        const QString where = error.property(QStringLiteral("fileName")).toString();
        if (!where.isEmpty())
            file = QFileInfo(where.startsWith(QLatin1String("file:")) ? where.mid(5) : where)
                       .fileName();
        line = error.property(QStringLiteral("lineNumber")).toInt();
    }
    const QString where = line > 0 ? QStringLiteral(" line ") + QString::number(line) : QString();
    return FillOutside(QStringLiteral("Script error: %1%2: %3"), file, where, error.toString());
}

void CHScriptHost::error(const QJSValue& error) {
    m_view.AddText(ErrorText(error));
}

QJSValueList CHScriptHost::msgArguments(int port, const std::string& hex) {
    // The header alone, without decoding the body: the script reads that
    // only when it asks for it.
    const CHMsgHeader h(hex);
    const double system = static_cast<double>((uint32_t{h.SystemHigh} << 16) | h.SystemLow);
    return {QJSValue(QString::fromLatin1(hex)),
            QJSValue(port),
            QJSValue(int{h.Stream}),
            QJSValue(int{h.Function}),
            QJSValue(h.WBit != 0),
            QJSValue(int{h.DeviceID}),
            QJSValue(system)};
}

QJSValue CHScriptHost::makeMsg(int port, const std::string& hex) {
    return m_makeMsg.call(msgArguments(port, hex));
}

bool CHScriptHost::OnReceived(int port, const std::string& hex) {
    if (!m_pending.empty())
        settle(port, hex);
    if (!m_watching)
        return false;

    const uint64_t loadsBefore = m_workingLoads;
    const quint64 interruptions = m_owner.Interruptions();
    bool answered = false;
    QString problem;
    {
        // Reading the result may run the script too (a getter, a Proxy).
        CHScriptEngine::Entry entry(m_owner, "a handler");
        const QJSValue result = m_dispatch.call(msgArguments(port, hex));
        if (result.isNull())
            return true; // deliberately silent
        if (!result.isUndefined() && !result.isError()) {
            problem = loadWorking(result);
            answered = problem.isEmpty();
        }
    }
    if (answered) {
        const auto by = static_cast<std::size_t>(m_dispatch.property(QStringLiteral("by")).toInt());
        m_view.SetSendOrigin(CHJournalEntry::Origin::Script,
                             by < m_handlerSources.size() ? m_handlerSources[by] : m_name);
        m_view.SendWorkingMessage(port, &hex);
        return true;
    }
    if (!problem.isEmpty())
        m_view.AddText(QStringLiteral("Script error: %1: the reply %2"), m_name, problem);
    // The dispatch goes on with the received message, whatever the handlers sent.
    if (m_workingLoads != loadsBefore)
        m_view.WorkingCodec().SetHexMessage(hex);
    if (m_owner.Interruptions() != interruptions)
        logInterruptedHandler();
    return false;
}

void CHScriptHost::logInterruptedHandler() {
    const QString pattern = m_running.property(QStringLiteral("pattern")).toString();
    m_running.setProperty(QStringLiteral("pattern"), QString());
    const int line = m_running.property(QStringLiteral("line")).toInt();
    const QString where = FillOutside(QStringLiteral("%1, the handler for %2%3"), m_name, pattern,
                                      line > 0 ? QStringLiteral(" registered at line %1").arg(line) : QString());
    CVeltSecsII& working = m_view.WorkingCodec();
    const QString answer = QStringLiteral("S%1F%2").arg(working.GetStream()).arg(working.GetFunction() + 1);
    const CHOneMsg* def = nullptr;
    int candidates = 0;
    QString next;
    switch (m_view.ChooseAutoReply(&def, &candidates)) {
    case CTovikarView::AutoReply::None:
        next = QStringLiteral("no reply, none is expected");
        break;
    case CTovikarView::AutoReply::Fallback:
        next = QStringLiteral("the reply is <b 0>, the document has no %1").arg(answer);
        break;
    case CTovikarView::AutoReply::Definition:
        next = FillOutside(QStringLiteral("the reply is the document's '%1'"), TextFromBytes(def->m_strName));
        break;
    case CTovikarView::AutoReply::UserChooses:
        next = QStringLiteral("no reply until the user sends one of the document's %1 %2").arg(candidates).arg(answer);
        break;
    }
    m_view.AddText(QStringLiteral("Script interrupted: %1; %2.").arg(where, next));
}

void CHScriptHost::watch(const QString& pattern) {
    m_watching = true;
    m_handlerSources.push_back(m_name + QLatin1Char(' ') + pattern);
}

QString CHScriptHost::loadWorking(const QJSValue& what) {
    CHVeltSecsII& working = m_view.WorkingCodec();
    ++m_workingLoads;
    if (what.isString()) {
        working.SetSml(BytesFromText(what.toString()));
    } else if (what.isObject() && what.property(QStringLiteral("text")).isString()) {
        CHOneMsg def;
        def.m_strName = BytesFromText(what.property(QStringLiteral("name")).toString());
        def.m_strText = BytesFromText(what.property(QStringLiteral("text")).toString());
        def.m_bStructure = what.property(QStringLiteral("structure")).toBool();
        m_view.LoadDefinition(def);
    } else {
        return QStringLiteral("is neither SML text nor a definition");
    }
    if (!working.GetLastError().empty())
        return QStringLiteral("does not load: ") + TextFromBytes(working.GetLastError());
    return {};
}

int CHScriptHost::send(const QJSValue& what, int port) {
    CTovikarView::LogBatch batch(m_view);
    const QString problem = loadWorking(what);
    if (!problem.isEmpty()) {
        m_js.throwError(QStringLiteral("tovik.send: the message ") + problem);
        return 0;
    }
    m_view.SetSendOrigin(CHJournalEntry::Origin::Script, m_name);
    m_view.SendWorkingMessage(port, nullptr);
    CHVeltSecsII& working = m_view.WorkingCodec();
    if ((working.GetFunction() & 1) == 0 || !working.GetWBit())
        return 0;
    const uint32_t id = m_nextSend++;
    if (!m_view.SentPrimaries.AddPrimary(working.GetHexMessage(), kRecordKey, id))
        return 0;
    m_pending[id] = {};
    return static_cast<int>(id);
}

void CHScriptHost::track(int id, const QJSValue& resolve, const QJSValue& reject) {
    const auto it = m_pending.find(static_cast<uint32_t>(id));
    if (it != m_pending.end())
        it->second = {resolve, reject};
}

void CHScriptHost::settle(int port, const std::string& hex) {
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (m_view.SentPrimaries.RemoveAnswered(hex, kRecordKey, it->first)) {
            const QJSValue resolve = it->second.resolve;
            m_pending.erase(it);
            // Resolving queues the reactions, but makes the message and
            // looks for its then() at once.
            CHScriptEngine::Entry entry(m_owner, "a promise reaction");
            resolve.call({makeMsg(port, hex)});
            return;
        }
    }
}

void CHScriptHost::OnExpired(const QString& keyText, uint keyNumber) {
    if (keyText != QLatin1String(kRecordKey))
        return;
    const auto it = m_pending.find(keyNumber);
    if (it == m_pending.end())
        return;
    const QJSValue reject = it->second.reject;
    m_pending.erase(it);
    CHScriptEngine::Entry entry(m_owner, "a promise reaction");
    reject.call({m_js.newErrorObject(QJSValue::GenericError, QStringLiteral("T3"))});
}

bool CHScriptHost::CallExposed(const QString& name, const QJsonArray& args, int id) {
    CTovikarView::LogBatch batch(m_view);
    CHScriptEngine::Entry entry(m_owner, "an exposed function");
    return m_callExposed.call({QJSValue(name), m_js.toScriptValue(args), QJSValue(id)}).toBool();
}

void CHScriptHost::settled(int id, bool ok, const QJSValue& value) {
    const QJsonValue json = ok ? QJsonValue::fromVariant(value.toVariant()) : QJsonValue(value.toString());
    m_owner.Settled(id, ok, json);
}

void CHScriptHost::OnConnection(const QString& address, int port, bool connected) {
    CTovikarView::LogBatch batch(m_view);
    CHScriptEngine::Entry entry(m_owner, "a connection handler");
    m_connection.call({QJSValue(address), QJSValue(port), QJSValue(connected)});
}

void CHScriptHost::reply(const QString& hex, int port, const QJSValue& what) {
    CTovikarView::LogBatch batch(m_view);
    const QString problem = loadWorking(what);
    if (!problem.isEmpty()) {
        m_js.throwError(QStringLiteral("tovik.reply: the message ") + problem);
        return;
    }
    const std::string primary = hex.toStdString();
    m_view.SetSendOrigin(CHJournalEntry::Origin::Script, m_name);
    m_view.SendWorkingMessage(port, &primary);
}

int CHScriptHost::after(int ms, const QJSValue& fn, bool repeat) {
    const int id = m_nextTimer++;
    auto* timer = new QTimer;
    timer->setSingleShot(!repeat);
    timer->setInterval(std::max(0, ms));
    QObject::connect(timer, &QTimer::timeout, this, [this, id] { fire(id); });
    m_timers[id] = {timer, fn};
    timer->start();
    return id;
}

void CHScriptHost::fire(int id) {
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    const QJSValue fn = it->second.fn;
    if (it->second.timer->isSingleShot()) {
        it->second.timer->deleteLater();
        m_timers.erase(it);
    }
    CTovikarView::LogBatch batch(m_view);
    CHScriptEngine::Entry entry(m_owner, "a timer");
    fn.call();
}

void CHScriptHost::cancel(int id) {
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    it->second.timer->stop();
    it->second.timer->deleteLater();
    m_timers.erase(it);
}

void CHScriptHost::log(const QString& text) {
    // One line, whatever the script gives: it cannot write the program's lines.
    m_view.AddText(QStringLiteral("%1"), text);
}

QJSValue CHScriptHost::definition(const QString& name) {
    const CHOneMsg* def = m_view.Document().FindByName(BytesFromText(name));
    if (!def)
        return QJSValue(QJSValue::NullValue);
    QJSValue o = m_js.newObject();
    o.setProperty(QStringLiteral("name"), TextFromBytes(def->m_strName));
    o.setProperty(QStringLiteral("structure"), def->m_bStructure);
    o.setProperty(QStringLiteral("text"), TextFromBytes(def->m_strText));
    o.setProperty(QStringLiteral("stream"), int{def->m_nStream});
    o.setProperty(QStringLiteral("function"), int{def->m_nFunction});
    return o;
}

bool CHScriptHost::connected() const {
    return m_view.GetConnected();
}

void CHScriptHost::exit(int code) {
    m_owner.RequestExit(code);
}

int CHScriptHost::fault(const QJSValue& rule) {
    const QJsonValue json = rule.isObject() ? QJsonValue::fromVariant(rule.toVariant()) : QJsonValue();
    if (!json.isObject()) {
        m_js.throwError(QJSValue::TypeError, QStringLiteral("tovik.fault needs a rule object"));
        return 0;
    }
    const CHFaultRules::Added added = m_view.Faults().add(json.toObject());
    if (added.id == 0)
        m_js.throwError(QJSValue::RangeError, QStringLiteral("tovik.fault: ") + added.error);
    return added.id;
}

bool CHScriptHost::clearFault(int id) {
    return m_view.Faults().remove(id);
}

void CHScriptHost::clearFaults() {
    m_view.Faults().clear();
}

QJSValue CHScriptHost::body(const QString& hex) {
    m_codec.SetHexMessage(hex.toStdString());
    return ScriptBody(m_js, m_codec);
}

QJSValue CHScriptHost::pattern(const QString& text) {
    const std::optional<CHMessagePattern> p = CHMessagePattern::Parse(text);
    if (!p)
        return QJSValue(QJSValue::NullValue);
    QJSValue o = m_js.newObject();
    o.setProperty(QStringLiteral("stream"), p->stream);
    o.setProperty(QStringLiteral("func"), p->function);
    return o;
}

QString CHScriptHost::sml(const QString& hex) {
    m_codec.SetHexMessage(hex.toStdString());
    return TextFromBytes(m_codec.GetSmlText());
}

} // namespace tovik
