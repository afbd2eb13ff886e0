#pragma once
// A scratch installation per test: a program path and a user configuration
// folder of its own (so no real settings file is touched), documents and
// settings files written into it, message boxes caught, and a free port.
#include "CTovikarApp.h"
#include "messagebox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tovik::test {

inline QApplication& qtApp() {
    static int argc = 1;
    static char arg0[] = "tovik_shell_test";
    static char* argv[] = {arg0, nullptr};
    // Never destroyed: tearing Qt's GUI down during static destruction
    // crashes in its input-device registry once windows have existed.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A document with one reply, so an opened document is told from a new one.
inline const char* kDocument = "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n<a'EQ'>\r\nEnd List\r\n\r\n";

inline int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qtApp();
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkpath(QStringLiteral("bin"));
        QDir(dir.path()).mkpath(QStringLiteral("config"));
        m_previous =
            setMessageBoxHandler([this](QWidget*, const QString& text) { boxes.append(text); });
    }
    void TearDown() override { setMessageBoxHandler(m_previous); }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString exePath() const { return path(QStringLiteral("bin/tovik")); }
    QString configDir() const { return path(QStringLiteral("config")); }
    // The settings file used before any document chose one.
    QString userIni() const { return path(QStringLiteral("config/tovik.ini")); }

    static void write(const QString& file, const QByteArray& text) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    static QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // A passive HSMS equipment on port, with the extra lines given.
    static QByteArray settings(int port, const QByteArray& extra = {}) {
        return "[Preferences]\nProtocol=0\nDeviceID=7\n" + extra +
               "\n[HSMS]\nServer=1\nIPAddress=127.0.0.1\nPortNumber=0\nLocalPortNumber=" +
               QByteArray::number(port) + "\n";
    }

    QTemporaryDir dir;
    QStringList boxes;

private:
    MessageBoxHandler m_previous;
};

} // namespace tovik::test
