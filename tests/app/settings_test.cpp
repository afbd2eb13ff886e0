// The settings as a user sees them in the settings file: what is read, what is
// written and where.
#include "CTovikarApp.h"
#include "messagebox.h"
#include "tempdir.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

struct SettingsTest : ::testing::Test {
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    // An app whose executable sits in the scratch folder, with its own
    // configuration folder, so nothing real is read or written.
    CTovikarApp makeApp() const {
        return CTovikarApp(path(QStringLiteral("bin/tovik")), path(QStringLiteral("config")));
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

void expectSameSettings(const CTovikarApp& a, const CTovikarApp& b) {
#define SAME(m) EXPECT_EQ(a.m, b.m) << #m
    SAME(Protocol);
    SAME(DeviceID);
    SAME(CheckDeviceID);
    SAME(Hide);
    SAME(Server);
    SAME(IPAddress);
    SAME(PortNumber);
    SAME(LocalPortNumber);
    SAME(DisconnectAtSeparateReq);
    SAME(SendSelectReqAtConnect);
    SAME(ShowMsgHeader);
    SAME(ShowMsgBody);
    SAME(ShowDateTime);
    SAME(ShowConnection);
    SAME(SaveWindowPosition);
    SAME(OpenMruDocument);
    SAME(T1);
    SAME(T2);
    SAME(T3);
    SAME(T4);
    SAME(T8);
    SAME(CommPort);
    SAME(BaudRate);
    SAME(Retry);
    SAME(Master);
    SAME(EnableLog);
    SAME(LogFileName);
    SAME(LogFileSize);
    SAME(LogBakCount);
    SAME(LogVerbose);
    SAME(InvokeEvent);
    SAME(EventStream);
    SAME(EventFunction);
#undef SAME
}

void expectDefaults(const CTovikarApp& a) {
    EXPECT_EQ(a.Protocol, 0);
    EXPECT_EQ(a.DeviceID, 0);
    EXPECT_TRUE(a.CheckDeviceID);
    EXPECT_FALSE(a.Hide);
    EXPECT_FALSE(a.Server);
    EXPECT_EQ(a.IPAddress, QString());
    EXPECT_EQ(a.PortNumber, 0);
    EXPECT_EQ(a.LocalPortNumber, 0);
    EXPECT_TRUE(a.DisconnectAtSeparateReq);
    EXPECT_TRUE(a.SendSelectReqAtConnect);
    EXPECT_TRUE(a.ShowMsgHeader);
    EXPECT_TRUE(a.ShowMsgBody);
    EXPECT_TRUE(a.ShowDateTime);
    EXPECT_TRUE(a.ShowConnection);
    EXPECT_TRUE(a.SaveWindowPosition);
    EXPECT_TRUE(a.OpenMruDocument);
    EXPECT_EQ(a.T1, 500);
    EXPECT_EQ(a.T2, 5000);
    EXPECT_EQ(a.T3, 45000);
    EXPECT_EQ(a.T4, 45000);
    EXPECT_EQ(a.T8, 10000);
    EXPECT_EQ(a.CommPort, 1);
    EXPECT_EQ(a.BaudRate, 9600);
    EXPECT_EQ(a.Retry, 3);
    EXPECT_TRUE(a.Master);
    EXPECT_FALSE(a.EnableLog);
    EXPECT_EQ(a.LogFileName, QString());
    EXPECT_EQ(a.LogFileSize, 1024);
    EXPECT_EQ(a.LogBakCount, 1);
    EXPECT_FALSE(a.LogVerbose);
    EXPECT_FALSE(a.InvokeEvent);
    EXPECT_EQ(a.EventStream, 99);
    EXPECT_EQ(a.EventFunction, 99);
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

TEST_F(SettingsTest, EmptyOrMissingFileGivesDefaults) {
    CTovikarApp app = makeApp();
    setNonDefaults(app);
    app.profile().setFileName(path(QStringLiteral("missing.ini")));
    app.LoadSettings();
    expectDefaults(app);

    writeAll(path(QStringLiteral("empty.ini")), "");
    setNonDefaults(app);
    app.profile().setFileName(path(QStringLiteral("empty.ini")));
    app.LoadSettings();
    expectDefaults(app);
}

TEST_F(SettingsTest, FreshObjectHoldsDefaults) {
    expectDefaults(makeApp());
}

TEST_F(SettingsTest, MissingSectionKeepsDefaultsOnlyThere) {
    writeAll(path(QStringLiteral("s.ini")),
             "[Preferences]\r\nDeviceID=12\r\n[SECS]\r\nMaster=7\r\n");
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("s.ini")));
    app.LoadSettings();
    EXPECT_EQ(app.DeviceID, 12);
    EXPECT_TRUE(app.Master);
    EXPECT_EQ(app.T1, 500);
    EXPECT_EQ(app.T2, 5000);
    EXPECT_EQ(app.T3, 45000);
    EXPECT_EQ(app.T4, 45000);
    EXPECT_EQ(app.T8, 10000);
    ASSERT_TRUE(app.SaveSettings());
    EXPECT_TRUE(readAll(path(QStringLiteral("s.ini"))).contains("\r\nMaster=1\r\n"));
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
                               "[SECS]\nDevicePath=tcp:127.0.0.1:7000\n";
    writeAll(path(QStringLiteral("g.ini")), QByteArray(text, sizeof text - 1));
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("g.ini")));
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
}

