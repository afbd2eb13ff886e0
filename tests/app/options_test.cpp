// The options dialog as the user drives it: what each page shows, what it
// refuses with which message, and what OK and Cancel leave in the settings
// and in the settings file.
#include "../common/qt_helpers.h"

#include "COptionPages.h"
#include "COptionSheet.h"
#include "CTovikarApp.h"
#include "messagebox.h"
#include <QTemporaryDir>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <climits>

namespace {

QApplication& qapp() {
    return tovik::test::testApp<QApplication>();
}

struct OptionsTest : ::testing::Test {
    QTemporaryDir dir;
    QStringList shown; // message box texts, in order
    tovik::MessageBoxHandler previous;
    CTovikarApp app{dir.filePath(QStringLiteral("bin/tovik")),
                    dir.filePath(QStringLiteral("config"))};

    void SetUp() override {
        qapp();
        previous = tovik::setMessageBoxHandler([this](QWidget*, const QString& t, const QString&) { shown << t; });
        app.profile().setFileName(dir.filePath(QStringLiteral("s.ini")));
    }
    void TearDown() override { tovik::setMessageBoxHandler(previous); }

    static void clickOk(COptionSheet& s) { s.buttons()->button(QDialogButtonBox::Ok)->click(); }
    static void clickCancel(COptionSheet& s) {
        s.buttons()->button(QDialogButtonBox::Cancel)->click();
    }
    QByteArray file() const { return tovik::test::readAll(dir.filePath(QStringLiteral("s.ini"))); }
};

TEST_F(OptionsTest, CancelChangesNothing) {
    COptionSheet s(app);
    s.general()->m_editDeviceID->setText(QStringLiteral("7"));
    s.tabs()->setCurrentIndex(4);
    s.timeOut()->m_editT3->setText(QStringLiteral("1"));
    clickCancel(s);
    EXPECT_EQ(s.result(), QDialog::Rejected);
    EXPECT_EQ(app.DeviceID, 0);
    EXPECT_EQ(app.T3, 45000);
    EXPECT_TRUE(file().isEmpty());
}

TEST_F(OptionsTest, OkWritesEveryPageIntoTheSettingsAndTheFile) {
    COptionSheet s(app);
    s.show();
    s.general()->m_radioSecs->click();
    s.general()->m_editDeviceID->setText(QStringLiteral(" 12 "));
    s.general()->m_checkCheckDeviceID->setChecked(false);
    s.tabs()->setCurrentIndex(1);
    s.hsms()->m_checkServer->setChecked(true);
    s.hsms()->m_editIPAddress->setText(QStringLiteral("10.0.0.5"));
    s.hsms()->m_editPortNumber->setText(QStringLiteral("+5000"));
    s.hsms()->m_editLocalPortNumber->setText(QStringLiteral("5001"));
    s.tabs()->setCurrentIndex(2);
    s.secs()->m_comboCommPort->setCurrentIndex(2);
    s.secs()->m_comboBaudRate->setCurrentIndex(12);
    s.secs()->m_editRetry->setText(QStringLiteral("5"));
    s.tabs()->setCurrentIndex(3);
    s.info()->m_checkShowDateTime->setChecked(false);
    s.tabs()->setCurrentIndex(4);
    s.timeOut()->m_editT8->setText(QStringLiteral("2000"));
    s.tabs()->setCurrentIndex(5);
    s.log()->m_checkEnableLog->setChecked(true);
    s.log()->m_editLogFileName->setText(QStringLiteral("/tmp/x.log"));
    s.log()->m_editLogBakCount->setText(QStringLiteral("0"));
    s.tabs()->setCurrentIndex(6);
    s.event()->m_editEventStream->setText(QStringLiteral("6"));
    s.event()->m_editEventFunction->setText(QStringLiteral("11"));
    clickOk(s);
    ASSERT_EQ(s.result(), QDialog::Accepted);
    EXPECT_TRUE(shown.isEmpty());

    CTovikarApp loaded(dir.filePath(QStringLiteral("bin/tovik")),
                       dir.filePath(QStringLiteral("config")));
    loaded.profile().setFileName(dir.filePath(QStringLiteral("s.ini")));
    loaded.LoadSettings();
    for (const CTovikarApp* a : {&app, &loaded}) {
        EXPECT_EQ(a->Protocol, 1);
        EXPECT_EQ(a->DeviceID, 12);
        EXPECT_FALSE(a->CheckDeviceID);
        EXPECT_TRUE(a->Server);
        EXPECT_EQ(a->IPAddress, QStringLiteral("10.0.0.5"));
        EXPECT_EQ(a->PortNumber, 5000);
        EXPECT_EQ(a->LocalPortNumber, 5001);
        EXPECT_EQ(a->CommPort, 3);
        EXPECT_EQ(a->BaudRate, 307200);
        EXPECT_EQ(a->Retry, 5);
        EXPECT_FALSE(a->ShowDateTime);
        EXPECT_EQ(a->T8, 2000);
        EXPECT_EQ(a->T3, 45000);
        EXPECT_TRUE(a->EnableLog);
        EXPECT_EQ(a->LogFileName, QStringLiteral("/tmp/x.log"));
        EXPECT_EQ(a->LogBakCount, 0);
        EXPECT_EQ(a->EventStream, 6);
        EXPECT_EQ(a->EventFunction, 11);
    }
}

TEST_F(OptionsTest, UnlistedPortAndSpeedSurviveUntilTheSecsPageIsShown) {
    app.CommPort = 51;
    app.BaudRate = 57600;
    {
        COptionSheet s(app);
        clickOk(s);
    }
    EXPECT_EQ(app.CommPort, 51);
    EXPECT_EQ(app.BaudRate, 57600);
    EXPECT_TRUE(file().contains("\nCommPort=51\nBaudRate=57600\n"));
    COptionSheet s(app);
    s.tabs()->setCurrentIndex(2);
    EXPECT_EQ(s.secs()->m_comboCommPort->currentIndex(), -1);
    EXPECT_EQ(s.secs()->m_comboBaudRate->currentIndex(), -1);
    s.tabs()->setCurrentIndex(0);
    clickOk(s);
    EXPECT_EQ(app.CommPort, 0);
    EXPECT_EQ(app.BaudRate, 9600);

    // Listed ones are shown.
    app.CommPort = 50;
    app.BaudRate = 38400;
    COptionSheet t(app);
    t.tabs()->setCurrentIndex(2);
    EXPECT_EQ(t.secs()->m_comboCommPort->currentText(), QStringLiteral("Comm 50"));
    EXPECT_EQ(t.secs()->m_comboBaudRate->currentText(), QStringLiteral("38400"));
    clickOk(t);
    EXPECT_EQ(app.CommPort, 50);
    EXPECT_EQ(app.BaudRate, 38400);
}

TEST_F(OptionsTest, BridgeModeShowsButCannotBeChosenAgainNorCanAnUnknownOne) {
    app.Protocol = 3;
    COptionSheet s(app);
    EXPECT_TRUE(s.general()->m_radioHsmsSecs->isChecked());
    EXPECT_FALSE(s.general()->m_radioHsmsSecs->isEnabled());
    EXPECT_FALSE(s.general()->m_radioMsec->isEnabled());
    EXPECT_FALSE(s.general()->m_checkHide->isEnabled());
    s.general()->m_radioHsms->click();
    s.general()->m_radioHsmsSecs->click(); // disabled: no effect
    clickOk(s);
    EXPECT_EQ(app.Protocol, 0);

    // An unknown protocol shows no choice and becomes the last.
    app.Protocol = 7;
    COptionSheet t(app);
    for (QRadioButton* r : {t.general()->m_radioHsms, t.general()->m_radioSecs,
                            t.general()->m_radioMsec, t.general()->m_radioHsmsSecs})
        EXPECT_FALSE(r->isChecked());
    clickOk(t);
    EXPECT_EQ(app.Protocol, 3);
}

TEST_F(OptionsTest, LogSizeAndBackupCountAreRangeChecked) {
    COptionSheet s(app);
    s.tabs()->setCurrentIndex(5);
    s.log()->m_editLogFileSize->setText(QStringLiteral("0"));
    clickOk(s);
    s.tabs()->setCurrentIndex(0); // cannot leave either
    EXPECT_EQ(shown,
              (QStringList{QStringLiteral("Please enter an integer between 1 and 100000."),
                           QStringLiteral("Please enter an integer between 1 and 100000.")}));
    EXPECT_EQ(s.tabs()->currentIndex(), 5);
    EXPECT_NE(s.result(), QDialog::Accepted);

    shown.clear();
    s.log()->m_editLogFileSize->setText(QStringLiteral("100000"));
    s.log()->m_editLogBakCount->setText(QStringLiteral("1000"));
    clickOk(s);
    EXPECT_EQ(shown, QStringList{QStringLiteral("Please enter an integer between 0 and 999.")});
    EXPECT_EQ(app.LogFileSize, 1024);

    shown.clear();
    s.log()->m_editLogBakCount->setText(QStringLiteral("999"));
    clickOk(s);
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(s.result(), QDialog::Accepted);
    EXPECT_EQ(app.LogFileSize, 100000);
    EXPECT_EQ(app.LogBakCount, 999);
}

TEST_F(OptionsTest, StoredOutOfRangeLogValuesAreRefusedOnlyOnceTheirPageIsShown) {
    app.LogFileSize = -3;
    {
        COptionSheet s(app);
        clickOk(s);
        EXPECT_EQ(s.result(), QDialog::Accepted);
        EXPECT_EQ(app.LogFileSize, -3);
    }
    COptionSheet s(app);
    s.tabs()->setCurrentIndex(5);
    clickOk(s);
    EXPECT_EQ(shown, QStringList{QStringLiteral("Please enter an integer between 1 and 100000.")});
    EXPECT_NE(s.result(), QDialog::Accepted);
}

TEST_F(OptionsTest, EveryIntegerEditRefusesText) {
    struct Case {
        int tab;
        QLineEdit* (*edit)(COptionSheet&);
    };
    const Case cases[] = {
        {0, [](COptionSheet& s) { return s.general()->m_editDeviceID; }},
        {1, [](COptionSheet& s) { return s.hsms()->m_editPortNumber; }},
        {1, [](COptionSheet& s) { return s.hsms()->m_editLocalPortNumber; }},
        {2, [](COptionSheet& s) { return s.secs()->m_editRetry; }},
        {4, [](COptionSheet& s) { return s.timeOut()->m_editT1; }},
        {4, [](COptionSheet& s) { return s.timeOut()->m_editT2; }},
        {4, [](COptionSheet& s) { return s.timeOut()->m_editT3; }},
        {4, [](COptionSheet& s) { return s.timeOut()->m_editT4; }},
        {4, [](COptionSheet& s) { return s.timeOut()->m_editT8; }},
        {5, [](COptionSheet& s) { return s.log()->m_editLogFileSize; }},
        {5, [](COptionSheet& s) { return s.log()->m_editLogBakCount; }},
        {6, [](COptionSheet& s) { return s.event()->m_editEventStream; }},
        {6, [](COptionSheet& s) { return s.event()->m_editEventFunction; }},
    };
    for (const Case& c : cases) {
        shown.clear();
        COptionSheet s(app);
        s.tabs()->setCurrentIndex(c.tab);
        c.edit(s)->setText(QStringLiteral("abc"));
        clickOk(s);
        EXPECT_EQ(shown, QStringList{QStringLiteral("Please enter an integer.")}) << c.tab;
        EXPECT_NE(s.result(), QDialog::Accepted) << c.tab;
        EXPECT_EQ(s.tabs()->currentIndex(), c.tab);
    }
    EXPECT_TRUE(file().isEmpty());
}

TEST(DialogInteger, AcceptsWhatTheIntegerEditAccepts) {
    EXPECT_EQ(tovik::parseDialogInt(QStringLiteral("0")), 0);
    EXPECT_EQ(tovik::parseDialogInt(QStringLiteral(" \t12\t ")), 12);
    EXPECT_EQ(tovik::parseDialogInt(QStringLiteral("+5")), 5);
    EXPECT_EQ(tovik::parseDialogInt(QStringLiteral("-45000")), -45000);
    EXPECT_EQ(tovik::parseDialogInt(QStringLiteral("007")), 7);
    EXPECT_EQ(tovik::parseDialogInt(QStringLiteral("99999999999999999999")), INT_MAX);
    EXPECT_EQ(tovik::parseDialogInt(QStringLiteral("-99999999999")), INT_MIN);
    for (const char* bad :
         {"", "  ", "-", "+", "-0", "+0", "abc", "12abc", "0x10", "1 2", "1.5", "\xd9\xa3"})
        EXPECT_FALSE(tovik::parseDialogInt(QString::fromUtf8(bad)).has_value()) << bad;
}

} // namespace
