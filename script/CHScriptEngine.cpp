#include "CHScriptEngine.h"

#include "CHScriptHost.h"
#include "CTovikarView.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace tovik {

CHScriptEngine::CHScriptEngine(CTovikarView& view, QObject* parent)
    : QObject(parent), m_view(view),
      // The watchdog's thread only posts: the engine is re-enabled here, on
      // the GUI thread, once the interrupted script has unwound.
      m_watchdog(kTimeLimit, [this] {
          QMetaObject::invokeMethod(
              this, [this] { recover(); }, Qt::QueuedConnection);
      }) {
    m_panel.SetHandler([this](const QString& id, const QJsonValue& value) {
        if (m_host && !m_stopping)
            m_host->PanelAct(id, value);
    });
    m_settle.setSingleShot(true);
    m_settle.setInterval(150);
    connect(&m_settle, &QTimer::timeout, this, &CHScriptEngine::fileTouched);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle,
            qOverload<>(&QTimer::start));
    connect(&m_view, &CTovikarView::SentPrimaryExpired, this,
            [this](const QString& key, uint number) {
                if (m_host)
                    m_host->OnExpired(key, number);
            });
    connect(&m_view, &CTovikarView::HsmsConnectionChanged, this,
            [this](const QString& address, int port, bool connected) {
                if (m_host)
                    m_host->OnConnection(address, port, connected);
            });
}

CHScriptEngine::~CHScriptEngine() {
    unload();
}

QString CHScriptEngine::ChooseScript(const QString& commandLine, const QString& setting,
                                     const QString& documentPath) {
    if (!commandLine.isEmpty())
        return QFileInfo(commandLine).absoluteFilePath();
    const QFileInfo document(documentPath);
    if (!setting.isEmpty()) {
        if (QDir::isAbsolutePath(setting))
            return setting;
        const QDir folder = documentPath.isEmpty() ? QDir::current() : document.absoluteDir();
        return folder.absoluteFilePath(setting);
    }
    if (documentPath.isEmpty())
        return {};
    const QString beside = document.absoluteDir().absoluteFilePath(document.completeBaseName() +
                                                                   QStringLiteral(".js"));
    return QFileInfo::exists(beside) ? beside : QString();
}

void CHScriptEngine::Start(const QString& path) {
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    unload();
    m_path = path;
    m_loadedText.clear();
    m_everRead = false;
    m_dataFiles.clear();
    m_state.clear(); // another script starts from nothing
    if (m_path.isEmpty()) {
        setStatus(QString());
        return;
    }
    // The folder too: editors that save by renaming replace the file the
    // watch was on.
    m_watcher.addPath(QFileInfo(m_path).absolutePath());
    if (QFileInfo::exists(m_path))
        m_watcher.addPath(m_path);
    load();
}

void CHScriptEngine::Reload() {
    if (!m_path.isEmpty())
        load();
}

void CHScriptEngine::fileTouched() {
    if (m_path.isEmpty())
        return;
    // Editors that save by renaming take the watch off the old file.
    const auto rewatch = [this](const QString& path) {
        if (QFileInfo::exists(path) && !m_watcher.files().contains(path))
            m_watcher.addPath(path);
    };
    rewatch(m_path);
    for (auto it = m_dataFiles.cbegin(); it != m_dataFiles.cend(); ++it)
        rewatch(it.key());
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return; // gone for the moment: the old script goes on
    // Other files of the folder change too; only new text is loaded. A file
    // gone for the moment counts as unchanged.
    bool changed = !m_everRead || file.readAll() != m_loadedText;
    for (auto it = m_dataFiles.cbegin(); !changed && it != m_dataFiles.cend(); ++it) {
        QFile data(it.key());
        changed = data.open(QIODevice::ReadOnly) && data.readAll() != it.value();
    }
    if (changed)
        load();
}

void CHScriptEngine::NoteDataFile(const QString& path, const QByteArray& content) {
    m_dataFiles.insert(path, content);
    const QString folder = QFileInfo(path).absolutePath();
    if (!m_watcher.directories().contains(folder))
        m_watcher.addPath(folder);
    if (!m_watcher.files().contains(path))
        m_watcher.addPath(path);
}

void CHScriptEngine::load() {
    CTovikarView::LogBatch batch(m_view);
    // A stopped script cannot run to give its state: the last one kept goes on.
    if (m_host && !m_stopping) {
        const QString state = m_host->SaveState();
        if (!state.isNull())
            m_state = state;
    }
    unload();
    const QString name = QFileInfo(m_path).fileName();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString line = FillOutside(QStringLiteral("Script error: %1: cannot read the file"), name);
        m_view.AddText(line);
        setStatus(QStringLiteral("script error"), line);
        return;
    }
    m_loadedText = file.readAll();
    m_everRead = true;
    m_dataFiles.clear(); // the script reads what it needs again
    m_stopping = false;
    m_watchdog.Forgive();
    m_measureBase = true;
    // Engines that run the same script on the same traffic (a fleet of
    // equipments started together) fill their heaps in step and would all
    // collect in the same second, every half minute or so. One collection
    // after a random number of entries puts each on a rhythm of its own.
    m_collectIn = 1 + int(QRandomGenerator::global()->bounded(kEarlyCollectionWithin));
    // Until the new engine's own object for its promise jobs shows itself,
    // every event of the program is looked at.
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
    auto host = std::make_unique<CHScriptHost>(m_view, *this, name);
    m_host = std::move(host);
    if (!m_host->Load(QString::fromUtf8(m_loadedText), m_path, m_state)) {
        const QString line = m_host->LoadError();
        unload();
        setStatus(QStringLiteral("script error"), line);
        return;
    }
    m_view.AddText(QStringLiteral("Script loaded: %1"), name);
    // Handlers see received messages; replies settle the script's sends.
    m_view.SetReceiveHook([this](int port, const std::string& hex) {
        return m_host && !m_stopping && m_host->OnReceived(port, hex);
    });
    setStatus(name);
}

