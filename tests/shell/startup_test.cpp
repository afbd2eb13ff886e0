// The start-up order run headless: which settings file and which document
// the program starts with, and that the engine's port opens from them.
#include "shell_fixture.h"

#include "CHEventLog.h"
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
    auto app = start(doc());
    settle();
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
    EXPECT_FALSE(QFile::exists(path("last.ini")));
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

} // namespace
} // namespace tovik::test