TEST_F(SettingsTest, UnreadableOrOversizedFileGivesDefaults) {
    QDir().mkpath(path(QStringLiteral("adir.ini")));
    CTovikarApp app = makeApp();
    setNonDefaults(app);
    app.profile().setFileName(path(QStringLiteral("adir.ini")));
    app.LoadSettings();
    expectDefaults(app);

    QByteArray big("[TimeOut]\nT3=1\n");
    big.append(QByteArray(5 << 20, ' '));
    writeAll(path(QStringLiteral("big.ini")), big);
    app.profile().setFileName(path(QStringLiteral("big.ini")));
    app.LoadSettings();
    EXPECT_EQ(app.T3, 45000);
    EXPECT_FALSE(app.SaveSettings());
    EXPECT_EQ(readAll(path(QStringLiteral("big.ini"))).size(), big.size());
}

// ---- Writing ----

TEST_F(SettingsTest, SaveWritesSectionsAndValuesInOrder) {
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("d.ini")));
    ASSERT_TRUE(app.SaveSettings());
    EXPECT_EQ(readAll(path(QStringLiteral("d.ini"))), QByteArray(kSavedDefaults));
}

TEST_F(SettingsTest, EveryValueSurvivesARoundTrip) {
    CTovikarApp a = makeApp();
    setNonDefaults(a);
    a.profile().setFileName(path(QStringLiteral("r.ini")));
    ASSERT_TRUE(a.SaveSettings());
    CTovikarApp b = makeApp();
    b.profile().setFileName(path(QStringLiteral("r.ini")));
    b.LoadSettings();
    expectSameSettings(a, b);
}

TEST_F(SettingsTest, SaveKeepsOtherContentOfTheFile) {
    const QByteArray before = "; written by hand\r\n[Recent File "
                              "List]\r\nFile1=/tmp/a.tvkm\r\n\r\n[TimeOut]\r\nT3=1\r\nExtra=x\r\n"
                              "\r\n[CMainFrame]\r\nBars=2\r\n";
    writeAll(path(QStringLiteral("k.ini")), before);
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("k.ini")));
    app.LoadSettings();
    ASSERT_TRUE(app.SaveSettings());
    const QByteArray after = readAll(path(QStringLiteral("k.ini")));
    EXPECT_TRUE(after.startsWith(
        "; written by hand\r\n[Recent File List]\r\nFile1=/tmp/a.tvkm\r\n\r\n[TimeOut]\r\n"
        "T3=1\r\nExtra=x\r\nT1=500\r\nT2=5000\r\nT4=45000\r\nT8=10000\r\n\r\n[CMainFrame]\r\nBars="
        "2\r\n"))
        << after.constData();
    EXPECT_FALSE(after.contains("\n\n")) << "line ends of the file are kept";
}

TEST_F(SettingsTest, DevicePathIsReadButNeverWritten) {
    writeAll(path(QStringLiteral("p.ini")), "[SECS]\nDevicePath=/dev/ttyUSB0\n");
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("p.ini")));
    app.LoadSettings();
    EXPECT_EQ(app.DevicePath, QStringLiteral("/dev/ttyUSB0"));
    app.DevicePath = QStringLiteral("/dev/other");
    ASSERT_TRUE(app.SaveSettings());
    EXPECT_TRUE(
        readAll(path(QStringLiteral("p.ini"))).startsWith("[SECS]\nDevicePath=/dev/ttyUSB0\n"));
}

TEST_F(SettingsTest, SaveIntoAnUnwritablePlaceFailsAndWritesNothing) {
    CTovikarApp app = makeApp();
    writeAll(path(QStringLiteral("notadir")), "x");
    app.profile().setFileName(path(QStringLiteral("notadir/s.ini")));
    EXPECT_FALSE(app.SaveSettings());
    app.profile().setFileName(QString());
    EXPECT_FALSE(app.SaveSettings());
}

TEST_F(SettingsTest, StringWithALineBreakStopsTheSaveThere) {
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("n.ini")));
    app.IPAddress = QStringLiteral("a\nT3=1");
    EXPECT_FALSE(app.SaveSettings());
    const QByteArray text = readAll(path(QStringLiteral("n.ini")));
    EXPECT_TRUE(text.endsWith("[HSMS]\nServer=0\n")) << text.constData();
    EXPECT_FALSE(text.contains("T3"));
}