void CHScriptEngine::unload() {
    m_view.SetReceiveHook({});
    if (!m_panel.Current().isEmpty())
        m_panel.Define({}); // the next script makes its own
    m_watchdog.Disarm();
    m_depth = 0;
    m_stopping = false;
    if (m_host) {
        m_host->Js().setInterrupted(false);
        m_host.reset();
    }
}

bool CHScriptEngine::CallExposed(const QString& name, const QJsonArray& args, ExposedDone done) {
    if (!m_host || m_stopping)
        return false;
    const int id = m_nextCall++;
    m_exposedCalls[id] = std::move(done);
    if (m_host && m_host->CallExposed(name, args, id))
        return true;
    m_exposedCalls.erase(id);
    return false;
}

void CHScriptEngine::Settled(int id, bool ok, const QJsonValue& result) {
    const auto it = m_exposedCalls.find(id);
    if (it == m_exposedCalls.end())
        return;
    const ExposedDone done = std::move(it->second);
    m_exposedCalls.erase(it);
    done(ok, result);
}

QString CHScriptEngine::StatusText() const {
    return m_status;
}

void CHScriptEngine::setStatus(const QString& text, const QString& line) {
    m_statusLine = line;
    if (text == m_status)
        return;
    m_status = text;
    Q_EMIT StatusChanged(m_status);
}

void CHScriptEngine::Enter(const char* what) {
    if (m_depth++ != 0 || !m_host)
        return;
    if (m_measureBase) {
        // The limit counts from the program with the engine made, before
        // the script's own first run.
        m_measureBase = false;
        constexpr std::size_t kMB = 1024 * 1024;
        m_watchdog.SetMemoryCeiling(m_memoryLimitMB > 0 ? CHScriptWatchdog::ResidentBytes() +
                                                              std::size_t(m_memoryLimitMB) * kMB
                                                        : 0);
    }
    m_running = what;
    m_watchdog.Arm(&m_host->Js());
}

void CHScriptEngine::Leave() {
    if (m_depth <= 0 || --m_depth != 0)
        return;
    ended(m_watchdog.Disarm());
}

void CHScriptEngine::ended(CHScriptWatchdog::Cause cause) {
    switch (cause) {
    case CHScriptWatchdog::Cause::None:
        if (m_collectIn > 0 && --m_collectIn == 0 && m_host)
            m_host->Js().collectGarbage();
        break;
    case CHScriptWatchdog::Cause::Memory:
        stop(QStringLiteral("went past its memory limit of %1 MB").arg(m_memoryLimitMB));
        break;
    case CHScriptWatchdog::Cause::Time:
        // One entry that ran on is interrupted and the script goes on; many
        // short ones that left the program no time stop it.
        interrupted();
        break;
    case CHScriptWatchdog::Cause::Held:
        stop(QStringLiteral("kept the engine busy for more than 1 s in total"));
        break;
    }
}

bool CHScriptEngine::eventFilter(QObject* watched, QEvent* event) {
    // The engine queues its promise jobs (reactions, and the then() of a
    // thenable it resolves with) as events to an object of its own; they run
    // here as entries into the script.
    if (event->type() < QEvent::User || !m_host)
        return false;
    if (watched != m_reactions) {
        if (qstrcmp(watched->metaObject()->className(), "QV4::Promise::ReactionHandler") != 0)
            return false;
        // Found: from now on only that object's events are looked at.
        m_reactions = watched;
        watched->installEventFilter(this);
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeEventFilter(this);
    }
    if (m_stopping)
        return true; // a stopped script's work is dropped
    Entry entry(*this, "a promise reaction");
    watched->event(event);
    return true;
}

void CHScriptEngine::recover() {
    // The watchdog fired while the GUI thread turned an event loop inside an
    // entry: the entry ends there.
    if (m_depth > 0 && m_watchdog.Fired()) {
        m_depth = 0;
        ended(m_watchdog.Disarm());
    }
}

void CHScriptEngine::interrupted() {
    ++m_interruptions;
    if (m_host)
        m_host->Js().setInterrupted(false);
    m_view.AddText(QStringLiteral("Script interrupted: %1 ran longer than 1 s.")
                       .arg(QLatin1String(m_running)));
}

void CHScriptEngine::stop(const QString& why) {
    if (m_stopping || !m_host)
        return;
    m_stopping = true;
    // Left interrupted, nothing of it runs again before it goes; it goes
    // once the call that led here has unwound.
    m_host->Js().setInterrupted(true);
    const QString line = FillOutside(QStringLiteral("Script stopped: %1 %2; it is loaded again when its file changes."),
                                     QFileInfo(m_path).fileName(), why);
    m_view.AddText(line);
    setStatus(QStringLiteral("script stopped"), line);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_stopping)
                unload();
        },
        Qt::QueuedConnection);
}

void CHScriptEngine::RequestExit(int code) {
    QMetaObject::invokeMethod(
        this, [this, code] { Q_EMIT ExitRequested(code); }, Qt::QueuedConnection);
}

} // namespace tovik
