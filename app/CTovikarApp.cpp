#include "CTovikarApp.h"

#include "messagebox.h"

namespace {
CTovikarApp* g_app = nullptr;
} // namespace

CTovikarApp::CTovikarApp(QString executablePath, QString userConfigDir)
    : m_file(std::move(executablePath), std::move(userConfigDir)) {}

bool CTovikarApp::SelectSettingsFile(const QString& documentPath) {
    if (m_file.Select(documentPath))
        return true;
    tovik::showMessageBox(QStringLiteral("Error : File path name is incorrect!"));
    return false;
}

bool CTovikarApp::OnDocumentOpened(const QString& path, bool opened) {
    if (opened)
        m_file.WriteMruDocument(path);
    return opened;
}

void CTovikarApp::OnDocumentSaving(const QString& path) {
    m_file.WriteMruDocument(path);
    SelectSettingsFile(path);
    SaveSettings();
}

QString CTovikarApp::logFilePath() const {
    if (!LogFileName.isEmpty())
        return LogFileName;
    const QString& file = m_file.fileName();
    if (file.size() < 3)
        return {};
    return file.chopped(3) + QStringLiteral("log");
}

std::optional<QString> CTovikarApp::WriteLog(const QString& text) {
    if (!EnableLog) {
        m_fileLog.close();
        return std::nullopt;
    }
    return m_fileLog.append(CHFileLog::Config{logFilePath(), LogFileSize, LogBakCount}, text);
}

CTovikarApp* theApp() {
    return g_app;
}
void setTheApp(CTovikarApp* app) {
    g_app = app;
}

bool OnDocumentOpened(const QString& path, bool opened) {
    if (CTovikarApp* app = theApp())
        return app->OnDocumentOpened(path, opened);
    return opened;
}

void OnDocumentSaving(const QString& path) {
    if (CTovikarApp* app = theApp())
        app->OnDocumentSaving(path);
}
