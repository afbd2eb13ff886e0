#pragma once
// The document: the user's message definitions with a path, a title and a
// modified flag, and new/open/save/close. The frame asks before discarding
// changes (IsModified); the view rebuilds its list on listChanged or when
// m_bRefreshList is set.
#include "CHOneMsg.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tovik {

class CVeltSecsII;

class CTovikarDoc : public QObject {
    Q_OBJECT
public:
    explicit CTovikarDoc(QObject* parent = nullptr);
    ~CTovikarDoc() override;

    // Empties the list; the document gets no path and the title "Untitled".
    bool OnNewDocument();
    // Reads the file (at most 1,048,575 bytes) into the list. A syntax error
    // shows "Syntax error" (with the file, the line and the parser's message
    // as its detail) and still opens the document with the definitions
    // before the error. False (list unchanged) when the file cannot be read.
    bool OnOpenDocument(const QString& path);
    // Writes through a temporary file renamed over the old one, so a failed
    // write leaves the old file intact; then the document keeps its modified
    // flag and false is returned. The first save over a file that loaded
    // with a syntax error keeps that file as NAME.bak (backupKept).
    bool OnSaveDocument(const QString& path);
    // Empties the list and forgets the path.
    void OnCloseDocument();

    // The line of the syntax error that cut the open document short, until a
    // save kept the file it came from; 0 when it loaded whole.
    int TruncatedAt() const { return m_truncatedPath.isEmpty() ? 0 : m_truncatedLine; }
    QString GetPathName() const { return m_path; }
    QString GetTitle() const { return m_title; }
    bool IsModified() const { return m_modified; }
    void SetModifiedFlag(bool modified = true);

    // Lookups walk the list from head to tail; names compare exactly.
    CHOneMsg* FindByName(const std::string& name) const;
    // Unlinks the first record of that name; the caller owns it.
    std::unique_ptr<CHOneMsg> RemoveByName(const std::string& name);
    // Appends every record of that stream and function to `found` (which
    // owns nothing); returns how many were appended.
    int FindByStreamFunction(uint16_t stream, uint16_t function, std::vector<CHOneMsg*>& found) const;
    // Appends at the tail; editing commands mark the document modified.
    void AddMessage(std::unique_ptr<CHOneMsg> msg);
    // Records changed from outside the window (the control API): the
    // document is modified and its list is rebuilt as after an open.
    void NoteEdited() {
        SetModifiedFlag(true);
        listReplaced();
    }

    // Decodes every record's stream and function through the scratch codec
    // and clears m_bRefreshList (what the view does when it rebuilds).
    void DecodeStreamFunctions(CVeltSecsII& scratch);

    // Every message box of the document goes through here. Without a handler
    // the text goes to the Qt warning log, so nothing blocks when headless.
    using MessageBoxHandler = std::function<void(const QString& text, const QString& detail)>;
    void SetMessageBoxHandler(MessageBoxHandler handler) { m_messageBox = std::move(handler); }
    virtual void ShowMessageBox(const QString& text, const QString& detail = {});

    CHOneMsgList m_msgList;
    bool m_bRefreshList = false;

Q_SIGNALS:
    // The list was replaced or a record was added or removed.
    void listChanged();
    void modifiedChanged(bool modified);
    void titleChanged(const QString& title);
    // After a successful open (the last-document record hooks on here).
    void documentOpened(const QString& path);
    // Before the file is written (the settings beside the document are
    // written from here), then after a successful write.
    void aboutToSave(const QString& path);
    void documentSaved(const QString& path);
    // The file that loaded with a syntax error was kept under this name
    // before the shortened document replaced it.
    void backupKept(const QString& path, const QString& backupPath);

private:
    void setPath(const QString& path);
    void listReplaced();

    QString m_path;
    // The file that loaded with a syntax error, until a save has kept it.
    QString m_truncatedPath;
    int m_truncatedLine = 0;
    QString m_title;
    bool m_modified = false;
    MessageBoxHandler m_messageBox;
};

} // namespace tovik
