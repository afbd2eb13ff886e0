// tovik: the HSMS/SECS simulator.
//
//   tovik [--headless] [DOCUMENT]   run with the message document DOCUMENT
//   tovik --version | --help
#include "HeadlessRun.h"

#include <QApplication>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace {
const char kUsage[] =
    "Usage: tovik [--headless] [DOCUMENT]\n"
    "       tovik --version | --help\n"
    "\n"
    "Simulates one side of a SECS-II conversation over HSMS (TCP/IP) or SECS-I\n"
    "(serial), answering every primary message that expects a reply from the\n"
    "message DOCUMENT (.tvkm). Settings are read from the .ini file beside the\n"
    "document (equipment.tvkm -> equipment.ini).\n"
    "\n"
    "  --headless   run without a window; every event-log line goes to standard\n"
    "               output. SIGINT or SIGTERM closes the ports and exits.\n"
    "  --version    print the version and exit\n"
    "  --help       print this help and exit\n";
}

int main(int argc, char* argv[]) {
    bool headless = false;
    QString document;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("tovik %s\n", TOVIK_VERSION);
            return 0;
        }
        if (std::strcmp(arg, "--headless") == 0) {
            headless = true;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "tovik: unknown option '%s'\n%s", arg, kUsage);
            return 2;
        } else if (document.isEmpty()) {
            document = QString::fromLocal8Bit(arg);
        } else {
            std::fprintf(stderr, "tovik: only one document can be given\n%s", kUsage);
            return 2;
        }
    }
    if (!headless)
        std::fputs("tovik: the main window comes in a later version; running headless.\n", stderr);
    // One start-up path: the window, when it comes, is the only difference.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tovik"));
    QApplication::setApplicationVersion(QStringLiteral(TOVIK_VERSION));
    return tovik::RunHeadless(document);
}
