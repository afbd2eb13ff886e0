// tovik: the HSMS/SECS simulator.
//
//   tovik [--headless | --windowed] [--no-splash] [--keep-going] [--script FILE] [--capture FILE]
//         [--faults FILE] [--set SECTION.VALUE=TEXT]...
//         [--api [ADDRESS:]PORT [--api-token-file FILE]] [DOCUMENT]
//   tovik --record DIR --upstream HOST:PORT [--force] [options] [DOCUMENT]
//   tovik --replay-from NAME.jsonl DIR [--force]
//   tovik --version | --help
#include "CHRecording.h"
#include "Run.h"
#include "tovik_version.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
const char kUsage[] =
    "Usage: tovik [--headless | --windowed] [--no-splash] [--keep-going] [--script FILE] [--capture FILE]\n"
    "             [--faults FILE] [--set SECTION.VALUE=TEXT]...\n"
    "             [--api [ADDRESS:]PORT [--api-token-file FILE]] [DOCUMENT]\n"
    "       tovik --record DIR --upstream HOST:PORT [--force] [options] [DOCUMENT]\n"
    "       tovik --replay-from NAME.jsonl DIR [--force]\n"
    "       tovik --version | --help\n"
    "\n"
    "Simulates one side of a SECS-II conversation over HSMS (TCP/IP) or SECS-I\n"
    "(serial), answering every primary message that expects a reply from the\n"
    "message DOCUMENT (.tvkm). Settings are read from the .ini file beside the\n"
    "document (equipment.tvkm -> equipment.ini).\n"
    "\n"
    "Tovik opens its main window when a display is there (DISPLAY or\n"
    "WAYLAND_DISPLAY set, or a Qt platform chosen with QT_QPA_PLATFORM) and runs\n"
    "headless otherwise.\n"
    "\n"
    "  --headless   run without a window; every event-log line goes to standard\n"
    "               output. SIGINT or SIGTERM ends the run with status 0; SIGHUP\n"
    "               reads the document and its settings again, keeping the\n"
    "               connections whose settings did not change.\n"
    "  --windowed   open the main window even where no display was detected\n"
    "  --no-splash  start without the start-up picture\n"
    "  --keep-going headless: run on when a port cannot be opened at start\n"
    "               (without it the run ends with status 1 after the error lines)\n"
    "  --script FILE\n"
    "               run this reply script (JavaScript) instead of NAME.js beside\n"
    "               NAME.tvkm or the File value of the [Script] settings\n"
    "  --record DIR\n"
    "               record a real equipment: relay between the host (passive, as\n"
    "               the settings say) and the equipment at --upstream HOST:PORT,\n"
    "               then write DIR/NAME.tvkm, .js, .ini and .jsonl (NAME: the last\n"
    "               element of DIR) at SIGINT/SIGTERM (and on SIGHUP, going on)\n"
    "  --upstream HOST:PORT\n"
    "               the equipment a recording connects to\n"
    "  --capture FILE\n"
    "               write every HSMS frame and SECS-I block to FILE (pcapng) too\n"
    "  --force      replace files of a recording that exist already (without it\n"
    "               a headless run ends with status 1, the window asks)\n"
    "  --replay-from NAME.jsonl DIR\n"
    "               make DIR's document, script and settings again from a\n"
    "               recording's journal, without any connection\n"
    "  --api [ADDRESS:]PORT\n"
    "               serve the HTTP/JSON control API on PORT (0: any free port,\n"
    "               named on the event log) at ADDRESS (default 127.0.0.1)\n"
    "  --api-token-file FILE\n"
    "               every API request must carry \"Authorization: Bearer TOKEN\"\n"
    "               with the token in FILE; needed for a non-loopback ADDRESS\n"
    "  --faults FILE\n"
    "               fault rules (a JSON array) to misbehave by from the start,\n"
    "               instead of [Faults] File; a bad rule ends the start (status 2)\n"
    "  --set SECTION.VALUE=TEXT\n"
    "               use TEXT for this settings value in this run, over the\n"
    "               settings file (repeatable; SECTION may be left out where\n"
    "               VALUE is in one section only). Never saved; each is logged\n"
    "               at start. An unknown value or a TEXT it cannot take ends\n"
    "               the start with status 2.\n"
    "  --version    print the version and exit\n"
    "  --help       print this help and exit\n";

