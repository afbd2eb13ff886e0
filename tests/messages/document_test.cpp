// The document over real files: open, save, the hooks the settings code
// listens to, the "Syntax error" box, and the lookups of the exchange engine.
#include "../common/files.h"
#include "CVeltSecsII.h"
#include "CTovikarDoc.h"
#include "MsgFileFormat.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tovik;

namespace {

const QString kExamples = QStringLiteral(TOVIK_EXAMPLES_DIR);

std::string readAll(const QString& p) {
    return test::readFile(p.toStdString());
}

void writeAll(const QString& p, const std::string& bytes) {
    ASSERT_TRUE(test::writeFile(p.toStdString(), bytes)) << p.toStdString();
}

std::unique_ptr<CHOneMsg> makeMsg(std::string name, std::string sml) {
    auto msg = std::make_unique<CHOneMsg>();
    msg->m_strName = std::move(name);
    msg->m_strText = std::move(sml);
    return msg;
}

// A document whose message boxes are collected instead of shown.
struct Doc {
    CTovikarDoc doc;
    QStringList boxes, details;
    Doc() {
        doc.SetMessageBoxHandler([this](const QString& text, const QString& detail) {
            boxes << text;
            details << detail;
        });
    }
};

} // namespace

TEST(DocumentOpen, ExampleOpensDecodesAndAnswersLookups) {
    Doc d;
    QSignalSpy opened(&d.doc, &CTovikarDoc::documentOpened);
    QSignalSpy changed(&d.doc, &CTovikarDoc::listChanged);
    const QString path = kExamples + QStringLiteral("/equipment.tvkm");
    ASSERT_TRUE(d.doc.OnOpenDocument(path));
    EXPECT_TRUE(d.boxes.isEmpty());
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toString(), path);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(d.doc.GetTitle(), QStringLiteral("equipment.tvkm"));
    EXPECT_FALSE(d.doc.IsModified());
    EXPECT_TRUE(d.doc.m_bRefreshList);
    ASSERT_EQ(d.doc.m_msgList.size(), 12u);

    // Until the view decodes them, fresh records match nothing.
    std::vector<CHOneMsg*> found;
    EXPECT_EQ(d.doc.FindByStreamFunction(1, 2, found), 0);

    CVeltSecsII scratch;
    d.doc.AddMessage(makeMsg("second S1F2", "s1f2{}"));
    d.doc.DecodeStreamFunctions(scratch);
    EXPECT_FALSE(d.doc.m_bRefreshList);
    // All matches in list order, appended to what the caller's list held.
    found = {nullptr};
    ASSERT_EQ(d.doc.FindByStreamFunction(1, 2, found), 2);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[1]->m_strName, "S1F2 On Line Data");
    EXPECT_EQ(found[2]->m_strName, "second S1F2");
    found.clear();
    ASSERT_EQ(d.doc.FindByStreamFunction(10, 2, found), 1);
    EXPECT_FALSE(found[0]->m_bStructure);
    EXPECT_EQ(d.doc.FindByName("S6F12 Event Report Ack")->m_nFunction, 12);
}

// A syntax error shows one box saying where. Saving what loaded before it
// would lose the rest of the file: the first save keeps the file as it was, once.
TEST(DocumentSave, FirstSaveOverAFileWithASyntaxErrorKeepsTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("broken.tvkm"));
    const QString bak = path + QStringLiteral(".bak");
    const std::string broken = "'a'\r\nBegin List\r\ns1f1w\r\nEnd List\r\njunk\r\n'b'\r\nBegin List\r\ns1f3w\r\nEnd List\r\n";
    writeAll(path, broken);
    writeAll(bak, "an older backup");
    Doc d;
    QSignalSpy kept(&d.doc, &CTovikarDoc::backupKept);
    QSignalSpy opened(&d.doc, &CTovikarDoc::documentOpened);
    ASSERT_TRUE(d.doc.OnOpenDocument(path)) << "the document still opens";
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(d.boxes, QStringList{QStringLiteral("Syntax error")});
    EXPECT_EQ(d.details, QStringList{QStringLiteral("broken.tvkm, line 5\n(5) parse error\nLast token was \"j\"")});
    ASSERT_TRUE(d.doc.OnSaveDocument(path));
    EXPECT_EQ(readAll(bak), broken);
    EXPECT_EQ(readAll(path), StoreMsgFile(d.doc.m_msgList));
    ASSERT_EQ(kept.count(), 1);
    EXPECT_EQ(kept.at(0).at(1).toString(), bak);
    // Later saves replace only the document.
    d.doc.m_msgList.push_back(makeMsg("c", "s1f5w"));
    ASSERT_TRUE(d.doc.OnSaveDocument(path));
    EXPECT_EQ(readAll(bak), broken);
    EXPECT_EQ(kept.count(), 1);
    // A file that loads cleanly gets no backup.
    const QString good = dir.filePath(QStringLiteral("good.tvkm"));
    ASSERT_TRUE(d.doc.OnSaveDocument(good));
    ASSERT_TRUE(d.doc.OnOpenDocument(good));
    ASSERT_TRUE(d.doc.OnSaveDocument(good));
    EXPECT_FALSE(QFile::exists(good + QStringLiteral(".bak")));
}

