// The start-up order run headless: which settings file and which document
// the program starts with, and that the engine's port opens from them.
#include "shell_fixture.h"

#include "CHEventLog.h"
#include "CMainFrame.h"
#include "MsgFileFormat.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace tovik::test {
namespace {

class Startup : public ShellFixture {
protected:
    // Lets the posted Connect run.
    static void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    static bool connects(int port) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        QElapsedTimer t;
        t.start();
        while (socket.state() != QAbstractSocket::ConnectedState &&
               socket.state() != QAbstractSocket::UnconnectedState && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return socket.state() == QAbstractSocket::ConnectedState;
    }
    QByteArray lastDocument(const char* name) const {
        return "[Preferences]\nMRUDocument=" + path(name).toUtf8() + "\n";
    }
};

TEST_F(Startup, CommandLineDocumentChoosesItsSettingsAndOpensThePort) {
    const int port = writeLine();
    QStringList lines;
    auto app = start(doc());
    app->View().EventLog().AddSink([&](const QString& line) { lines.append(line); });
    settle();
    // The banner comes first, the port's text after it.
    EXPECT_EQ(app->View().EventLog().Lines().first(),
              QStringLiteral("****************************************"));
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last(), QStringLiteral("HSMS port has been opened successfully."));
    EXPECT_EQ(app->App().settingsFileName(), ini());
    EXPECT_EQ(app->App().DeviceID, 7);
    EXPECT_EQ(app->Doc().GetPathName(), doc());
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);
    EXPECT_TRUE(app->View().GetConnected());
    EXPECT_TRUE(connects(port));
    // The opened document becomes the last one, in its own settings file.
    EXPECT_TRUE(read(ini()).contains("MRUDocument=" + doc().toUtf8()));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Startup, CommandLineDocumentWinsOverTheLastDocument) {
    write(path("last.tvkm"), "'Other'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n");
    writeLine("OpenMruDocument=1\nMRUDocument=" + path("last.tvkm").toUtf8());
    auto app = start(doc());
    EXPECT_EQ(app->Doc().GetPathName(), doc());
    EXPECT_EQ(app->Doc().FindByName("Other"), nullptr);
}

TEST_F(Startup, WithoutADocumentTheLastOneIsOpened) {
    write(path("last.tvkm"), kDocument);
    write(userIni(), lastDocument("last.tvkm"));
    auto app = start();
    EXPECT_EQ(app->StartDocument(), path("last.tvkm"));
    EXPECT_EQ(app->Doc().GetPathName(), path("last.tvkm"));
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);
    // Opening the last document does not move the settings to its file.
    EXPECT_EQ(app->App().settingsFileName(), userIni());
}

TEST_F(Startup, NoLastDocumentWhenSwitchedOffOrDeleted) {
    write(path("last.tvkm"), kDocument);
    const QByteArray off =
        "[Preferences]\nOpenMruDocument=0\nMRUDocument=" + path("last.tvkm").toUtf8();
    for (const QByteArray& ini : {off, lastDocument("gone.tvkm")}) {
        write(userIni(), ini);
        auto app = start();
        EXPECT_TRUE(app->StartDocument().isEmpty()) << ini.constData();
        EXPECT_TRUE(app->Doc().GetPathName().isEmpty());
        EXPECT_EQ(app->Doc().GetTitle(), QStringLiteral("Untitled"));
        EXPECT_TRUE(app->Doc().m_msgList.empty());
    }
    EXPECT_TRUE(boxes.isEmpty());
}

// The user named a file that is not there: the box, then the end, and no
// settings file appears beside the wrong path.
TEST_F(Startup, MissingCommandLineDocumentEndsTheStart) {
    for (const bool windowed : {false, true}) {
        boxes.clear();
        CHStartOptions o;
        o.documentPath = path("gone.tvkm");
        o.windowed = windowed;
        o.executablePath = path("bin/tovik");
        o.userConfigDir = configDir();
        {
            CHAppInstance instance(o);
            EXPECT_FALSE(instance.InitInstance());
            instance.ExitInstance();
        }
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes.first().startsWith(QStringLiteral("Cannot open ") + path("gone.tvkm")))
            << boxes.first().toStdString();
        EXPECT_FALSE(QFile::exists(path("gone.ini")));
    }
}

TEST_F(Startup, DocumentWithASyntaxErrorKeepsTheDefinitionsBeforeIt) {
    const QByteArray broken = QByteArray(kDocument) + "junk\r\n'Lost'\r\nBegin List\r\ns1f4\r\nEnd List\r\n";
    write(path("bad.tvkm"), broken);
    auto app = start(path("bad.tvkm"), true);
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Syntax error")});
    EXPECT_EQ(details, QStringList{QStringLiteral("bad.tvkm, line 7\n(7) parse error\nLast token was \"j\"")});
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);
    EXPECT_EQ(app->Frame()->windowTitle(), QStringLiteral("bad.tvkm - Tovik"));
    // Ctrl+S keeps the file as it was beside it, and the log says so.
    ASSERT_TRUE(app->Frame()->Execute(CMainFrame::ID_FILE_SAVE));
    EXPECT_EQ(read(path("bad.tvkm.bak")), broken);
    EXPECT_EQ(read(path("bad.tvkm")), QByteArray::fromStdString(StoreMsgFile(app->Doc().m_msgList)));
    EXPECT_TRUE(app->View().EventLog().Lines().contains(QStringLiteral("The file as it was before the save is kept as ") +
                                                         path("bad.tvkm.bak") +
                                                         QStringLiteral(" (it had a syntax error).")));
}

TEST_F(Startup, SecondInstanceOnTheSamePortLogsThePortError) {
    const int port = writeLine();
    auto first = start(doc());
    settle();
    ASSERT_TRUE(connects(port));
    auto second = start(doc());
    settle();
    EXPECT_TRUE(second->View().EventLog().Lines().contains(
        QStringLiteral("Error : Cannot open HSMS port.")));
    EXPECT_TRUE(first->View().EventLog().Lines().contains(
        QStringLiteral("HSMS port has been opened successfully.")));
}

TEST_F(Startup, ExitLeavesThePortsToTheProcessEnd) {
    writeLine();
    auto app = start(doc());
    settle();
    ASSERT_TRUE(app->View().GetConnected());
    const QStringList before = app->View().EventLog().Lines();
    app->ExitInstance();
    EXPECT_TRUE(app->View().GetConnected());
    EXPECT_EQ(app->View().EventLog().Lines(), before) << "no closing line";
}

} // namespace
} // namespace tovik::test
