// Which document the program starts with and the File menu's document
// commands, without a window: a headless start-up (the settings and log
// wiring are the real ones) with the commands over its document, and the
// person's answers given here.
#include "shell_fixture.h"

#include "CHDocCommands.h"
#include "CHEventLog.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

#include <QTcpSocket>

namespace tovik::test {
namespace {

using Answer = CHDocPrompts::Answer;
using Startup = ShellFixture;

// The command line's document chooses the settings beside it and wins over
// the last document; it becomes the last one itself.
TEST_F(Startup, CommandLineDocumentChoosesItsSettingsAndOpensThePort) {
    write(path("last.tvkm"), "'Other'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n");
    const int port = writeLine("OpenMruDocument=1\nMRUDocument=" + path("last.tvkm").toUtf8());
    auto app = start(doc());
    EXPECT_EQ(app->Doc().GetPathName(), doc());
    EXPECT_TRUE(readAll(ini()).contains("MRUDocument=" + doc().toUtf8()));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(); // the posted Connect
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    EXPECT_TRUE(socket.waitForConnected(5000));
}

// Without a document: the last one when it is on and still there, else
// silently a new one; the settings stay in the user's file.
TEST_F(Startup, WithoutADocumentTheLastOneIsOpenedWhenItCanBe) {
    write(path("last.tvkm"), kDocument);
    const QByteArray last = "[Preferences]\nMRUDocument=" + path("last.tvkm").toUtf8();
    write(userIni(), last);
    {
        auto app = start();
        EXPECT_EQ(app->Doc().GetPathName(), path("last.tvkm"));
        EXPECT_FALSE(QFile::exists(path("last.ini")));
    }
    const QByteArray gone = QByteArray(last).replace("last.tvkm", "gone.tvkm");
    for (const QByteArray& ini : {last + "\nOpenMruDocument=0", gone}) {
        write(userIni(), ini);
        auto app = start();
        EXPECT_TRUE(app->Doc().GetPathName().isEmpty()) << ini.constData();
    }
    EXPECT_TRUE(boxes.isEmpty());
}

class DocCommands : public ShellFixture {
protected:
    // Starts on line.tvkm; returns the port of its settings.
    int begin() {
        const int port = writeLine();
        app = start(doc());
        const auto ask = [this](const QString& text) { asked.append(text); return answer; };
        const auto choose = [this](bool save, const QString& at) {
            asked.append(QLatin1String(save ? "save:" : "open:") + at);
            return chosen;
        };
        docs = std::make_unique<CHDocCommands>(app->Doc(), CHDocPrompts{ask, choose});
        return port;
    }
    QStringList files(int n) {
        QStringList list;
        for (int i = 0; i < n; ++i)
            write(list.emplace_back(dir.filePath(QStringLiteral("d%1.tvkm").arg(i))), kDocument);
        return list;
    }

