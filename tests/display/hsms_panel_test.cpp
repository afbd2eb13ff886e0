// The HSMS pane follows its driver through open, connect, select and close.
#include "CHsmsPanel.h"
#include "../common/qt_helpers.h"
#include "CVeltHsms.h"
#include "hsms_peer.h"

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

using namespace hsmstest;
using tovik::test::pumpUntil;

namespace {
QStringList labels(const CHsmsPanel& panel) {
    QStringList out;
    for (const QLabel* l : panel.findChildren<QLabel*>())
        out << l->text();
    return out;
}
} // namespace

TEST(HsmsPanel, ShowsModeEndpointAndStateAsTheLinkChanges) {
    static int argc = 1;
    static char name[] = "hsms_panel_tests";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    CVeltHsms driver;
    driver.SetServerMode(true);
    driver.SetLocalPort(0);
    CHsmsPanel panel;
    panel.SetDriver(&driver);
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("Passive")));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("Closed")));

    driver.SetPortOpen(true);
    const int port = driver.GetListeningPort();
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("Listening")));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("port %1").arg(port)));

    RawHost peer;
    ASSERT_TRUE(peer.connect(port, 1));
    ASSERT_TRUE(pumpUntil([&] { return driver.GetState() == CVeltHsms::Connected; }));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("Connected, not selected")));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("1 connected")));

    // A second host, then the first speaks: the pane names it.
    RawHost second;
    ASSERT_TRUE(second.connect(port, 1));
    ASSERT_TRUE(pumpUntil([&] { return labels(panel).contains(QStringLiteral("2 connected")); }));
    peer.send("ffff0000000100000001");
    const QString last = QStringLiteral("127.0.0.1(%1)").arg(peer.localPort());
    ASSERT_TRUE(pumpUntil([&] { return labels(panel).contains(last); }));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("2 connected")));

    driver.SetRemoteAddress(QStringLiteral("127.0.0.1"));
    driver.SetRemotePort(peer.localPort());
    driver.SendHex(QStringLiteral("ffff0000000200000001"));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("Selected")));
    second.close();
    ASSERT_TRUE(pumpUntil([&] { return labels(panel).contains(QStringLiteral("1 connected")); }));
    EXPECT_TRUE(labels(panel).contains(last));

    driver.SetPortOpen(false);
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("Closed")));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("port %1").arg(0)));

    driver.SetServerMode(false);
    driver.SetRemoteAddress(QStringLiteral("10.0.0.7"));
    driver.SetRemotePort(5001);
    panel.Refresh();
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("Active")));
    EXPECT_TRUE(labels(panel).contains(QStringLiteral("10.0.0.7(5001)")));
}
