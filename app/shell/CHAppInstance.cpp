#include "CHAppInstance.h"

#include "CHEventLog.h"
#include "CHRecording.h"
#include "CHLogStreamWriter.h"
#include "CHScriptEngine.h"
#include "CHWindowPlacement.h"
#include "CMainFrame.h"
#include "CSplashWnd.h"
#include "CTovikarApp.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "messagebox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <clocale>
#include <cstdio>

// Resources of a static library are registered by hand, outside any namespace.
static void initShellResources() {
    Q_INIT_RESOURCE(shell);
}

namespace tovik {

namespace {
// The size the window gets from the view's first initial update, before a
// saved rectangle replaces it.
constexpr int kInitialWidth = 640;
constexpr int kInitialHeight = 480;
} // namespace

CHAppInstance::CHAppInstance(CHStartOptions options) : m_options(std::move(options)) {
    if (m_options.windowed)
        initShellResources();
    m_app = std::make_unique<CTovikarApp>(m_options.executablePath, m_options.userConfigDir);
    m_app->file().SetOverrides(m_options.overrides);
}

CHAppInstance::~CHAppInstance() {
    // The frame's form refers to the view and the document: it goes first.
    m_frame.reset();
    m_script.reset();
    if (m_view)
        m_view->SetCapture(nullptr);
    m_stdout.reset();
    m_view.reset();
    m_doc.reset();
    if (m_ownsTheApp && theApp() == m_app.get())
        setTheApp(nullptr);
}

bool CHAppInstance::InitInstance() {
    // Dates and times in the status bar and the log follow the user's locale.
    std::setlocale(LC_ALL, "");
    CSplashWnd::EnableSplashScreen(m_options.windowed && m_options.splash);

    if (!theApp()) {
        setTheApp(m_app.get());
        m_ownsTheApp = true;
    }
    const QString& commandLine = m_options.documentPath;
    if (!commandLine.isEmpty())
        m_app->SelectSettingsFile(commandLine);

    // Without a document on the command line, the last one, when it can
    // still be read; otherwise silently a new document.
    QString open = commandLine;
    if (open.isEmpty() && m_app->ReadOpenMruDocument()) {
        const QString last = m_app->ReadMruDocument();
        QFile probe(last);
        if (!last.isEmpty() && probe.open(QIODevice::ReadOnly)) {
            probe.close();
            open = last;
        }
    }
    m_startDocument = open;

    m_doc = std::make_unique<CTovikarDoc>();
    m_doc->SetMessageBoxHandler(
        [this](const QString& text, const QString& detail) { showMessageBox(text, m_frame.get(), detail); });
    CTovikarApp* app = m_app.get();
    QObject::connect(m_doc.get(), &CTovikarDoc::documentOpened,
                     [app](const QString& path) { app->OnDocumentOpened(path, true); });
    QObject::connect(m_doc.get(), &CTovikarDoc::aboutToSave,
                     [app](const QString& path) { app->OnDocumentSaving(path); });
    m_view = std::make_unique<CTovikarView>(*m_doc);
    CTovikarView* view = m_view.get();
    QObject::connect(m_doc.get(), &CTovikarDoc::backupKept, [view](const QString&, const QString& backup) {
        view->AddText(QStringLiteral("The file as it was before the save is kept as %1 (it had a syntax error)."),
                      backup);
    });
    m_script = std::make_unique<CHScriptEngine>(*m_view);
    // A scenario's tovik.exit ends the run; the log is written out on the way.
    QObject::connect(m_script.get(), &CHScriptEngine::ExitRequested,
                     [](int code) { QCoreApplication::exit(code); });

    if (m_options.logToStdout) {
        m_stdout = std::make_unique<CHLogStreamWriter>(stdout);
        m_stdout->Attach(m_view->EventLog());
    }
    attachFileLog();

    // The frame (tool bar, status bar, splash) comes before the document,
    // so a box about the document has a window to stand on.
    if (m_options.windowed)
        m_frame = std::make_unique<CMainFrame>(*m_app, *m_doc, *m_view);

    // A document that cannot be read was reported by the document. One named
    // on the command line ends the start (the user asked for that very file,
    // and nothing may be written beside a wrong path); the last document
    // gives way to a new one.
    bool opened = !open.isEmpty() && m_doc->OnOpenDocument(open);
    if (!opened && !commandLine.isEmpty())
        return false;
    if (!opened && !m_doc->OnNewDocument())
        return false;

    m_app->LoadSettings();
    for (const SettingOverride& o : m_options.overrides)
        m_view->AddText(QStringLiteral("Setting %1.%2=%3 from the command line (not saved)."), o.section,
                        o.name, o.text);
    Settings settings = m_app->settings();
    if (!m_options.recordDir.isEmpty()) {
        m_recording = std::make_unique<CHRecording>(m_options.recordDir);
        const QStringList existing = m_recording->existingFiles(true);
        // Without --force the window asks; a run without one ends.
        if (!existing.isEmpty() && !m_options.force) {
            if (!m_frame) {
                showMessageBox(QStringLiteral("The recording would replace files that exist (--force replaces them)"),
                               nullptr, existing.join(QLatin1Char('\n')));
                return false;
            }
            if (!askYesNo(QStringLiteral("The recording would replace files that exist. Replace them?"),
                          m_frame.get(), existing.join(QLatin1Char('\n')))) {
                m_recording.reset();
                m_view->AddText(QStringLiteral("Recording: not started, the files in %1 are kept."),
                                m_options.recordDir);
            }
        }
    }
    if (m_recording) {
        QDir().mkpath(m_options.recordDir);
        // A proxy: the host's passive side as the settings say, nothing
        // answered but the session.
        settings.Protocol = 0;
        settings.Server = true;
        settings.CheckDeviceID = false;
        m_view->StartRecording(m_options.upstreamHost, m_options.upstreamPort, *m_recording);
    }
    // The capture: the command line's, else the recording's, else the settings'.
    QString capturePath = m_options.capturePath;
    if (capturePath.isEmpty() && m_recording)
        capturePath = m_recording->path("pcapng");
    if (capturePath.isEmpty())
        capturePath = settings.CaptureFile;
    if (!capturePath.isEmpty()) {
        m_capture = std::make_unique<capture::PcapngWriter>();
        std::string error;
        if (!m_capture->open(capturePath.toStdString(), error)) {
            showMessageBox(QStringLiteral("Cannot write the capture file %1").arg(capturePath), m_frame.get(),
                           QString::fromStdString(error));
            return false;
        }
        m_view->SetCapture(m_capture.get());
    }
    m_view->ApplySettings(settings);
    // Before the ports open, so the first host already meets the rules.
    if (!loadFaults())
        return false;
    m_view->OnInitialUpdate();
    // After the document and the settings, before the ports open.
    if (m_frame)
        m_frame->AttachScript(*m_script);
    if (m_frame && m_recording)
        m_frame->AttachRecording(m_options.recordDir, [this] { StopRecording(); });
    m_script->SetMemoryLimit(m_app->ScriptMemoryLimitMB);
    if (!m_recording)
        m_script->Start(CHScriptEngine::ChooseScript(m_options.scriptPath, m_app->ScriptFile,
                                                 m_doc->GetPathName()));
    if (!m_frame)
        return true;

    m_frame->resize(kInitialWidth, kInitialHeight);
    m_frame->show();
    if (m_app->ReadSaveWindowPosition()) {
        const CTovikarApp::WindowRect saved = m_app->ReadWindowRect();
        if (const std::optional<QRect> rect = RestorableRect(
                {saved.left, saved.top, saved.right, saved.bottom}, ScreenGeometries()))
            m_frame->setGeometry(*rect);
    }
    m_frame->update();
    m_frame->setAcceptDrops(true);
    return true;
}

bool CHAppInstance::loadFaults() {
    QString path = m_options.faultsPath;
    if (path.isEmpty() && !m_app->settings().FaultsFile.isEmpty()) {
        path = m_app->settings().FaultsFile;
        const QString docPath = m_doc->GetPathName();
        if (QFileInfo(path).isRelative() && !docPath.isEmpty())
            path = QFileInfo(docPath).absoluteDir().filePath(path);
    }
    if (path.isEmpty())
        return true;
    const QString error = m_view->Faults().loadFile(path);
    if (error.isEmpty()) {
        m_view->AddText(QStringLiteral("Fault rules loaded from %1."), path);
        return true;
    }
    std::fprintf(stderr, "tovik: %s\n", error.toLocal8Bit().constData());
    m_failureCode = 2;
    return false;
}

void CHAppInstance::attachFileLog() {
    CTovikarApp* app = m_app.get();
    CTovikarView* view = m_view.get();
    // A failure of the file log is told in the event log once the line being
    // written is done, not from inside the log's own add.
    m_view->EventLog().AddSink([app, view](const QString& line) {
        if (!app->EnableLog)
            return;
        if (std::optional<QString> error = app->WriteLog(line)) {
            const QString text = *error;
            QMetaObject::invokeMethod(
                view, [view, text] { view->AddText(text); }, Qt::QueuedConnection);
        }
    });
}

bool CHAppInstance::WriteRecording() {
    if (!m_recording)
        return false;
    QString error;
    if (!m_recording->write(m_view->GetSettings(), false, error)) {
        m_view->AddText(QStringLiteral("Recording not written: %1"), error);
        return false;
    }
    if (m_capture)
        m_capture->flush();
    m_view->AddText(QStringLiteral("Recording written to %1 (%2 messages)."), m_recording->dir(),
                    QString::number(m_recording->journal().size()));
    return true;
}

void CHAppInstance::StopRecording() {
    if (!m_recording || m_recordingStopped)
        return;
    WriteRecording();
    m_recordingStopped = true;
    if (m_view->GetConnected())
        m_view->OnConnect();
}

void CHAppInstance::ExitInstance() {
    // However the run ends (a signal, the window closed), a recording still
    // going writes its files.
    if (IsRecording())
        WriteRecording();
    // The ports are not closed here: the process ends and the system closes
    // them, without a closing line in the log.
    if (m_stdout)
        m_stdout->Flush();
}

} // namespace tovik
