// The settings as a user sees them in the settings file: what is read, what is
// written and where.
#include "../common/qt_helpers.h"
#include "CTovikarApp.h"
#include "messagebox.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <vector>

using tovik::test::readAll;
using tovik::test::writeAll;

namespace {

struct SettingsTest : ::testing::Test {
    QTemporaryDir dir;
    int saves = 0;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    // An app whose executable sits in the scratch folder, with its own
    // configuration folder, so nothing real is read or written.
    CTovikarApp makeApp() const { return CTovikarApp(path("bin/tovik"), path("config")); }
    // An app reading and writing the named file of the scratch folder.
    CTovikarApp& appOn(const char* file) {
        apps.push_back(std::make_unique<CTovikarApp>(path("bin/tovik"), path("config")));
        apps.back()->profile().setFileName(path(file));
        return *apps.back();
    }
    std::vector<std::unique_ptr<CTovikarApp>> apps;
    // What the app holds, as a fresh settings file shows it.
    QByteArray saved(CTovikarApp& app) {
        const QString file = dir.filePath(QStringLiteral("saved%1.ini").arg(++saves));
        app.profile().setFileName(file);
        EXPECT_TRUE(app.SaveSettings());
        return readAll(file);
    }
};

// Every setting different from its default, for round trips.
void setNonDefaults(CTovikarApp& a) {
    a.Protocol = 3;
    a.DeviceID = 32767;
    a.CheckDeviceID = false;
    a.Hide = true;
    a.Server = true;
    a.IPAddress = QStringLiteral("  host.example = \"x\" ; y  ");
    a.PortNumber = 5000;
    a.LocalPortNumber = 5001;
    a.DisconnectAtSeparateReq = false;
    a.SendSelectReqAtConnect = false;
    a.ShowMsgHeader = false;
    a.ShowMsgBody = false;
    a.ShowDateTime = false;
    a.ShowConnection = false;
    a.SaveWindowPosition = false;
    a.OpenMruDocument = false;
    a.T1 = 1;
    a.T2 = -2;
    a.T3 = 2147483647;
    a.T4 = -2147483647 - 1;
    a.T8 = 8;
    a.CommPort = 51;
    a.BaudRate = 57600;
    a.Retry = 0;
    a.Master = false;
    a.EnableLog = true;
    a.LogFileName = QStringLiteral("/var/log/t\u00e9st.log");
    a.LogFileSize = 100000;
    a.LogBakCount = 999;
    a.LogVerbose = true;
    a.InvokeEvent = true;
    a.EventStream = 127;
    a.EventFunction = 255;
}

const char* const kSavedDefaults =
    "[Preferences]\nProtocol=0\nSaveWindowPosition=1\nOpenMruDocument=1\nDeviceID=0\nCheckDeviceID="
    "1\nHide=0\n"
    "\n[HSMS]\nServer=0\nIPAddress=\nPortNumber=0\nLocalPortNumber=0\nDisconnectAtSeparateReq=1\n"
    "SendSelectReqAtConnect=1\n"
    "\n[Info]\nShowMsgHeader=1\nShowMsgBody=1\nShowDateTime=1\nShowConnection=1\n"
    "\n[TimeOut]\nT1=500\nT2=5000\nT3=45000\nT4=45000\nT8=10000\n"
    "\n[SECS]\nCommPort=1\nBaudRate=9600\nRetry=3\nMaster=1\n"
    "\n[Log]\nEnableLog=0\nLogFileName=\nLogFileSize=1024\nLogBakCount=1\nLogVerbose=0\n"
    "\n[Event]\nInvokeEvent=0\nEventStream=99\nEventFunction=99\n";

// ---- Reading ----

TEST_F(SettingsTest, EmptyMissingOrUnreadableFileGivesDefaults) {
    CTovikarApp fresh = makeApp();
    EXPECT_EQ(saved(fresh), kSavedDefaults);
    writeAll(path("empty.ini"), "");
    QDir().mkpath(path("adir.ini"));
    for (const char* file : {"missing.ini", "empty.ini", "adir.ini"}) {
        CTovikarApp& app = appOn(file);
        setNonDefaults(app);
        app.LoadSettings();
        EXPECT_EQ(saved(app), kSavedDefaults) << file;
    }
}

TEST_F(SettingsTest, GarbageAndWrongTypesFallBackValueByValue) {
    static const char text[] = "garbage line without equals\n"
                               "=no name\n"
                               "T3=1 before any section\n"
                               "[TimeOut\n"
                               "[ timeout ]\n"
                               "T1 = 700 \n"
                               "T2=abc\n"
                               "T3=12abc\n"
                               "T4=99999999999\n"
                               "t8=-5\n"
                               "T1=800\n"
                               "; T2=1\n"
                               "[Preferences]\n"
                               "Hide=yes\n"
                               "CheckDeviceID=0\n"
                               "Protocol=-2147483648\n"
                               "[Log]\n"
                               "LogFileName=\"  quoted  \"\n"
                               "LogFileSize=0x10\n"
                               "LogBakCount= +4\n"
                               "\x01\xff\xfe binary =\x00 x\n"
                               "[SECS]\nDevicePath=tcp:127.0.0.1:7000\nMaster=7\n"
                               "[Script]\nFile=scripts/line.js\n";
    writeAll(path("g.ini"), QByteArray(text, sizeof text - 1));
    CTovikarApp& app = appOn("g.ini");
    app.LoadSettings();
    EXPECT_EQ(app.T1, 700);   // first of two, blanks ignored, section name in any case
    EXPECT_EQ(app.T2, 5000);  // not a number
    EXPECT_EQ(app.T3, 45000); // trailing junk
    EXPECT_EQ(app.T4, 45000); // beyond 32 bits
    EXPECT_EQ(app.T8, -5);    // readable, kept; the dialog refuses what it must
    EXPECT_FALSE(app.Hide);
    EXPECT_FALSE(app.CheckDeviceID);
    EXPECT_EQ(app.Protocol, -2147483647 - 1);
    EXPECT_EQ(app.LogFileName, QStringLiteral("  quoted  "));
    EXPECT_EQ(app.LogFileSize, 1024);
    EXPECT_EQ(app.LogBakCount, 4);
    EXPECT_EQ(app.DevicePath, QStringLiteral("tcp:127.0.0.1:7000"));
    EXPECT_TRUE(app.Master); // any number but 0
    EXPECT_EQ(app.ScriptFile, QStringLiteral("scripts/line.js"));
}

TEST_F(SettingsTest, OversizedFileIsNeitherReadNorWritten) {
    CTovikarApp& app = appOn("big.ini");
    QByteArray big("[TimeOut]\nT3=1\n");
    big.append(QByteArray(5 << 20, ' '));
    writeAll(path("big.ini"), big);
    app.LoadSettings();
    EXPECT_EQ(app.T3, 45000);
    EXPECT_FALSE(app.SaveSettings());
    EXPECT_EQ(readAll(path("big.ini")).size(), big.size());
}

// ---- Writing ----

TEST_F(SettingsTest, EveryValueSurvivesARoundTrip) {
    CTovikarApp a = makeApp();
    setNonDefaults(a);
    a.profile().setFileName(path("r.ini"));
    ASSERT_TRUE(a.SaveSettings());
    CTovikarApp& b = appOn("r.ini");
    b.LoadSettings();
    EXPECT_EQ(saved(b), readAll(path("r.ini")));
}

TEST_F(SettingsTest, SaveKeepsOtherContentOfTheFile) {
    const QByteArray before = "; written by hand\r\n[Recent File "
                              "List]\r\nFile1=/tmp/a.tvkm\r\n\r\n[TimeOut]\r\nT3=1\r\nExtra=x\r\n"
                              "\r\n[CMainFrame]\r\nBars=2\r\n";
    writeAll(path("k.ini"), before);
    CTovikarApp& app = appOn("k.ini");
    app.LoadSettings();
    ASSERT_TRUE(app.SaveSettings());
    const QByteArray after = readAll(path("k.ini"));
    EXPECT_TRUE(after.startsWith(
        "; written by hand\r\n[Recent File List]\r\nFile1=/tmp/a.tvkm\r\n\r\n[TimeOut]\r\n"
        "T3=1\r\nExtra=x\r\nT1=500\r\nT2=5000\r\nT4=45000\r\nT8=10000\r\n\r\n[CMainFrame]\r\nBars="
        "2\r\n"))
        << after.constData();
    EXPECT_FALSE(after.contains("\n\n")) << "line ends of the file are kept";
}

// Values read but never written back, their defaults keeping the behaviour
// without them.
TEST_F(SettingsTest, ReadOnlyValuesAreReadButNeverWritten) {
    CTovikarApp fresh = makeApp();
    EXPECT_EQ(fresh.MaxClients, 16);
    EXPECT_FALSE(fresh.BridgeSession);
    EXPECT_EQ(fresh.LinktestInterval, 0);
    EXPECT_EQ(fresh.T6, 5000);
    EXPECT_EQ(fresh.T7, 10000);
    EXPECT_EQ(fresh.ReconnectInterval, 5);

    const QByteArray text = "[Script]\nFile=a.js\n[SECS]\nDevicePath=/dev/ttyUSB0\nReconnectInterval=0\n"
                            "[TimeOut]\nT6=250\nT7=0\n[HSMS]\nMaxClients=1\nBridgeSession=1\n"
                            "LinktestInterval=30\n";
    writeAll(path("x.ini"), text);
    CTovikarApp& app = appOn("x.ini");
    app.LoadSettings();
    EXPECT_EQ(app.DevicePath, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(app.ScriptFile, QStringLiteral("a.js"));
    EXPECT_EQ(app.MaxClients, 1);
    EXPECT_TRUE(app.BridgeSession);
    EXPECT_EQ(app.LinktestInterval, 30);
    EXPECT_EQ(app.T6, 250);
    EXPECT_EQ(app.T7, 0);
    EXPECT_EQ(app.ReconnectInterval, 0);
    app.ReconnectInterval = 9;
    app.DevicePath = QStringLiteral("/dev/other");
    app.ScriptFile = QStringLiteral("b.js");
    app.MaxClients = 4;
    ASSERT_TRUE(app.SaveSettings());
    const QByteArray after = readAll(path("x.ini"));
    EXPECT_TRUE(after.startsWith(text.left(text.indexOf("[TimeOut]")))) << after.constData();
    EXPECT_TRUE(after.contains("MaxClients=1\n"));
    EXPECT_FALSE(after.contains("b.js") || after.contains("other") || after.contains("MaxClients=4") ||
                 after.contains("ReconnectInterval=9"));
    EXPECT_EQ(after.count("T6="), 1);
}

// Command-line values win over the file at every load (a reload too) and the
// file keeps its own text for them at a save; the others are saved as usual.
TEST_F(SettingsTest, CommandLineValuesAreLoadedButNeverSaved) {
    writeAll(path("x.ini"), "[Preferences]\nDeviceID=7\nOpenMruDocument=1\n[HSMS]\nLocalPortNumber=5000\n");
    CTovikarApp& app = appOn("x.ini");
    QList<tovik::SettingOverride> overrides;
    for (const char* arg : {"hsms.LOCALPORTNUMBER=5007", "DeviceID=-3", "OpenMruDocument=0", "MaxClients=2",
                            "IPAddress=a=b"})
        overrides.append(std::get<tovik::SettingOverride>(
            tovik::CHSettingsFile::ParseOverride(QString::fromLatin1(arg))));
    EXPECT_EQ(overrides.front(), (tovik::SettingOverride{QStringLiteral("HSMS"), QStringLiteral("LocalPortNumber"),
                                                           QStringLiteral("5007")}));
    app.file().SetOverrides(overrides);
    app.LoadSettings();
    EXPECT_EQ(app.LocalPortNumber, 5007);
    EXPECT_EQ(app.DeviceID, -3);
    EXPECT_EQ(app.MaxClients, 2);
    EXPECT_EQ(app.IPAddress, QStringLiteral("a=b"));
    EXPECT_FALSE(app.ReadOpenMruDocument());
    app.T3 = 1234;
    ASSERT_TRUE(app.SaveSettings());
    const QByteArray after = readAll(path("x.ini"));
    EXPECT_TRUE(after.contains("DeviceID=7\n") && after.contains("LocalPortNumber=5000\n") &&
                after.contains("OpenMruDocument=1\n") && after.contains("T3=1234\n"))
        << after.constData();
    EXPECT_FALSE(after.contains("a=b") || after.contains("MaxClients"));
    writeAll(path("x.ini"), "[HSMS]\nLocalPortNumber=6000\nPortNumber=6001\n");
    app.LoadSettings();
    EXPECT_EQ(app.LocalPortNumber, 5007);
    EXPECT_EQ(app.PortNumber, 6001);
}

TEST_F(SettingsTest, SaveIntoAnUnwritablePlaceFailsAndWritesNothing) {
    CTovikarApp app = makeApp();
    writeAll(path("notadir"), "x");
    app.profile().setFileName(path("notadir/s.ini"));
    EXPECT_FALSE(app.SaveSettings());
    app.profile().setFileName(QString());
    EXPECT_FALSE(app.SaveSettings());

    // A string with a line break stops the save there.
    app.profile().setFileName(path("n.ini"));
    app.IPAddress = QStringLiteral("a\nT3=1");
    EXPECT_FALSE(app.SaveSettings());
    const QByteArray text = readAll(path("n.ini"));
    EXPECT_TRUE(text.endsWith("[HSMS]\nServer=0\n")) << text.constData();
    EXPECT_FALSE(text.contains("T3"));
}

// The file system refuses to let the file grow past a limit: the save stops at
// the value that no longer fits and the file holds exactly the values before it.
TEST_F(SettingsTest, SaveStopsAtTheFirstFailedWrite) {
    CTovikarApp& app = appOn("f.ini");
    const QByteArray full(kSavedDefaults);
    const qsizetype limit = full.indexOf("T4=45000") + 4; // "T4=4" fits, the whole line does not

    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = static_cast<rlim_t>(limit);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    const bool ok = app.SaveSettings();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(readAll(path("f.ini")), full.left(full.indexOf("T4=")));
}

TEST_F(SettingsTest, WindowRectangleAndLastDocument) {
    CTovikarApp& app = appOn("w.ini");
    EXPECT_EQ(app.ReadWindowRect().right, -1);
    EXPECT_TRUE(app.ReadOpenMruDocument());
    EXPECT_TRUE(app.ReadSaveWindowPosition());
    ASSERT_TRUE(app.WriteWindowRect({10, 20, 650, 500}));
    const auto r = app.ReadWindowRect();
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 650);
    EXPECT_EQ(r.bottom, 500);
    EXPECT_EQ(
        readAll(path("w.ini")),
        QByteArray(
            "[Preferences]\nWindowLeft=10\nWindowTop=20\nWindowRight=650\nWindowBottom=500\n"));

    EXPECT_FALSE(app.OnDocumentOpened(QStringLiteral("/x/failed.tvkm"), false));
    EXPECT_EQ(app.ReadMruDocument(), QString());
    EXPECT_TRUE(app.OnDocumentOpened(QStringLiteral("/x/line.tvkm"), true));
    EXPECT_EQ(app.ReadMruDocument(), QStringLiteral("/x/line.tvkm"));
}

// ---- Which file ----

TEST_F(SettingsTest, WhichFile) {
    // Before any choice, and when the program's folder cannot take a file:
    // the user's folder.
    CTovikarApp app = makeApp();
    EXPECT_EQ(app.settingsFileName(), path("config/tovik.ini"));
    EXPECT_TRUE(app.SelectSettingsFile(QString()));
    EXPECT_EQ(app.settingsFileName(), path("config/tovik.ini"));
    EXPECT_TRUE(app.SaveSettings());
    EXPECT_TRUE(QFileInfo::exists(path("config/tovik.ini")));
    // A document ending in "tvkm" has its own file.
    EXPECT_TRUE(app.SelectSettingsFile(path("line.tvkm")));
    EXPECT_EQ(app.settingsFileName(), path("line.ini"));
    EXPECT_TRUE(app.SelectSettingsFile(QStringLiteral("tvkm")));
    EXPECT_EQ(app.settingsFileName(), QStringLiteral("ini"));
    // Other names: the file beside the program.
    QDir().mkpath(path("bin"));
    for (const QString& doc : {path("line.TVKM"), path("line.txt"), QStringLiteral("vkm"), QString()}) {
        CTovikarApp other = makeApp();
        EXPECT_TRUE(other.SelectSettingsFile(doc)) << doc.toStdString();
        EXPECT_EQ(other.settingsFileName(), path("bin/tovik.ini")) << doc.toStdString();
    }
    // An unknown program path: the user's folder, and the user is told.
    CTovikarApp unknown(QStringLiteral("ab"), path("config"));
    QStringList shown;
    auto old = tovik::setMessageBoxHandler([&](QWidget*, const QString& t, const QString&) { shown << t; });
    EXPECT_FALSE(unknown.SelectSettingsFile(QStringLiteral("x.txt")));
    tovik::setMessageBoxHandler(old);
    EXPECT_EQ(shown, QStringList{QStringLiteral("Error : File path name is incorrect!")});
    EXPECT_EQ(unknown.settingsFileName(), path("config/ab.ini"));
}

TEST_F(SettingsTest, SavingADocumentMovesTheSettingsBesideIt) {
    CTovikarApp& app = appOn("before.ini");
    app.T3 = 1234;
    setTheApp(&app);
    OnDocumentSaving(path("line.tvkm"));
    setTheApp(nullptr);
    EXPECT_EQ(readAll(path("before.ini")),
              "[Preferences]\nMRUDocument=" + path("line.tvkm").toUtf8() + "\n");
    EXPECT_EQ(app.settingsFileName(), path("line.ini"));
    CTovikarApp other = makeApp();
    other.SelectSettingsFile(path("line.tvkm"));
    other.LoadSettings();
    EXPECT_EQ(other.T3, 1234);
    EXPECT_EQ(saved(other), saved(app));

    // Without an application the hooks do nothing.
    EXPECT_TRUE(OnDocumentOpened(path("a.tvkm"), true));
    EXPECT_FALSE(OnDocumentOpened(path("a.tvkm"), false));
    OnDocumentSaving(path("a.tvkm"));
    EXPECT_FALSE(QFileInfo::exists(path("a.ini")));
}

TEST_F(SettingsTest, FileLogWrittenOnlyWhenEnabledBesideTheSettingsFile) {
    CTovikarApp app(path("bin/tovik"), path("config"));
    app.SelectSettingsFile(path("line.tvkm"));
    EXPECT_FALSE(app.WriteLog(QStringLiteral("off")));
    EXPECT_FALSE(QFileInfo::exists(path("line.log")));
    app.EnableLog = true;
    EXPECT_FALSE(app.WriteLog(QStringLiteral("on")));
    EXPECT_EQ(readAll(path("line.log")), QByteArray("on\n"));
    app.LogFileName = path("named.txt");
    EXPECT_FALSE(app.WriteLog(QStringLiteral("named")));
    EXPECT_EQ(readAll(path("named.txt")), QByteArray("named\n"));
    app.LogFileName = path("nodir/x.log");
    EXPECT_TRUE(app.WriteLog(QStringLiteral("lost")).has_value());
}

} // namespace
