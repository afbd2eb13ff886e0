// The File menu's document commands without a window: a headless start-up
// (the settings and log wiring are the real ones) with the commands over its
// document, and the person's answers given here.
#include "shell_fixture.h"

#include "CHDocCommands.h"
#include "CHEventLog.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

namespace tovik::test {
namespace {

using Answer = CHDocPrompts::Answer;

class DocCommands : public ShellFixture {
protected:
    void begin(const QString& document) {
        app = start(document);
        docs = std::make_unique<CHDocCommands>(
            app->Doc(), CHDocPrompts{[this](const QString& text) {
                                         asked.append(text);
                                         return answer;
                                     },
                                     [this](bool save, const QString& start) {
                                         asked.append((save ? "save:" : "open:") + start);
                                         return chosen;
                                     }});
    }
    QStringList files(int n) {
        QStringList list;
        for (int i = 0; i < n; ++i) {
            list.append(dir.filePath(QStringLiteral("d%1.tvkm").arg(i)));
            write(list.last(), kDocument);
        }
        return list;
    }

    std::unique_ptr<CHAppInstance> app;
    std::unique_ptr<CHDocCommands> docs;
    QStringList asked; // every question and dialog, in order
    Answer answer = Answer::Cancel;
    QString chosen; // what a file dialog returns
};

TEST_F(DocCommands, UnsavedChangesAreAskedAboutBeforeTheyAreLost) {
    writeLine();
    const QString other = files(1).first();
    begin(doc());
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
    EXPECT_EQ(read(doc()), kDocument);
    EXPECT_EQ(app->Doc().GetPathName(), other);
    // Yes writes them first: an untitled document through Save As, whose
    // name gets the extension; a cancelled Save As cancels the command.
    ASSERT_TRUE(docs->New());
    app->Doc().AddMessage(std::make_unique<CHOneMsg>());
    app->Doc().m_msgList.back()->m_strName = "Added";
    app->Doc().SetModifiedFlag(true);
    answer = Answer::Yes;
    asked.clear();
    EXPECT_FALSE(docs->New());
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Save changes to Untitled?"), QStringLiteral("save:Untitled.tvkm")}));
    EXPECT_TRUE(app->Doc().IsModified());
    chosen = path("named");
    EXPECT_TRUE(docs->New());
    EXPECT_TRUE(read(path("named.tvkm")).contains("'Added'"));
    EXPECT_TRUE(app->Doc().m_msgList.empty());
    EXPECT_TRUE(boxes.isEmpty());
}

// The settings file follows the document to its new name; the old one
// records where the document went.
TEST_F(DocCommands, SaveAsMovesTheSettingsToTheNewName) {
    const int port = writeLine();
    begin(doc());
    QDir(dir.path()).mkpath(QStringLiteral("moved"));
    chosen = path("moved/cell.tvkm");
    ASSERT_TRUE(docs->SaveAs());
    EXPECT_EQ(asked, QStringList{QStringLiteral("save:") + doc()});
    EXPECT_TRUE(read(chosen).contains("'S1F2 Data'"));
    const QByteArray moved = read(path("moved/cell.ini"));
    EXPECT_TRUE(moved.contains("DeviceID=7")) << moved.constData();
    EXPECT_TRUE(moved.contains("LocalPortNumber=" + QByteArray::number(port)));
    EXPECT_TRUE(read(ini()).contains("MRUDocument=" + chosen.toUtf8()));
    EXPECT_EQ(docs->RecentFiles().Files(), QStringList{chosen});
    // Save writes to the new name without asking.
    app->Doc().RemoveByName("S1F2 Data");
    ASSERT_TRUE(docs->Save());
    EXPECT_EQ(asked.size(), 1);
    EXPECT_FALSE(read(chosen).contains("S1F2"));
    EXPECT_EQ(read(doc()), kDocument);
}

TEST_F(DocCommands, RecentFilesNewestFirstAndOneThatCannotBeOpenedLeaves) {
    writeLine();
    const QStringList d = files(5);
    begin(doc());
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
    EXPECT_NE(app->Doc().FindByName("S1F2 Data"), nullptr);

    EXPECT_TRUE(docs->OpenRecent(2));
    EXPECT_EQ(app->Doc().GetPathName(), d[1]);
    EXPECT_EQ(docs->RecentFiles().Files(), (QStringList{d[1], d[2], d[3]}));
    // Only cancelling the question does not cost a missing file its place.
    QFile::remove(d[3]);
    app->Doc().SetModifiedFlag(true);
    EXPECT_FALSE(docs->OpenRecent(2));
    EXPECT_EQ(docs->RecentFiles().Files().size(), 3);
}

TEST_F(DocCommands, OpenAndDropReplaceTheDocument) {
    writeLine();
    write(path("other.tvkm"), "'Dropped'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n");
    begin(doc());
    EXPECT_FALSE(docs->Open()); // the dialog was cancelled
    chosen = path("d0.tvkm");
    files(1);
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

// The definitions before a syntax error open; the first save keeps the file
// as it was beside it and the log says so.
TEST_F(DocCommands, DocumentWithASyntaxErrorIsKeptAtTheFirstSave) {
    writeLine();
    const QByteArray broken = QByteArray(kDocument) + "junk\r\n'Lost'\r\nBegin List\r\ns1f4\r\nEnd List\r\n";
    write(path("bad.tvkm"), broken);
    begin(doc());
    ASSERT_TRUE(docs->OpenFile(path("bad.tvkm")));
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Syntax error")});
    EXPECT_EQ(details, QStringList{QStringLiteral("bad.tvkm, line 7\n(7) parse error\nLast token was \"j\"")});
    ASSERT_TRUE(docs->Save());
    EXPECT_EQ(read(path("bad.tvkm.bak")), broken);
    EXPECT_FALSE(read(path("bad.tvkm")).contains("Lost"));
    EXPECT_TRUE(app->View().EventLog().Lines().contains(QStringLiteral("The file as it was before the save is kept as ") +
                                                         path("bad.tvkm.bak") +
                                                         QStringLiteral(" (it had a syntax error).")));
}

} // namespace
} // namespace tovik::test
