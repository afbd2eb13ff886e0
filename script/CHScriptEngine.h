#pragma once
// Reply scripts: finds the script that belongs to the document, loads it
// after the document, loads it again when its file changes, and hooks the
// loaded one into the view. `tovik.state` passes from one load of the same
// file to the next. A script that fails to load leaves the program
// as it is without one. Every entry into a script, the engine's own promise
// jobs included, runs under a limit of 1 s of CPU time; a script that keeps the engine busy
// for longer in total, or passes its memory limit, is stopped and unloaded
// until its file changes.
#include "CHScriptPanel.h"
#include "CHScriptWatchdog.h"

#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace tovik {

class CHScriptHost;
class CTovikarView;

class CHScriptEngine : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kTimeLimit{1000};
    static constexpr int kDefaultMemoryLimitMB = 512;
    // A loaded script's engine collects its garbage once, early, within this
    // many entries (see load()): before the engine fills its heap the first
    // time, for a script with steady traffic (the GEM example's first
    // collection of its own comes after about 60 entries interpreted).
    static constexpr int kEarlyCollectionWithin = 50;

    explicit CHScriptEngine(CTovikarView& view, QObject* parent = nullptr);
    ~CHScriptEngine() override;

    // The script to load: the command line's file; else the File setting,
    // relative to the document's folder; else NAME.js beside NAME.tvkm when
    // it exists. Empty: no script.
    static QString ChooseScript(const QString& commandLine, const QString& setting,
                                const QString& documentPath);

    // Memory the program may grow by while a script runs, from the size it
    // had when the script was loaded; 0: no limit. Taken at the next load.
    void SetMemoryLimit(int megabytes) { m_memoryLimitMB = megabytes; }
    // Loads the file and watches it; an empty path unloads.
    void Start(const QString& path);
    // Loads the watched file again (the Tools menu, or a change on disk).
    void Reload();
    // A file the script read (tovik.readJson): the script is loaded again
    // when its content changes, as when the script's own does.
    void NoteDataFile(const QString& path, const QByteArray& content);
    const QString& Path() const { return m_path; }
    bool IsLoaded() const { return m_host != nullptr; }
    // The loaded script's file name, "script error", or empty without a script.
    QString StatusText() const;
    // The event-log line that tells why the status is "script error" or
    // "script stopped"; empty otherwise.
    const QString& StatusLine() const { return m_statusLine; }

    // Entry into the script from C++ or from one of the engine's promise
    // jobs: the outermost one arms the watchdog.
    void Enter(const char* what);
    void Leave();
    class Entry {
    public:
        Entry(CHScriptEngine& engine, const char* what) : m_engine(engine) { m_engine.Enter(what); }
        ~Entry() { m_engine.Leave(); }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

    private:
        CHScriptEngine& m_engine;
    };

    // Calls a function the script registered with tovik.expose; `done` gets
    // its JSON result (ok) or the error's text, also for a Promise that
    // settles later. False, and `done` dropped, without such a function.
    using ExposedDone = std::function<void(bool ok, const QJsonValue& result)>;
    bool CallExposed(const QString& name, const QJsonArray& args, ExposedDone done);
    void Settled(int id, bool ok, const QJsonValue& result);
    // The panel of the loaded script (empty without one); an action on it
    // runs the script's handler as an entry.
    CHScriptPanel& Panel() { return m_panel; }

    // Entries interrupted so far (the time limit).
    quint64 Interruptions() const { return m_interruptions; }

    // From the script's tovik.exit: asked once the current work is done.
    void RequestExit(int code);

protected:
    // Runs the engine's promise jobs (reactions, thenables) as entries.
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    void StatusChanged(const QString& text);
    void ExitRequested(int code);

private:
    void load();
    void unload();
    void fileTouched();
    void interrupted();
    // What follows an entry that ended, stopped or not.
    void ended(CHScriptWatchdog::Cause cause);
    void stop(const QString& why);
    void recover();
    void setStatus(const QString& text, const QString& line = {});

    CTovikarView& m_view;
    QString m_path;
    QByteArray m_loadedText;
    bool m_everRead = false;
    QMap<QString, QByteArray> m_dataFiles; // path -> content the script read
    std::unique_ptr<CHScriptHost> m_host;
    QPointer<QObject> m_reactions; // where the loaded engine's promise jobs go
    QString m_state; // tovik.state of the script last unloaded, as JSON text
    QString m_status;
    QString m_statusLine;
    QFileSystemWatcher m_watcher;
    QTimer m_settle; // editors write in steps: load once they are done
    int m_depth = 0;
    quint64 m_interruptions = 0;
    const char* m_running = "";
    int m_memoryLimitMB = kDefaultMemoryLimitMB;
    bool m_stopping = false;    // stopped: no more entries, unloaded soon
    bool m_measureBase = false; // the memory ceiling is set at the first entry
    int m_collectIn = 0;        // entries left before this load's early collection
    CHScriptWatchdog m_watchdog;
    std::map<int, ExposedDone> m_exposedCalls;
    int m_nextCall = 1;
    CHScriptPanel m_panel;
};

} // namespace tovik
