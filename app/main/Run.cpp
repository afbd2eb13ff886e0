#include "Run.h"

#include "CHApiServer.h"
#include "CMainFrame.h"
#include "CTovikarApp.h"
#include "CTovikarDoc.h"
#include "COptionSheet.h"
#include "CTovikarView.h"
#include "messagebox.h"
#include "qbytetext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace tovik {

namespace {
int g_signalPipe[2] = {-1, -1};
// A script stuck in one of the engine's own routines keeps the event loop
// from ever reading the signal: whatever holds the GUI thread, the program
// ends 1.5 s after SIGINT or SIGTERM. A timer, not a thread that waits:
// with hundreds of equipments on a machine every thread counts.
timer_t g_backstop;
bool g_backstopReady = false;
volatile sig_atomic_t g_backstopArmed = 0;

void onBackstop(int) {
    ::_exit(0);
}

// Only async-signal-safe work here: the event loop reads the signal's
// number from the pipe.
void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    if (signal != SIGHUP && g_backstopReady && !g_backstopArmed) {
        g_backstopArmed = 1;
        itimerspec at{};
        at.it_value.tv_sec = 1;
        at.it_value.tv_nsec = 500'000'000;
        ::timer_settime(g_backstop, 0, &at, nullptr);
    }
}

void startStopBackstop() {
    struct sigaction action {};
    action.sa_handler = onBackstop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGALRM;
    g_backstopReady = ::timer_create(CLOCK_MONOTONIC, &event, &g_backstop) == 0;
}

void printError(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stderr, "tovik: %s\n", bytes.constData());
    std::fflush(stderr);
}
// The control API from --api and --api-token-file, else the [Api] values.
// Returns the exit status when the run cannot go on (2: a value that cannot
// be used, 1: the port cannot be listened on), 0 otherwise.
int startApi(CHAppInstance& instance, const CHStartOptions& options, std::unique_ptr<CHApiServer>& api) {
    const Settings& settings = instance.App();
    // The window's message view reads the same journal: with the API on too,
    // the journal keeps the larger of the two sizes.
    const bool apiOn = !options.api.isEmpty() || settings.ApiPort > 0;
    int cap = settings.ApiJournalSize;
    if (instance.Frame())
        cap = apiOn ? std::max(cap, settings.MessagesSize) : settings.MessagesSize;
    instance.View().Journal().SetCap(cap);
    QString address = settings.ApiAddress;
    int port = settings.ApiPort;
    if (!options.api.isEmpty()) {
        const qsizetype colon = options.api.lastIndexOf(QLatin1Char(':'));
        address = colon < 0 ? QString() : options.api.left(colon);
        bool ok = false;
        port = options.api.mid(colon + 1).toInt(&ok);
        if (!ok || port < 0 || port > 65535) {
            printError(QStringLiteral("--api: %1 is no [ADDRESS:]PORT").arg(EscapedText(options.api)));
            return 2;
        }
    } else if (port <= 0) {
        return 0; // off
    }
    if (address.startsWith(QLatin1Char('[')) && address.endsWith(QLatin1Char(']')))
        address = address.mid(1, address.size() - 2);
    if (address.isEmpty() || address == QStringLiteral("localhost"))
        address = QStringLiteral("127.0.0.1");
    const QHostAddress host(address);
    if (host.isNull()) {
        printError(QStringLiteral("API address %1 is no IP address").arg(EscapedText(address)));
        return 2;
    }
    QString tokenFile = options.apiTokenFile;
    if (tokenFile.isEmpty() && !settings.ApiTokenFile.isEmpty()) {
        tokenFile = settings.ApiTokenFile;
        if (QFileInfo(tokenFile).isRelative())
            tokenFile = QFileInfo(instance.Doc().GetPathName()).absoluteDir().filePath(tokenFile);
    }
    QByteArray token;
    if (!tokenFile.isEmpty()) {
        QFile file(tokenFile);
        if (file.open(QIODevice::ReadOnly))
            token = file.read(4096).trimmed();
        if (token.isEmpty()) {
            printError(QStringLiteral("API token file %1 cannot be read or is empty").arg(EscapedText(tokenFile)));
            return 2;
        }
    }
    if (!host.isLoopback() && token.isEmpty()) {
        printError(QStringLiteral("the API listens on %1, which is not loopback, only with a token "
                                  "(--api-token-file or TokenFile in [Api])")
                       .arg(address));
        return 2;
    }
    api = std::make_unique<CHApiServer>(instance.View(), &instance.Script());
    api->SetToken(token);
    QString why;
    if (!api->Start(host, static_cast<quint16>(port), &why)) {
        printError(why);
        return 1;
    }
    return 0;
}
} // namespace

