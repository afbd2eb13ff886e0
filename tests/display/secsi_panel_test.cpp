// The SECS-I pane shows what the driver is set to and the line state.
#include <gtest/gtest.h>

#include <QApplication>

#include "../common/qt_helpers.h"
#include "CVeltSecsI.h"
#include "CVeltSecsIPanel.h"
#include "pty_pair.h"

TEST(SecsiPanel, FollowsTheDriverAndItsLine) {
    tovik::test::testApp<QApplication>();
    RawPty pty;
    ASSERT_TRUE(pty.open());

    auto* driver = new CVeltSecsI;
    driver->SetDevicePath(QString::fromStdString(pty.slavePath));
    driver->SetBaud(19200);
    driver->SetDevice(7);
    driver->SetMasterMode(true);
    CVeltSecsIPanel panel(driver);
    EXPECT_EQ(panel.StateText(), QStringLiteral("Closed"));
    EXPECT_EQ(panel.ModeText(), QStringLiteral("Master"));

    driver->SetPortOpen(true);
    ASSERT_TRUE(driver->GetPortOpen());
    EXPECT_TRUE(panel.DeviceText().contains(QString::fromStdString(pty.slavePath)));
    EXPECT_TRUE(panel.DeviceText().contains(QStringLiteral("7")));
    EXPECT_EQ(panel.SpeedText(), QStringLiteral("19200 baud"));
    EXPECT_EQ(panel.StateText(), QStringLiteral("Idle"));

    driver->SendHex(QStringLiteral("00078101000000000001"));
    EXPECT_EQ(panel.StateText(), QStringLiteral("Wait EOT"));
    driver->SetPortOpen(false);
    EXPECT_EQ(panel.StateText(), QStringLiteral("Closed"));

    delete driver; // the pane outlives the driver without touching it
    panel.Refresh();
    EXPECT_TRUE(panel.StateText().isEmpty());
}