    std::unique_ptr<CHAppInstance> app;
    std::unique_ptr<CHDocCommands> docs;
    QStringList asked; // every question and dialog, in order
    Answer answer = Answer::Cancel;
    QString chosen; // what a file dialog returns
};

TEST_F(DocCommands, UnsavedChangesAreAskedAboutBeforeTheyAreLost) {
    const QString other = files(1).first();
    begin();
    app->Doc().RemoveByName("S1F2 Data");
    app->Doc().SetModifiedFlag(true);
    // Cancel keeps the document, whatever would have replaced it.
    EXPECT_FALSE(docs->New());
    EXPECT_FALSE(docs->OpenFile(other));
    EXPECT_EQ(asked, QStringList(2, QStringLiteral("Save changes to ") + doc() + QStringLiteral("?")));
    EXPECT_EQ(app->Doc().GetPathName(), doc());
    EXPECT_TRUE(app->Doc().IsModified());
    // No drops the changes; the file stays as it was.
    answer = Answer::No;
    EXPECT_TRUE(docs->OpenFile(other));
    EXPECT_EQ(readAll(doc()), kDocument);
    EXPECT_EQ(app->Doc().GetPathName(), other);
    // Yes writes them first: an untitled document through Save As, whose
    // name gets the extension.
    ASSERT_TRUE(docs->New());
    app->Doc().SetModifiedFlag(true);
    answer = Answer::Yes;
    chosen = path("named");
    asked.clear();
    EXPECT_TRUE(docs->New());
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Save changes to Untitled?"), QStringLiteral("save:Untitled.tvkm")}));
    EXPECT_TRUE(QFile::exists(path("named.tvkm")));
}

// The settings file follows the document to its new name; the old one
// records where the document went.
TEST_F(DocCommands, SaveAsMovesTheSettingsToTheNewName) {
    const int port = begin();
    chosen = path("cell.tvkm");
    ASSERT_TRUE(docs->SaveAs());
    EXPECT_EQ(asked, QStringList{QStringLiteral("save:") + doc()});
    EXPECT_TRUE(readAll(chosen).contains("'S1F2 Data'"));
    const QByteArray moved = readAll(path("cell.ini"));
    EXPECT_TRUE(moved.contains("LocalPortNumber=" + QByteArray::number(port)));
    EXPECT_TRUE(readAll(ini()).contains("MRUDocument=" + chosen.toUtf8()));
    EXPECT_EQ(docs->RecentFiles().Files(), QStringList{chosen});
}

TEST_F(DocCommands, RecentFilesNewestFirstAndOneThatCannotBeOpenedLeaves) {
    const QStringList d = files(5);
    begin();
    for (const QString& f : d)
        ASSERT_TRUE(docs->OpenFile(f));
    ASSERT_TRUE(docs->OpenFile(d[2])); // moves up, not twice
    EXPECT_EQ(docs->RecentFiles().Files(), (QStringList{d[2], d[4], d[3], d[1]}));

    // A failed open keeps the document that was there.
    QFile::remove(d[4]);
    EXPECT_FALSE(docs->OpenRecent(1));
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Cannot open ") + d[4] + QStringLiteral(": No such file or directory")});
    EXPECT_EQ(docs->RecentFiles().Files(), (QStringList{d[2], d[3], d[1]}));
    EXPECT_EQ(app->Doc().GetPathName(), d[2]);

    EXPECT_TRUE(docs->OpenRecent(2));
    EXPECT_EQ(docs->RecentFiles().Files(), (QStringList{d[1], d[2], d[3]}));
}

TEST_F(DocCommands, OpenAndDropReplaceTheDocument) {
    write(path("other.tvkm"), "'Dropped'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n");
    begin();
    EXPECT_FALSE(docs->Open()); // the dialog was cancelled
    chosen = files(1).first();
    EXPECT_TRUE(docs->Open());
    EXPECT_EQ(asked, QStringList(2, QStringLiteral("open:") + dir.path()));

    const QUrl notes = QUrl::fromLocalFile(path("notes.txt"));
    EXPECT_FALSE(docs->Drop({notes, QUrl(QStringLiteral("https://example.com/x.tvkm"))}));
    EXPECT_TRUE(docs->Drop({notes, QUrl::fromLocalFile(path("other.tvkm"))}));
    EXPECT_EQ(app->Doc().GetPathName(), chosen); // not inside the drop
    QCoreApplication::processEvents();
    EXPECT_EQ(app->Doc().GetPathName(), path("other.tvkm"));
    EXPECT_NE(app->Doc().FindByName("Dropped"), nullptr);
    EXPECT_EQ(docs->RecentFiles().Files().first(), path("other.tvkm"));
}

// The first save over a file that loaded with a syntax error keeps that
// file beside it, and the log says so.
TEST_F(DocCommands, FirstSaveOverABrokenFileIsLogged) {
    begin();
    write(path("bad.tvkm"), QByteArray(kDocument) + "junk\r\n");
    ASSERT_TRUE(docs->OpenFile(path("bad.tvkm")));
    ASSERT_TRUE(docs->Save());
    EXPECT_TRUE(app->View().EventLog().Lines().contains(
        QStringLiteral("The file as it was before the save is kept as ") + path("bad.tvkm.bak") +
        QStringLiteral(" (it had a syntax error).")));
}

} // namespace
} // namespace tovik::test
