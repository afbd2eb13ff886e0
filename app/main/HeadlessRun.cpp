#include "HeadlessRun.h"

#include "CHEventLog.h"
#include "CHLogStreamWriter.h"
#include "CTovikarApp.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "messagebox.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace tovik {

namespace {
int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop reads the pipe.
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

void printError(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stderr, "tovik: %s\n", bytes.constData());
    std::fflush(stderr);
}
} // namespace

int RunHeadless(const QString& documentPath) {
    CTovikarApp settings;
    setTheApp(&settings);
    // No window to show a box in: every box text goes to standard error.
    setMessageBoxHandler([](QWidget*, const QString& text) { printError(text); });

    if (!documentPath.isEmpty())
        settings.SelectSettingsFile(documentPath);

    CTovikarDoc doc;
    doc.SetMessageBoxHandler(printError);
    bool opened = false;
    if (!documentPath.isEmpty()) {
        opened = doc.OnOpenDocument(documentPath);
        settings.OnDocumentOpened(documentPath, opened);
    }
    if (!opened)
        doc.OnNewDocument();

    CTovikarView view(settings, doc);
    CHLogStreamWriter out(stdout);
    out.Attach(view.EventLog());
    // The file log, when enabled; its own failure is told in the event log,
    // after the line being written.
    view.EventLog().AddSink([&settings, &view](const QString& line) {
        if (!settings.EnableLog)
            return;
        if (std::optional<QString> error = settings.WriteLog(line)) {
            const QString text = *error;
            QMetaObject::invokeMethod(&view, [&view, text] { view.AddText(text); },
                                      Qt::QueuedConnection);
        }
    });

    if (::pipe(g_signalPipe) != 0) {
        printError(QStringLiteral("cannot set up signal handling"));
        return 1;
    }
    QSocketNotifier stopper(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, [&] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        stopper.setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    view.OnInitialUpdate();
    const int code = QCoreApplication::exec();

    if (view.GetConnected())
        view.OnConnect(); // switches the ports off, with their close texts
    out.Flush();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    setTheApp(nullptr);
    return code;
}

} // namespace tovik
