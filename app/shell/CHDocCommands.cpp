#include "CHDocCommands.h"

#include "CTovikarDoc.h"

#include <QFileInfo>
#include <QMetaObject>

namespace tovik {

CHDocCommands::CHDocCommands(CTovikarDoc& doc, CHDocPrompts prompts, QObject* parent)
    : QObject(parent), m_doc(doc), m_prompts(std::move(prompts)) {
    connect(&doc, &CTovikarDoc::documentOpened, this, &CHDocCommands::addRecent);
    connect(&doc, &CTovikarDoc::documentSaved, this, &CHDocCommands::addRecent);
}

void CHDocCommands::addRecent(const QString& path) {
    m_recent.Add(path);
    Q_EMIT recentFilesChanged();
}

bool CHDocCommands::SaveModified() {
    if (!m_doc.IsModified())
        return true;
    const QString name = m_doc.GetPathName().isEmpty() ? m_doc.GetTitle() : m_doc.GetPathName();
    switch (m_prompts.askSave(QStringLiteral("Save changes to %1?").arg(name))) {
    case CHDocPrompts::Answer::Yes:
        return Save();
    case CHDocPrompts::Answer::No:
        return true;
    default:
        return false;
    }
}

bool CHDocCommands::New() {
    return SaveModified() && m_doc.OnNewDocument();
}

bool CHDocCommands::Open() {
    const QString path = m_prompts.chooseFile(false, QFileInfo(m_doc.GetPathName()).path());
    return !path.isEmpty() && OpenFile(path);
}

bool CHDocCommands::OpenFile(const QString& path) {
    return SaveModified() && m_doc.OnOpenDocument(path); // the recent files follow documentOpened
}

bool CHDocCommands::Save() {
    if (m_doc.GetPathName().isEmpty())
        return SaveAs();
    return m_doc.OnSaveDocument(m_doc.GetPathName());
}

bool CHDocCommands::SaveAs() {
    const QString current = m_doc.GetPathName();
    QString path = m_prompts.chooseFile(
        true, current.isEmpty() ? m_doc.GetTitle() + QStringLiteral(".tvkm") : current);
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".tvkm");
    return m_doc.OnSaveDocument(path);
}

bool CHDocCommands::OpenRecent(int index) {
    if (index < 0 || index >= m_recent.Files().size())
        return false;
    const QString path = m_recent.Files()[index];
    if (OpenFile(path))
        return true;
    if (!m_doc.IsModified()) {
        m_recent.Remove(m_recent.Files().indexOf(path));
        Q_EMIT recentFilesChanged();
    }
    return false;
}

QString CHDocCommands::DroppedDocument(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        if (url.isLocalFile() &&
            url.toLocalFile().endsWith(QStringLiteral(".tvkm"), Qt::CaseInsensitive))
            return url.toLocalFile();
    }
    return {};
}

bool CHDocCommands::Drop(const QList<QUrl>& urls) {
    const QString path = DroppedDocument(urls);
    if (path.isEmpty())
        return false;
    QMetaObject::invokeMethod(
        this, [this, path] { OpenFile(path); }, Qt::QueuedConnection);
    return true;
}

} // namespace tovik