// The file system refuses to let the file grow past a limit: the save stops at
// the value that no longer fits and the file holds exactly the values before it.
TEST_F(SettingsTest, SaveStopsAtTheFirstFailedWrite) {
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("f.ini")));
    const QByteArray full(kSavedDefaults);
    const qsizetype limit = full.indexOf("T4=45000") + 4; // "T4=4" fits, the whole line does not

    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = static_cast<rlim_t>(limit);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    const bool saved = app.SaveSettings();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(readAll(path(QStringLiteral("f.ini"))), full.left(full.indexOf("T4=")));
}

TEST_F(SettingsTest, WindowRectangleAndLastDocument) {
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("w.ini")));
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
        readAll(path(QStringLiteral("w.ini"))),
        QByteArray(
            "[Preferences]\nWindowLeft=10\nWindowTop=20\nWindowRight=650\nWindowBottom=500\n"));

    EXPECT_FALSE(app.OnDocumentOpened(QStringLiteral("/x/failed.tvkm"), false));
    EXPECT_EQ(app.ReadMruDocument(), QString());
    EXPECT_TRUE(app.OnDocumentOpened(QStringLiteral("/x/line.tvkm"), true));
    EXPECT_EQ(app.ReadMruDocument(), QStringLiteral("/x/line.tvkm"));
}

// ---- Which file ----

TEST_F(SettingsTest, DocumentEndingInTvkmGetsItsOwnIniFile) {
    CTovikarApp app = makeApp();
    EXPECT_TRUE(app.SelectSettingsFile(path(QStringLiteral("line.tvkm"))));
    EXPECT_EQ(app.settingsFileName(), path(QStringLiteral("line.ini")));
    EXPECT_TRUE(app.SelectSettingsFile(QStringLiteral("tvkm")));
    EXPECT_EQ(app.settingsFileName(), QStringLiteral("ini"));
}

TEST_F(SettingsTest, OtherDocumentNamesUseTheProgramsFile) {
    QDir().mkpath(path(QStringLiteral("bin")));
    for (const QString& doc : {path(QStringLiteral("line.TVKM")), path(QStringLiteral("line.txt")),
                               QStringLiteral("vkm"), QString()}) {
        CTovikarApp app = makeApp();
        EXPECT_TRUE(app.SelectSettingsFile(doc)) << doc.toStdString();
        EXPECT_EQ(app.settingsFileName(), path(QStringLiteral("bin/tovik.ini")))
            << doc.toStdString();
    }
}

TEST_F(SettingsTest, ProgramFolderNotWritableFallsBackToUserFolder) {
    // No such folder: the file beside the program cannot be made.
    CTovikarApp app = makeApp();
    EXPECT_EQ(app.settingsFileName(), path(QStringLiteral("config/tovik.ini")));
    EXPECT_TRUE(app.SelectSettingsFile(QString()));
    EXPECT_EQ(app.settingsFileName(), path(QStringLiteral("config/tovik.ini")));
    EXPECT_TRUE(app.SaveSettings());
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("config/tovik.ini"))));
}

TEST_F(SettingsTest, UnknownProgramPathIsReported) {
    CTovikarApp app(QStringLiteral("ab"), path(QStringLiteral("config")));
    QStringList shown;
    auto old = tovik::setMessageBoxHandler([&](QWidget*, const QString& t) { shown << t; });
    EXPECT_FALSE(app.SelectSettingsFile(QStringLiteral("x.txt")));
    tovik::setMessageBoxHandler(old);
    EXPECT_EQ(shown, QStringList{QStringLiteral("Error : File path name is incorrect!")});
    EXPECT_EQ(app.settingsFileName(), path(QStringLiteral("config/ab.ini")));
}

TEST_F(SettingsTest, SavingADocumentMovesTheSettingsBesideIt) {
    CTovikarApp app = makeApp();
    app.profile().setFileName(path(QStringLiteral("before.ini")));
    app.T3 = 1234;
    setTheApp(&app);
    OnDocumentSaving(path(QStringLiteral("line.tvkm")));
    setTheApp(nullptr);
    EXPECT_EQ(readAll(path(QStringLiteral("before.ini"))),
              "[Preferences]\nMRUDocument=" + path(QStringLiteral("line.tvkm")).toUtf8() + "\n");
    EXPECT_EQ(app.settingsFileName(), path(QStringLiteral("line.ini")));
    CTovikarApp other = makeApp();
    other.SelectSettingsFile(path(QStringLiteral("line.tvkm")));
    other.LoadSettings();
    expectSameSettings(app, other);
    EXPECT_EQ(other.T3, 1234);
}

TEST_F(SettingsTest, HooksWithoutAnApplicationDoNothing) {
    setTheApp(nullptr);
    EXPECT_TRUE(OnDocumentOpened(path(QStringLiteral("a.tvkm")), true));
    EXPECT_FALSE(OnDocumentOpened(path(QStringLiteral("a.tvkm")), false));
    OnDocumentSaving(path(QStringLiteral("a.tvkm")));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("a.ini"))));
}

} // namespace
