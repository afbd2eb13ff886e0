#pragma once
// One loaded reply script: its JavaScript engine, the native half of the
// `tovik` object (Q_INVOKABLE methods the bootstrap calls as `host.*`), its
// timers and the sends that still wait for a reply. Reloading makes a new
// host; of the old script only `tovik.state`, as JSON text, survives.
#include "CHItemTree.h"
#include "CVeltSecsII.h"

#include <QJSEngine>
#include <QJSValue>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>
#include <memory>
#include <string>

class QTimer;

namespace tovik {

class CHScriptEngine;
class CTovikarView;

// The codec with its message open to reading, for the item tree.
class CHScriptHost : public QObject {
    Q_OBJECT
public:
    // The key of the script's records in SentPrimaries; the exchange engine's
    // own records carry the empty key, so neither settles the other's.
    static constexpr const char* kRecordKey = "script";
    static const char* const kBootstrap;

    CHScriptHost(CTovikarView& view, CHScriptEngine& owner, QString name);
    ~CHScriptHost() override;

    // Runs the script's text with `tovik.state` made from `state` (JSON text
    // of an object, or empty); false (with the error logged) when it fails.
    bool Load(const QString& program, const QString& fileName, const QString& state = {});
    // `tovik.state` as JSON text; null when it cannot be written (logged).
    QString SaveState();
    // A received data message; true when the script settled it (a reply or
    // deliberately none).
    bool OnReceived(int port, const std::string& hex);
    void OnExpired(const QString& keyText, uint keyNumber);
    void OnConnection(const QString& address, int port, bool connected);
    // Calls the function the script exposed under that name; false when there
    // is none. Its result comes to the owner's Settled under `id`.
    bool CallExposed(const QString& name, const QJsonArray& args, int id);
    bool Watching() const { return m_watching; }
    QJSEngine& Js() { return m_js; }
    // "Script error: NAME.js line N: message" for a thrown value.
    QString ErrorText(const QJSValue& error) const;
    // The line Load logged when it failed.
    const QString& LoadError() const { return m_loadError; }

    Q_INVOKABLE int send(const QJSValue& what, int port);
    Q_INVOKABLE void track(int id, const QJSValue& resolve, const QJSValue& reject);
    Q_INVOKABLE void reply(const QString& hex, int port, const QJSValue& what);
    Q_INVOKABLE int after(int ms, const QJSValue& fn, bool repeat);
    Q_INVOKABLE void cancel(int id);
    Q_INVOKABLE void log(const QString& text);
    Q_INVOKABLE QJSValue definition(const QString& name);
    Q_INVOKABLE bool connected() const;
    Q_INVOKABLE void exit(int code);
    Q_INVOKABLE void error(const QJSValue& error);
    // A handler registered for `pattern` (tovik.on), in the order of dispatch.
    Q_INVOKABLE void watch(const QString& pattern);
    Q_INVOKABLE QJSValue body(const QString& hex);
    Q_INVOKABLE QString sml(const QString& hex);
    // {stream, func} with -1 for any, or null: the same patterns as the control API's.
    Q_INVOKABLE QJSValue pattern(const QString& text);
    // The text of a file in the document's folder, for tovik.readJson;
    // throws for a name that leads out of it or a file that cannot be read.
    Q_INVOKABLE QString readText(const QString& name);
    // From the first tovik.onSelect: `selected(bool)` is called each time
    // the HSMS link is selected or stops being so.
    Q_INVOKABLE void watchSelect(const QJSValue& selected);
    Q_INVOKABLE void settled(int id, bool ok, const QJSValue& value);
    // Fault rules: the new rule's id; a bad rule throws with what is wrong.
    Q_INVOKABLE int fault(const QJSValue& rule);
    Q_INVOKABLE bool clearFault(int id);
    Q_INVOKABLE void clearFaults();
    Q_INVOKABLE QString savedState() const { return m_savedState; }
    // tovik.files: bytes as hex text, names relative to the document's folder.
    Q_INVOKABLE QString readBytes(const QString& name);
    Q_INVOKABLE void writeBytes(const QString& name, const QString& hex);
    Q_INVOKABLE bool removeFile(const QString& name);
    Q_INVOKABLE QStringList listFiles(const QString& folder);
    // tovik.panel: the definition and values as JSON text; the reason when
    // it is refused.
    Q_INVOKABLE QString panel(const QString& json);
    Q_INVOKABLE bool panelSet(const QString& id, const QString& json);
    Q_INVOKABLE bool panelWatched() const;
    // From the first tovik.panel.onWatch: `watched(bool)` is called each time
    // someone starts or stops reading the panel.
    Q_INVOKABLE void watchPanel(const QJSValue& watched);
    // A user's action on the panel, handed to the item's handler.
    void PanelAct(const QString& id, const QJsonValue& value);

private:
    struct Timer {
        QTimer* timer;
        QJSValue fn;
    };
    struct Pending {
        QJSValue resolve;
        QJSValue reject;
    };
    // Loads SML text or a definition object into the working codec; the
    // reason when it cannot.
    QString loadWorking(const QJSValue& what);
    QJSValueList msgArguments(int port, const std::string& hex);
    QJSValue makeMsg(int port, const std::string& hex);
    void settle(int port, const std::string& hex);
    // After a handler was interrupted: where it was, and what Tovik does in its place.
    void logInterruptedHandler();
    void fire(int id);
    // Calls fn(on) as an entry when `on` differs from what `told` says, then
    // keeps it there (tovik.onSelect, tovik.panel.onWatch).
    void tellChange(QJSValue& fn, bool& told, bool on, const char* what);
    QString documentFolder() const;
    // The real path of an existing file inside the document's folder, or
    // empty with an exception thrown in the script.
    QString existingInside(const QString& name, const char* what);

    CTovikarView& m_view;
    CHScriptEngine& m_owner;
    const QString m_name;
    QJSEngine m_js;
    QJSValue m_dispatch;
    QJSValue m_makeMsg;
    QJSValue m_connection;
    QJSValue m_callExposed;
    QJSValue m_saveState;
    QJSValue m_panelAct;
    QJSValue m_running;
    QString m_savedState;
    QString m_loadError;
    CHScriptCodec m_codec; // decodes received messages for the script
    std::map<int, Timer> m_timers;
    std::map<uint32_t, Pending> m_pending;
    int m_nextTimer = 1;
    uint32_t m_nextSend = 1;
    uint64_t m_workingLoads = 0; // the working codec was loaded by the script
    bool m_watching = false;
    // "FILE PATTERN" per handler, the origin of the replies it gives.
    std::vector<QString> m_handlerSources;
    QJSValue m_selected;    // tovik.onSelect's dispatch, once watched
    bool m_wasSelected = false;
    QJSValue m_panelWatched; // tovik.panel.onWatch's dispatch, once watched
    bool m_wasWatched = false;
};

// The item tree of a message body for a script: {type, items} for lists,
// {type, value} for texts, {type, values} for the rest; undefined without a
// body. Given as its JSON text where that carries every number exactly.
QJSValue ScriptBody(QJSEngine& js, const CHScriptCodec& codec);

} // namespace tovik
