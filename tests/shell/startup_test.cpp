// The start-up order run headless: which settings file and which document
// the program starts with, and that the engine's port opens from them.
#include "shell_fixture.h"

#include "CHAppInstance.h"
#include "CHEventLog.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace tovik::test {
namespace {

class Startup : public ShellFixture {
protected:
    std::unique_ptr<CHAppInstance> start(const QString& document = {}) {
        CHStartOptions o;
        o.documentPath = document;
        o.executablePath = exePath();
        o.userConfigDir = configDir();
        auto instance = std::make_unique<CHAppInstance>(o);
        EXPECT_TRUE(instance->InitInstance());
        return instance;
    }
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
};

TEST_F(Startup, CommandLineDocumentChoosesItsSettingsAndOpensThePort) {
    const int port = freePort();
    write(path(QStringLiteral("line.tvkm")), kDocument);
    write(path(QStringLiteral("line.ini")), settings(port));
    auto app = start(path(QStringLiteral("line.tvkm")));
    settle();

    EXPECT_EQ(app->App().settingsFileName(), path(QStringLiteral("line.ini")));
    EXPECT_EQ(app->App().DeviceID, 7);
    EXPECT_EQ(app->Doc().GetPathName(), path(QStringLiteral("line.tvkm")));
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);
    EXPECT_TRUE(app->View().GetConnected());
    EXPECT_TRUE(connects(port));
    // The opened document becomes the last one, in its own settings file.
    EXPECT_TRUE(read(path(QStringLiteral("line.ini")))
                    .contains("MRUDocument=" + path(QStringLiteral("line.tvkm")).toUtf8()));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Startup, BannerPrecedesThePortText) {
    const int port = freePort();
    write(path(QStringLiteral("line.tvkm")), kDocument);
    write(path(QStringLiteral("line.ini")), settings(port));
    QStringList lines;
    auto app = start(path(QStringLiteral("line.tvkm")));
    app->View().EventLog().AddSink([&](const QString& line) { lines.append(line); });
    settle();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last(), QStringLiteral("HSMS port has been opened successfully."));
    EXPECT_EQ(app->View().EventLog().Lines().first(),
              QStringLiteral("****************************************"));
}

TEST_F(Startup, CommandLineDocumentWinsOverTheLastDocument) {
    write(path(QStringLiteral("last.tvkm")), "'Other'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n");
    write(path(QStringLiteral("line.tvkm")), kDocument);
    write(path(QStringLiteral("line.ini")),
          settings(0,
                   "OpenMruDocument=1\nMRUDocument=" + path(QStringLiteral("last.tvkm")).toUtf8()));
    auto app = start(path(QStringLiteral("line.tvkm")));
    EXPECT_EQ(app->Doc().GetPathName(), path(QStringLiteral("line.tvkm")));
    EXPECT_EQ(app->Doc().FindByName("Other"), nullptr);
}

TEST_F(Startup, WithoutADocumentTheLastOneIsOpened) {
    write(path(QStringLiteral("last.tvkm")), kDocument);
    write(userIni(),
          "[Preferences]\nMRUDocument=" + path(QStringLiteral("last.tvkm")).toUtf8() + "\n");
    auto app = start();
    EXPECT_EQ(app->StartDocument(), path(QStringLiteral("last.tvkm")));
    EXPECT_EQ(app->Doc().GetPathName(), path(QStringLiteral("last.tvkm")));
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);
    // Opening the last document does not move the settings to its file.
    EXPECT_EQ(app->App().settingsFileName(), userIni());
}

TEST_F(Startup, OpenMruDocumentOffStartsEmpty) {
    write(path(QStringLiteral("last.tvkm")), kDocument);
    write(userIni(), "[Preferences]\nOpenMruDocument=0\nMRUDocument=" +
                         path(QStringLiteral("last.tvkm")).toUtf8() + "\n");
    auto app = start();
    EXPECT_TRUE(app->StartDocument().isEmpty());
    EXPECT_TRUE(app->Doc().GetPathName().isEmpty());
    EXPECT_EQ(app->Doc().GetTitle(), QStringLiteral("Untitled"));
    EXPECT_TRUE(app->Doc().m_msgList.empty());
}

TEST_F(Startup, DeletedLastDocumentStartsEmptyWithoutAMessage) {
    write(userIni(),
          "[Preferences]\nMRUDocument=" + path(QStringLiteral("gone.tvkm")).toUtf8() + "\n");
    auto app = start();
    EXPECT_TRUE(app->Doc().GetPathName().isEmpty());
    EXPECT_TRUE(app->Doc().m_msgList.empty());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Startup, MissingCommandLineDocumentIsToldAndTheProgramGoesOn) {
    const int port = freePort();
    write(path(QStringLiteral("gone.ini")), settings(port));
    auto app = start(path(QStringLiteral("gone.tvkm")));
    settle();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.first().contains(path(QStringLiteral("gone.tvkm"))))
        << boxes.first().toStdString();
    EXPECT_TRUE(app->Doc().GetPathName().isEmpty());
    // Its settings file was still chosen, so the configured port opens.
    EXPECT_EQ(app->App().settingsFileName(), path(QStringLiteral("gone.ini")));
    EXPECT_TRUE(connects(port));
}

TEST_F(Startup, DocumentWithASyntaxErrorKeepsTheDefinitionsBeforeIt) {
    write(path(QStringLiteral("bad.tvkm")), QByteArray(kDocument) + "junk\r\n");
    auto app = start(path(QStringLiteral("bad.tvkm")));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.first(), QStringLiteral("Syntax error"));
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);
}

TEST_F(Startup, SecondInstanceOnTheSamePortLogsThePortError) {
    const int port = freePort();
    write(path(QStringLiteral("line.tvkm")), kDocument);
    write(path(QStringLiteral("line.ini")), settings(port));
    auto first = start(path(QStringLiteral("line.tvkm")));
    settle();
    ASSERT_TRUE(connects(port));
    auto second = start(path(QStringLiteral("line.tvkm")));
    settle();
    EXPECT_TRUE(second->View().EventLog().Lines().contains(
        QStringLiteral("Error : Cannot open HSMS port.")));
    EXPECT_TRUE(first->View().EventLog().Lines().contains(
        QStringLiteral("HSMS port has been opened successfully.")));
}

TEST_F(Startup, ExitSwitchesThePortsOffWithTheirTexts) {
    write(path(QStringLiteral("line.tvkm")), kDocument);
    write(path(QStringLiteral("line.ini")), settings(freePort()));
    auto app = start(path(QStringLiteral("line.tvkm")));
    settle();
    ASSERT_TRUE(app->View().GetConnected());
    app->ExitInstance();
    EXPECT_FALSE(app->View().GetConnected());
    EXPECT_EQ(app->View().EventLog().Lines().last(), QStringLiteral("Closed HSMS port"));
}

} // namespace
} // namespace tovik::test