// --replay-from: the journal's files again, beside nothing but the journal.
int replayFromJournal(int& argc, char* argv[], const QString& journal, const QString& dir, bool force) {
    QCoreApplication app(argc, argv);
    tovik::CHRecording recording(dir);
    QStringList existing = recording.existingFiles(false);
    existing.removeAll(recording.path("jsonl"));
    if (!existing.isEmpty() && !force) {
        std::fprintf(stderr, "tovik: files exist already (--force replaces them): %s\n",
                     existing.join(QStringLiteral(", ")).toLocal8Bit().constData());
        return 1;
    }
    QString error;
    if (!recording.load(journal, error) || !recording.write(tovik::Settings{}, true, error)) {
        std::fprintf(stderr, "tovik: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("tovik: %zu message(s) from %s made %s, %s and %s\n", recording.journal().size(),
                journal.toLocal8Bit().constData(), recording.path("tvkm").toLocal8Bit().constData(),
                recording.path("js").toLocal8Bit().constData(), recording.path("ini").toLocal8Bit().constData());
    return 0;
}

bool gtkThemeInstalled() {
    const QDir themes(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platformthemes"));
    return !themes.entryList({QStringLiteral("*gtk*")}, QDir::Files).isEmpty();
}

bool hasEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

bool displayPresent() {
    return hasEnv("QT_QPA_PLATFORM") || hasEnv("DISPLAY") || hasEnv("WAYLAND_DISPLAY");
}
} // namespace

int main(int argc, char* argv[]) {
    enum class Mode { Automatic, Headless, Windowed } mode = Mode::Automatic;
    bool splash = true;
    bool keepGoing = false;
    QString document;
    QString script;
    QString recordDir;
    QString upstream;
    QString replayFrom;
    QString capture;
    bool force = false;
    auto value = [&](int& i) -> const char* {
        if (i + 1 == argc) {
            std::fprintf(stderr, "tovik: %s needs a value\n%s", argv[i], kUsage);
            std::exit(2);
        }
        return argv[++i];
    };
    QString api;
    QString apiTokenFile;
    QString faults;
    QList<tovik::SettingOverride> overrides;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("tovik %s\n", TOVIK_VERSION_STRING);
            return 0;
        }
        if (std::strcmp(arg, "--headless") == 0) {
            mode = Mode::Headless;
        } else if (std::strcmp(arg, "--windowed") == 0) {
            mode = Mode::Windowed;
        } else if (std::strcmp(arg, "--no-splash") == 0) {
            splash = false;
        } else if (std::strcmp(arg, "--keep-going") == 0) {
            keepGoing = true;
        } else if (std::strcmp(arg, "--script") == 0) {
            if (i + 1 == argc) {
                std::fprintf(stderr, "tovik: --script needs a FILE\n%s", kUsage);
                return 2;
            }
            script = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(arg, "--record") == 0) {
            recordDir = QString::fromLocal8Bit(value(i));
        } else if (std::strcmp(arg, "--upstream") == 0) {
            upstream = QString::fromLocal8Bit(value(i));
        } else if (std::strcmp(arg, "--replay-from") == 0) {
            replayFrom = QString::fromLocal8Bit(value(i));
        } else if (std::strcmp(arg, "--capture") == 0) {
            capture = QString::fromLocal8Bit(value(i));
        } else if (std::strcmp(arg, "--force") == 0) {
            force = true;
        } else if (std::strcmp(arg, "--api") == 0) {
            api = QString::fromLocal8Bit(value(i));
        } else if (std::strcmp(arg, "--api-token-file") == 0) {
            apiTokenFile = QString::fromLocal8Bit(value(i));
        } else if (std::strcmp(arg, "--faults") == 0) {
            faults = QString::fromLocal8Bit(value(i));
        } else if (std::strcmp(arg, "--set") == 0) {
            if (i + 1 == argc) {
                std::fputs("tovik: --set needs SECTION.VALUE=TEXT\n", stderr);
                return 2;
            }
            auto parsed = tovik::CHSettingsFile::ParseOverride(QString::fromLocal8Bit(argv[++i]));
            if (const QString* error = std::get_if<QString>(&parsed)) {
                std::fprintf(stderr, "tovik: %s\n", error->toLocal8Bit().constData());
                return 2;
            }
            overrides.append(std::get<tovik::SettingOverride>(parsed));
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
    if (!replayFrom.isEmpty()) {
        // The document argument is the folder the files go to.
        if (document.isEmpty()) {
            std::fprintf(stderr, "tovik: --replay-from needs a DIR\n%s", kUsage);
            return 2;
        }
        return replayFromJournal(argc, argv, replayFrom, document, force);
    }
    QString upstreamHost;
    int upstreamPort = 0;
    if (!recordDir.isEmpty() || !upstream.isEmpty()) {
        const qsizetype colon = upstream.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        if (colon > 0)
            upstreamPort = upstream.mid(colon + 1).toInt(&ok);
        if (recordDir.isEmpty() || !ok || upstreamPort <= 0 || upstreamPort > 65535) {
            std::fprintf(stderr, "tovik: --record DIR needs --upstream HOST:PORT\n%s", kUsage);
            return 2;
        }
        upstreamHost = upstream.left(colon);
    }
    if (mode == Mode::Automatic) {
        mode = displayPresent() ? Mode::Windowed : Mode::Headless;
        if (mode == Mode::Headless)
            std::fputs("tovik: no display found; running headless (--windowed to insist).\n",
                       stderr);
    }
    tovik::CHStartOptions options;
    options.documentPath = document;
    options.scriptPath = script;
    options.api = api;
    options.apiTokenFile = apiTokenFile;
    options.faultsPath = faults;
    options.windowed = mode == Mode::Windowed;
    options.splash = splash;
    options.keepGoing = keepGoing;
    options.recordDir = recordDir;
    options.upstreamHost = upstreamHost;
    options.upstreamPort = upstreamPort;
    options.force = force;
    options.capturePath = capture;
    options.overrides = overrides;
    options.logToStdout = !options.windowed;
    // Qt's own event loop turns faster than the GLib one. Only the GTK
    // platform theme (native GTK dialogs) needs GLib's, so a window keeps it
    // where that theme is installed. A value the user already set is left
    // alone.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB") && (!options.windowed || !gtkThemeInstalled()))
        qputenv("QT_NO_GLIB", "1");
    // Headless needs no platform plugin, fonts or styles: a core application
    // keeps each of hundreds of equipments on one machine small.
    std::unique_ptr<QCoreApplication> app;
    if (options.windowed)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tovik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOVIK_VERSION_STRING));
    return tovik::Run(options);
}
