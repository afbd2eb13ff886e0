#pragma once
// The File menu's document commands: New, Open, Save, Save As, the recent
// files and a document dropped on the window, each asking "Save changes?"
// first where a modified document would be lost. What a person must answer
// (the question, the file dialogs) comes through CHDocPrompts, so the
// commands run the same with real dialogs in the frame and with answers
// given by a test. The document's own boxes go through its handler.
#include "CHRecentFileList.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace tovik {

class CTovikarDoc;

struct CHDocPrompts {
    enum class Answer { Yes, No, Cancel };
    // "Save changes to NAME?"
    std::function<Answer(const QString& text)> askSave;
    // The Open dialog (save false) or the Save As dialog, starting at start;
    // an empty path when the person cancelled.
    std::function<QString(bool save, const QString& start)> chooseFile;
};

class CHDocCommands : public QObject {
    Q_OBJECT
public:
    CHDocCommands(CTovikarDoc& doc, CHDocPrompts prompts, QObject* parent = nullptr);

    // Asks to save a modified document; false when the person cancelled (or
    // the save failed) and the current document must stay.
    bool SaveModified();
    bool New();
    // Open... : the dialog, then OpenFile.
    bool Open();
    // Opens path after SaveModified; on success it joins the recent files.
    bool OpenFile(const QString& path);
    // Save As when the document has no path yet.
    bool Save();
    // A name without an extension gets ".tvkm".
    bool SaveAs();
    // Entry index of the recent files; one that cannot be opened leaves the
    // list, unless only the save question was cancelled.
    bool OpenRecent(int index);

    // The document a drop of these URLs would open: the first local .tvkm
    // file, or empty.
    static QString DroppedDocument(const QList<QUrl>& urls);
    // Takes a drop: true when it holds a document, which is then opened from
    // the event loop, so a save question or an error box does not run inside
    // the drag and drop loop.
    bool Drop(const QList<QUrl>& urls);

    CHRecentFileList& RecentFiles() { return m_recent; }
    // Tests answer in place of the frame's dialogs.
    void SetPrompts(CHDocPrompts prompts) { m_prompts = std::move(prompts); }

Q_SIGNALS:
    void recentFilesChanged();

private:
    void addRecent(const QString& path);

    CTovikarDoc& m_doc;
    CHDocPrompts m_prompts;
    CHRecentFileList m_recent;
};

} // namespace tovik