int Run(const CHStartOptions& options) {
    // Without TZ the C library looks at /etc/localtime again (a file status
    // call) each time a script's Date asks for the local time; named, it
    // reads it once. Qt takes this value as "the system's zone".
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
    if (options.windowed)
        installWidgetMessageBoxes();
    else // no window to show a box in: every box text goes to standard error
        setMessageBoxHandler([](QWidget*, const QString& text, const QString& detail) {
            // One line per box, the detail's lines included; a file name in
            // a box cannot break that line.
            QString line = EscapedText(text);
            if (!detail.isEmpty()) {
                QStringList lines = detail.split(QLatin1Char('\n'));
                for (QString& l : lines)
                    l = EscapedText(l);
                line += QStringLiteral(": ") + lines.join(QStringLiteral("; "));
            }
            printError(line);
        });

    if (::pipe(g_signalPipe) != 0) {
        printError(QStringLiteral("cannot set up signal handling"));
        return 1;
    }

    startStopBackstop();
    int code = 0;
    {
        CHAppInstance instance(options);

        // SIGINT or SIGTERM ends the run as closing the window would: the
        // window writes its rectangle first. A modified document is not
        // asked about: there is nobody to answer. Headless, SIGHUP reads the
        // document and its settings again, as service managers expect.
        QSocketNotifier stopper(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&stopper, &QSocketNotifier::activated, [&] {
            char byte = 0;
            [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
            if (byte == SIGHUP) {
                // A recording writes its files and goes on recording.
                if (instance.IsRecording())
                    instance.WriteRecording();
                else
                    instance.Reload();
                return;
            }
            stopper.setEnabled(false);
            if (CMainFrame* frame = instance.Frame())
                frame->SaveWindowState();
            QCoreApplication::quit();
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        if (!options.windowed)
            sigaction(SIGHUP, &action, nullptr);
        // A signal during the start-up waits in the pipe until it is over
        // (a box shown meanwhile turns the event loop already).
        stopper.setEnabled(false);
        if (!instance.InitInstance())
            return instance.FailureCode();
        std::unique_ptr<CHApiServer> api;
        if (const int failed = startApi(instance, options, api))
            return failed;
        // Headless, a port the start's Connect cannot open ends the run with
        // status 1, so that a service manager or a CI script sees it. The
        // check ends with that first Connect (queued before this), so later
        // failures (a reload, a lost line) never end the run.
        QMetaObject::Connection portCheck;
        if (!options.windowed && !options.keepGoing) {
            portCheck = QObject::connect(&instance.View(), &CTovikarView::PortOpenFailed, [] {
                printError(QStringLiteral("a port could not be opened; ending (--keep-going runs on)"));
                QCoreApplication::exit(1);
            });
            QMetaObject::invokeMethod(
                &instance.View(), [&portCheck] { QObject::disconnect(portCheck); }, Qt::QueuedConnection);
        }
        stopper.setEnabled(true);

        code = QCoreApplication::exec();
        instance.ExitInstance();
    }
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    return code;
}

} // namespace tovik
