// tovik-fleet: many headless equipments from one model, one process each.
//
//   tovik-fleet --count N --base-port P --device-id-from D [--set SECTION.VALUE=TEXT]...
//               [--log-dir DIR] [--start-rate R] [--script-jit] [--tovik PROGRAM] MODEL.tvkm
#include "Fleet.h"
#include "tovik_version.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
const char kUsage[] =
    "Usage: tovik-fleet --count N --base-port P --device-id-from D [--set SECTION.VALUE=TEXT]...\n"
    "                   [--log-dir DIR] [--start-rate R] [--script-jit] [--tovik PROGRAM]\n"
    "                   MODEL.tvkm\n"
    "       tovik-fleet --version | --help\n"
    "\n"
    "Starts N headless equipments from one model (the document MODEL.tvkm, its\n"
    "settings MODEL.ini and its reply script), each a tovik process of its own:\n"
    "equipment i (0 to N-1) listens on port P+i with device id D+i. One that\n"
    "ends is started again; SIGINT or SIGTERM stops them all, SIGHUP makes each\n"
    "read its document and settings again. One status line per change on\n"
    "standard output.\n"
    "\n"
    "  --count N          how many equipments (1 to 10000)\n"
    "  --base-port P      the first equipment's HSMS port\n"
    "  --device-id-from D the first equipment's device id (0 to 32767)\n"
    "  --set SECTION.VALUE=TEXT\n"
    "                     given to every equipment (see tovik --help)\n"
    "  --log-dir DIR      each equipment's event log to DIR/equipment-i.log\n"
    "                     instead of standard output with \"[i] \" before each line\n"
    "  --start-rate R     start at most R equipments a second at first (default 20;\n"
    "                     0: all at once)\n"
    "  --script-jit       let the script engine compile the scripts as a single\n"
    "                     tovik does; by default a fleet's scripts are interpreted\n"
    "                     (QV4_FORCE_INTERPRETER=1), so that equipments started\n"
    "                     together do not all compile in their first seconds\n"
    "  --tovik PROGRAM    the program to run (default: tovik beside tovik-fleet,\n"
    "                     else tovik on the PATH)\n"
    "  --version          print the version and exit\n"
    "  --help             print this help and exit\n";

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

int usageError(const char* what, const char* arg = "") {
    std::fprintf(stderr, "tovik-fleet: %s%s\n", what, arg);
    return 2;
}

bool parseNumber(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}
} // namespace

int main(int argc, char* argv[]) {
    tovik::FleetOptions o;
    int count = -1, basePort = -1, firstId = -1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("tovik-fleet %s\n", TOVIK_VERSION_STRING);
            return 0;
        }
        const bool takesValue = std::strcmp(arg, "--count") == 0 || std::strcmp(arg, "--base-port") == 0 ||
                                std::strcmp(arg, "--device-id-from") == 0 || std::strcmp(arg, "--set") == 0 ||
                                std::strcmp(arg, "--log-dir") == 0 || std::strcmp(arg, "--tovik") == 0 ||
                                std::strcmp(arg, "--start-rate") == 0;
        if (takesValue && i + 1 == argc)
            return usageError("a value is missing after ", arg);
        if (std::strcmp(arg, "--count") == 0) {
            if (!parseNumber(argv[++i], 1, 10000, count))
                return usageError("--count takes 1 to 10000, not ", argv[i]);
        } else if (std::strcmp(arg, "--base-port") == 0) {
            if (!parseNumber(argv[++i], 1, 65535, basePort))
                return usageError("--base-port takes 1 to 65535, not ", argv[i]);
        } else if (std::strcmp(arg, "--device-id-from") == 0) {
            if (!parseNumber(argv[++i], 0, 32767, firstId))
                return usageError("--device-id-from takes 0 to 32767, not ", argv[i]);
        } else if (std::strcmp(arg, "--start-rate") == 0) {
            if (!parseNumber(argv[++i], 0, 1000, o.startRate))
                return usageError("--start-rate takes 0 to 1000, not ", argv[i]);
        } else if (std::strcmp(arg, "--set") == 0) {
            o.extraArgs << QStringLiteral("--set") << QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(arg, "--log-dir") == 0) {
            o.logDir = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(arg, "--script-jit") == 0) {
            o.scriptJit = true;
        } else if (std::strcmp(arg, "--tovik") == 0) {
            o.tovik = QString::fromLocal8Bit(argv[++i]);
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return usageError("unknown option ", arg);
        } else if (o.model.isEmpty()) {
            o.model = QString::fromLocal8Bit(arg);
        } else {
            return usageError("only one model can be given");
        }
    }
    if (count < 0 || basePort < 0 || firstId < 0 || o.model.isEmpty())
        return usageError("give --count, --base-port, --device-id-from and MODEL.tvkm (--help)");
    if (basePort + count - 1 > 65535)
        return usageError("the last port would be past 65535");
    if (firstId + count - 1 > 32767)
        return usageError("the last device id would be past 32767");
    o.count = count;
    o.basePort = basePort;
    o.firstDeviceId = firstId;

    QCoreApplication app(argc, argv);
    if (!QFileInfo(o.model).isReadable()) {
        std::fprintf(stderr, "tovik-fleet: cannot read %s\n", o.model.toLocal8Bit().constData());
        return 1;
    }
    // Each equipment opens the model by its full path: the status lines and
    // the processes' command lines name the same file wherever they run.
    o.model = QFileInfo(o.model).absoluteFilePath();
    if (o.tovik.isEmpty()) {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/tovik");
        o.tovik = QFileInfo(beside).isExecutable() ? beside : QStandardPaths::findExecutable(QStringLiteral("tovik"));
        if (o.tovik.isEmpty()) {
            std::fputs("tovik-fleet: cannot find tovik (--tovik PROGRAM)\n", stderr);
            return 1;
        }
    }

    if (::pipe(g_signalPipe) != 0)
        return 1;
    tovik::Fleet fleet(o);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (byte == SIGHUP) {
            fleet.signalAll(SIGHUP);
            return;
        }
        notifier.setEnabled(false);
        std::printf("tovik-fleet: stopping %d equipments\n", o.count);
        std::fflush(stdout);
        fleet.stop();
    });
    QObject::connect(&fleet, &tovik::Fleet::stopped, [&] {
        std::printf("tovik-fleet: all %d stopped\n", o.count);
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    fleet.start();
    return QCoreApplication::exec();
}
