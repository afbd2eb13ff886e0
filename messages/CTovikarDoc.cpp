#include "CTovikarDoc.h"

#include "MsgDecode.h"
#include "MsgFileFormat.h"

#include "qbytetext.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtDebug>

#include <algorithm>
#include <cstdio>

namespace tovik {

CTovikarDoc::CTovikarDoc(QObject* parent) : QObject(parent), m_title(QStringLiteral("Untitled")) {}

CTovikarDoc::~CTovikarDoc() = default;

void CTovikarDoc::ShowMessageBox(const QString& text, const QString& detail) {
    if (m_messageBox)
        m_messageBox(text, detail);
    else if (detail.isEmpty())
        qWarning().noquote() << text;
    else
        qWarning().noquote() << text + QStringLiteral(": ") + detail;
}

void CTovikarDoc::SetModifiedFlag(bool modified) {
    if (m_modified == modified)
        return;
    m_modified = modified;
    Q_EMIT modifiedChanged(modified);
}

void CTovikarDoc::setPath(const QString& path) {
    m_path = path;
    const QString title = path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path).fileName();
    if (title != m_title) {
        m_title = title;
        Q_EMIT titleChanged(m_title);
    }
}

void CTovikarDoc::listReplaced() {
    m_bRefreshList = true;
    Q_EMIT listChanged();
}

bool CTovikarDoc::OnNewDocument() {
    m_msgList.clear();
    m_truncatedPath.clear();
    setPath(QString());
    SetModifiedFlag(false);
    listReplaced();
    return true;
}

bool CTovikarDoc::OnOpenDocument(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowMessageBox(QStringLiteral("Cannot open %1: %2").arg(EscapedText(path), file.errorString()));
        return false;
    }
    const QByteArray bytes = file.read(static_cast<qint64>(kMsgFileReadLimit));
    if (file.error() != QFileDevice::NoError) {
        ShowMessageBox(QStringLiteral("Cannot read %1: %2").arg(EscapedText(path), file.errorString()));
        return false;
    }
    const MsgFileLoad load =
        LoadMsgFileText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), m_msgList);
    setPath(path);
    SetModifiedFlag(false);
    listReplaced();
    m_truncatedPath.clear();
    if (!load.parse.ok) {
        // The parser's own lines go where they always went: standard output.
        std::fputs(load.diagnostics.c_str(), stdout);
        std::fflush(stdout);
        // The document holds less than the file: a save must not lose the rest.
        m_truncatedPath = path;
        m_truncatedLine = load.parse.errorLine;
        ShowMessageBox(QStringLiteral("Syntax error"),
                       QStringLiteral("%1, line %2\n%3")
                           .arg(EscapedText(QFileInfo(path).fileName()), QString::number(load.parse.errorLine),
                                TextFromBytes(load.diagnostics).trimmed()));
    }
    Q_EMIT documentOpened(path);
    return true;
}

bool CTovikarDoc::OnSaveDocument(const QString& path) {
    QString backup;
    if (!m_truncatedPath.isEmpty() && QFileInfo::exists(path) &&
        QFileInfo(path).canonicalFilePath() == QFileInfo(m_truncatedPath).canonicalFilePath()) {
        backup = path + QStringLiteral(".bak");
        QFile::remove(backup);
        if (!QFile::copy(path, backup)) {
            ShowMessageBox(QStringLiteral("Cannot save %1: cannot keep the file as %2")
                               .arg(EscapedText(path), EscapedText(backup)));
            return false;
        }
    }
    Q_EMIT aboutToSave(path);
    const std::string text = StoreMsgFile(m_msgList);
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok)
        ok = file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
    // commit() can report success after its own final flush fell short (file
    // size limit, full disk) and then puts the truncated file in place of the
    // old one: flush first, while giving up still keeps the old file.
    if (ok)
        ok = file.flush();
    if (ok)
        ok = file.commit();
    else
        file.cancelWriting();
    if (!ok) {
        ShowMessageBox(QStringLiteral("Cannot save %1: %2").arg(EscapedText(path), file.errorString()));
        return false;
    }
    setPath(path);
    SetModifiedFlag(false);
    if (!backup.isEmpty()) {
        m_truncatedPath.clear();
        Q_EMIT backupKept(path, backup);
    }
    Q_EMIT documentSaved(path);
    return true;
}

void CTovikarDoc::OnCloseDocument() {
    m_msgList.clear();
    m_truncatedPath.clear();
    setPath(QString());
    SetModifiedFlag(false);
    listReplaced();
}

CHOneMsg* CTovikarDoc::FindByName(const std::string& name) const {
    for (const auto& msg : m_msgList) {
        if (msg->m_strName == name)
            return msg.get();
    }
    return nullptr;
}

std::unique_ptr<CHOneMsg> CTovikarDoc::RemoveByName(const std::string& name) {
    auto it = std::find_if(m_msgList.begin(), m_msgList.end(),
                           [&](const std::unique_ptr<CHOneMsg>& msg) { return msg->m_strName == name; });
    if (it == m_msgList.end())
        return nullptr;
    std::unique_ptr<CHOneMsg> msg = std::move(*it);
    m_msgList.erase(it);
    Q_EMIT listChanged();
    return msg;
}

int CTovikarDoc::FindByStreamFunction(uint16_t stream, uint16_t function, std::vector<CHOneMsg*>& found) const {
    int count = 0;
    for (const auto& msg : m_msgList) {
        if (msg->m_nStream == stream && msg->m_nFunction == function) {
            found.push_back(msg.get());
            ++count;
        }
    }
    return count;
}

void CTovikarDoc::AddMessage(std::unique_ptr<CHOneMsg> msg) {
    if (!msg)
        return;
    m_msgList.push_back(std::move(msg));
    Q_EMIT listChanged();
}

void CTovikarDoc::DecodeStreamFunctions(CVeltSecsII& scratch) {
    for (auto& msg : m_msgList)
        DecodeStreamFunction(*msg, scratch);
    m_bRefreshList = false;
}

} // namespace tovik
