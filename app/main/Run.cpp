#include "Run.h"

#include "CMainFrame.h"
#include "COptionSheet.h"
#include "CTovikarView.h"
#include "messagebox.h"
#include "qbytetext.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace tovik {

namespace {
int g_signalPipe[2] = {-1, -1};
int g_stopPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop reads the signal's
// number from the pipe.
void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    if (signal != SIGHUP) {
        [[maybe_unused]] const ssize_t m = ::write(g_stopPipe[1], &byte, 1);
    }
}

// A script stuck in one of the engine's own routines keeps the event loop
// from ever reading the signal: whatever holds the GUI thread, the program
// ends 1.5 s after SIGINT or SIGTERM.
void startStopBackstop() {
    if (::pipe(g_stopPipe) != 0)
        return;
    std::thread([] {
        char byte = 0;
        if (::read(g_stopPipe[0], &byte, 1) != 1)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ::_exit(0);
    }).detach();
}

void printError(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stderr, "tovik: %s\n", bytes.constData());
    std::fflush(stderr);
}
} // namespace

int Run(const CHStartOptions& options) {
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
            return 1;
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
