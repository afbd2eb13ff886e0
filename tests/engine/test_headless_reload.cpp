// tovik --headless reloading on SIGHUP, as a service manager asks it to: the
// document and settings are read again, a link whose port values stayed is
// kept, a port whose values changed is reopened with them.
#include "harness.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace harness;

namespace {

// The S1F2 definition with other texts, and its body encoded by hand.
const char* kNewDocument =
    "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n{\r\n\t<a'EQ2'>\r\n\t<a'1'>\r\n}\r\nEnd List\r\n\r\n";
const char* kNewS1F2Body = "0102410345513241013" "1";

struct Reload : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    RawHost host;

    void SetUp() override {
        settings.localPort = freePort();
        tovik = std::make_unique<Tovik>(settings);
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully.")) << tovik->err();
        ASSERT_TRUE(host.connect(settings.localPort));
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, 1, 1)));
        ASSERT_EQ(host.recv(), header(0xffff, 0, 0, 1, 2));
        ASSERT_TRUE(host.send(header(0, 0x81, 1, 2)));
        ASSERT_EQ(host.recv(), header(0, 0x01, 2, 2) + kS1F2Body);
    }
    void writeSettings() {
        writeFile(tovik->dir.filePath(QStringLiteral("equipment.ini")), settings.text());
    }
    bool hangUp(std::size_t times = 1) {
        ::kill(static_cast<pid_t>(tovik->proc.processId()), SIGHUP);
        return tovik->waitLine("Reloaded the document and the settings.", times);
    }
};

} // namespace

TEST_F(Reload, KeepsTheLinkWhenThePortValuesStayAndAnswersFromTheNewDocument) {
    writeFile(tovik->docPath, kNewDocument);
    settings.deviceId = 1; // not a port value: checked on every message
    writeSettings();
    ASSERT_TRUE(hangUp()) << tovik->err();

    // Same connection, no Select again: the new device id and definitions.
    ASSERT_TRUE(host.send(header(1, 0x81, 1, 3)));
    EXPECT_EQ(host.recv(), header(1, 0x01, 2, 3) + kNewS1F2Body);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 4)));
    const auto s9f1 = host.recv();
    ASSERT_TRUE(s9f1);
    EXPECT_EQ(s9f1->substr(0, 12), "000109010000");
    EXPECT_FALSE(host.closed());
    EXPECT_EQ(tovik->count("Closed HSMS port"), 0u);
    EXPECT_EQ(tovik->count("HSMS port has been opened successfully."), 1u);

    // A second reload with nothing changed changes nothing either.
    ASSERT_TRUE(hangUp(2));
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 5, 5)));
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 5, 6));
    EXPECT_EQ(tovik->proc.state(), QProcess::Running);
}

TEST_F(Reload, ReopensOnTheNewPortAndKeepsDefinitionsWhenTheDocumentIsGone) {
    const int oldPort = settings.localPort;
    settings.localPort = freePort();
    writeSettings();
    ASSERT_TRUE(QFile::remove(tovik->docPath));
    ASSERT_TRUE(hangUp()) << tovik->err();
    EXPECT_TRUE(host.waitClosed());
    EXPECT_EQ(tovik->count("Closed HSMS port"), 1u);
    EXPECT_EQ(tovik->count("HSMS port has been opened successfully."), 2u);
    EXPECT_NE(tovik->err().find("equipment.tvkm"), std::string::npos) << tovik->err();

    RawHost old;
    EXPECT_FALSE(old.connect(oldPort, 1));
    RawHost moved;
    ASSERT_TRUE(moved.connect(settings.localPort));
    ASSERT_TRUE(moved.send(header(0xffff, 0, 0, 6, 1)));
    EXPECT_EQ(moved.recv(), header(0xffff, 0, 0, 6, 2));
    ASSERT_TRUE(moved.send(header(0, 0x81, 1, 7)));
    EXPECT_EQ(moved.recv(), header(0, 0x01, 2, 7) + kS1F2Body);

    EXPECT_EQ(tovik->terminate(), 0);
    EXPECT_EQ(tovik->count("Closed HSMS port"), 1u); // the ports close with the process, unlogged
}
