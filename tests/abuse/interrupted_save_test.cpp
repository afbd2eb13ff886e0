// Saves that fail half-way: a child process whose file size limit stops the
// write leaves the file from before untouched on disk, and no scraps beside it.
// Runs as root too, where a read-only folder would not stop the write.
#include "../common/qt_helpers.h"
#include "CTovikarApp.h"
#include "CTovikarDoc.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tovik;

namespace {

using test::readAll;
using test::writeAll;

// Runs `save` in a child whose files may not grow past `limit` bytes (0: no
// limit); the child's exit code is 0 when the save said it worked.
int saveInChild(rlim_t limit, const std::function<bool()>& save) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // a short write instead of death
        if (limit > 0) {
            rlimit lim{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
                ::_exit(3);
        }
        ::_exit(save() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::unique_ptr<CHOneMsg> message(std::string name, std::string sml) {
    auto msg = std::make_unique<CHOneMsg>();
    msg->m_strName = std::move(name);
    msg->m_bStructure = true;
    msg->m_strText = std::move(sml);
    return msg;
}

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

bool saveDocument(const QString& path) {
    CTovikarDoc doc;
    doc.SetMessageBoxHandler([](const QString&, const QString&) {});
    for (int i = 0; i < 50; ++i)
        doc.AddMessage(message("S1F2 Reply " + std::to_string(i), "s1f2\r\n<a'a long enough value'>\r\n"));
    return doc.OnSaveDocument(path);
}

} // namespace

TEST(InterruptedSave, DocumentKeepsThePreviousFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("equipment.tvkm"));
    const QByteArray before = "'Old'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n";
    writeAll(path, before);

    EXPECT_EQ(saveInChild(1024, [&] { return saveDocument(path); }), 1) << "the failed save went unnoticed";
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(filesIn(dir), QStringList{QStringLiteral("equipment.tvkm")});

    // Without the limit the same save goes through: the limit was what stopped it.
    EXPECT_EQ(saveInChild(0, [&] { return saveDocument(path); }), 0);
    EXPECT_NE(readAll(path), before);
    EXPECT_GT(readAll(path).size(), 1024);
}

TEST(InterruptedSave, SettingsKeepThePreviousFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("equipment.ini"));
    // A file written by an earlier save, plus a section the program does not own.
    {
        CTovikarApp app(dir.filePath(QStringLiteral("bin/tovik")), dir.filePath(QStringLiteral("config")));
        app.profile().setFileName(path);
        ASSERT_TRUE(app.SaveSettings());
        ASSERT_TRUE(app.profile().WriteProfileString(QStringLiteral("Window"), QStringLiteral("Rect"),
                                                     QStringLiteral("10,20,650,500")));
    }
    const QByteArray before = readAll(path);
    ASSERT_TRUE(before.contains("Rect=10,20,650,500"));

    auto save = [&] {
        CTovikarApp app(dir.filePath(QStringLiteral("bin/tovik")), dir.filePath(QStringLiteral("config")));
        app.profile().setFileName(path);
        app.Protocol = 1;
        app.IPAddress = QStringLiteral("equipment-host.example.org");
        return app.SaveSettings();
    };
    // Too small for even the first rewrite of the whole file.
    EXPECT_EQ(saveInChild(static_cast<rlim_t>(before.size() - 1), save), 1) << "the failed save went unnoticed";
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(filesIn(dir), QStringList{QStringLiteral("equipment.ini")});

    EXPECT_EQ(saveInChild(0, save), 0);
    const QByteArray after = readAll(path);
    EXPECT_TRUE(after.contains("Protocol=1"));
    EXPECT_TRUE(after.contains("Rect=10,20,650,500"));
}
