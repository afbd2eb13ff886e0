#pragma once
// A scratch installation per test: a program path and a user configuration
// folder of its own (so no real settings file is touched), documents and
// settings files written into it, message boxes caught, and a free port.
#include "../common/frames.h"
#include "../common/qt_helpers.h"
#include "CHAppInstance.h"
#include "messagebox.h"

#include <QApplication>
#include <QDir>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace tovik::test {

// A document with one reply, so an opened document is told from a new one.
inline const char* kDocument = "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n<a'EQ'>\r\nEnd List\r\n\r\n";

using hsmstest::freePort;

class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override {
        testApp<QApplication>();
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkpath(QStringLiteral("bin"));
        QDir(dir.path()).mkpath(QStringLiteral("config"));
        m_previous =
            setMessageBoxHandler([this](QWidget*, const QString& text, const QString& detail) {
                boxes.append(text);
                details.append(detail);
            });
    }
    void TearDown() override { setMessageBoxHandler(m_previous); }

    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QString configDir() const { return path("config"); }
    // The settings file used before any document chose one.
    QString userIni() const { return path("config/tovik.ini"); }
    QString doc() const { return path("line.tvkm"); }
    QString ini() const { return path("line.ini"); }

    static void write(const QString& file, const QByteArray& text) {
        ASSERT_TRUE(writeAll(file, text)) << file.toStdString();
    }
    // line.tvkm and its settings file, a passive HSMS equipment on a free
    // port (returned) with the extra preferences given.
    int writeLine(const QByteArray& preferences = {}) {
        const int port = freePort();
        write(doc(), kDocument);
        write(ini(), "[Preferences]\nProtocol=0\nDeviceID=7\n" + preferences +
                         "\n[HSMS]\nServer=1\nIPAddress=127.0.0.1\nPortNumber=0\nLocalPortNumber=" +
                         QByteArray::number(port) + "\n");
        return port;
    }
    // The GEM example (document, settings, script, model) on a free port (returned).
    int writeGemExample() {
        const int port = freePort();
        for (const char* name : {"equipment.tvkm", "equipment.js", "equipment.json", "equipment.ini"}) {
            QByteArray text = readAll(QStringLiteral(TOVIK_SOURCE_DIR "/examples/gem/") + QLatin1String(name));
            text.replace("PortNumber=5000", "PortNumber=" + QByteArray::number(port));
            write(path(name), text);
        }
        return port;
    }
    std::unique_ptr<CHAppInstance> start(const QString& document = {}, bool windowed = false,
                                         bool splash = false) {
        CHStartOptions o;
        o.documentPath = document;
        o.windowed = windowed;
        o.splash = splash;
        o.executablePath = path("bin/tovik");
        o.userConfigDir = configDir();
        auto instance = std::make_unique<CHAppInstance>(o);
        EXPECT_TRUE(instance->InitInstance());
        if (windowed)
            QCoreApplication::processEvents();
        return instance;
    }

    QTemporaryDir dir;
    QStringList boxes;
    QStringList details; // the detail of each box, empty for most

private:
    MessageBoxHandler m_previous;
};

} // namespace tovik::test