TEST(DocumentSave, WritesTheStoredFormRunsTheHooksInOrderOrReportsAFailure) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.tvkm"));
    Doc d;
    d.doc.OnNewDocument();
    d.doc.AddMessage(makeMsg("S1F1", "s1f1w\r\n"));
    d.doc.SetModifiedFlag();
    QStringList events;
    QObject::connect(&d.doc, &CTovikarDoc::aboutToSave, [&](const QString& p) {
        // The settings hook runs before the file is written.
        events << QStringLiteral("about:") + p + (QFile::exists(p) ? QStringLiteral(":exists") : QString());
    });
    QObject::connect(&d.doc, &CTovikarDoc::documentSaved,
                     [&](const QString& p) { events << QStringLiteral("saved:") + p; });
    ASSERT_TRUE(d.doc.OnSaveDocument(path));
    EXPECT_EQ(events, (QStringList{QStringLiteral("about:") + path, QStringLiteral("saved:") + path}));
    EXPECT_FALSE(d.doc.IsModified());
    EXPECT_EQ(d.doc.GetTitle(), QStringLiteral("line.tvkm"));
    EXPECT_EQ(readAll(path), StoreMsgFile(d.doc.m_msgList));

    Doc again;
    ASSERT_TRUE(again.doc.OnOpenDocument(path));
    ASSERT_EQ(again.doc.m_msgList.size(), 1u);
    EXPECT_EQ(again.doc.m_msgList[0]->m_strName, "S1F1");

    // A failed write is reported and changes nothing; a folder that is a file
    // refuses even root. (The old file kept byte for byte: interrupted-save test.)
    d.doc.SetModifiedFlag();
    const QString notAFolder = dir.filePath(QStringLiteral("file"));
    writeAll(notAFolder, "x");
    EXPECT_FALSE(d.doc.OnSaveDocument(notAFolder + QStringLiteral("/line.tvkm")));
    EXPECT_TRUE(d.doc.IsModified());
    EXPECT_EQ(events.size(), 3) << "no second documentSaved";
    ASSERT_EQ(d.boxes.size(), 1);
    EXPECT_TRUE(d.boxes[0].startsWith(QStringLiteral("Cannot save ") + notAFolder)) << d.boxes[0].toStdString();
    EXPECT_EQ(d.doc.GetPathName(), path);
}

TEST(DocumentLookups, DuplicateNamesResolveToTheFirstInFileOrder) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dup.tvkm"));
    writeAll(path, "'a'\nBegin List\ns1f1w\nEnd List\n'A'\nBegin List\ns1f3w\nEnd List\n"
                   "'a'\nBegin List\ns1f13w\nEnd List\n");
    Doc d;
    ASSERT_TRUE(d.doc.OnOpenDocument(path));
    EXPECT_EQ(d.doc.FindByName("a")->m_strText, "s1f1w\r\n");
    EXPECT_EQ(d.doc.FindByName("A")->m_strText, "s1f3w\r\n") << "names compare case-sensitively";
    EXPECT_EQ(d.doc.FindByName("b"), nullptr);

    QSignalSpy changed(&d.doc, &CTovikarDoc::listChanged);
    EXPECT_EQ(d.doc.RemoveByName("b"), nullptr);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(d.doc.RemoveByName("a")->m_strText, "s1f1w\r\n");
    EXPECT_EQ(d.doc.RemoveByName("a")->m_strText, "s1f13w\r\n");
    ASSERT_EQ(d.doc.m_msgList.size(), 1u);
    EXPECT_EQ(d.doc.m_msgList[0]->m_strName, "A");
    EXPECT_EQ(changed.count(), 2);
}

TEST(DocumentLifecycle, NewAndCloseEmptyTheListAFailedOpenDoesNot) {
    Doc d;
    ASSERT_TRUE(d.doc.OnOpenDocument(kExamples + QStringLiteral("/equipment.tvkm")));
    d.doc.SetModifiedFlag();
    QSignalSpy modified(&d.doc, &CTovikarDoc::modifiedChanged);
    ASSERT_TRUE(d.doc.OnNewDocument());
    EXPECT_TRUE(d.doc.m_msgList.empty());
    EXPECT_TRUE(d.doc.m_bRefreshList);
    EXPECT_FALSE(d.doc.IsModified());
    EXPECT_EQ(modified.count(), 1);
    EXPECT_EQ(d.doc.GetTitle(), QStringLiteral("Untitled"));
    EXPECT_TRUE(d.doc.GetPathName().isEmpty());

    ASSERT_TRUE(d.doc.OnOpenDocument(kExamples + QStringLiteral("/host.tvkm")));
    // A file that cannot be read leaves the document as it was.
    EXPECT_FALSE(d.doc.OnOpenDocument(kExamples + QStringLiteral("/no such file.tvkm")));
    EXPECT_EQ(d.boxes.size(), 1);
    EXPECT_EQ(d.doc.m_msgList.size(), 12u);
    EXPECT_EQ(d.doc.GetTitle(), QStringLiteral("host.tvkm"));
    d.doc.OnCloseDocument();
    EXPECT_TRUE(d.doc.m_msgList.empty());
    EXPECT_TRUE(d.doc.GetPathName().isEmpty());
}
