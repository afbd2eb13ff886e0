// The headless program's reload (SIGHUP under a service manager).
#include "CHAppInstance.h"

#include "CTovikarApp.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

namespace tovik {

void CHAppInstance::Reload() {
    CTovikarView::LogBatch batch(*m_view);
    // A file that cannot be read is reported and leaves the definitions as
    // they were; a syntax error keeps those before it, as at start-up.
    const QString path = m_doc->GetPathName();
    if (!path.isEmpty())
        m_doc->OnOpenDocument(path);
    // Decoded now, so a host that speaks at once gets the new replies.
    m_view->RefreshMessageList();
    m_app->LoadSettings();
    m_view->ReloadSettings(m_app->settings());
    m_view->AddText(QStringLiteral("Reloaded the document and the settings."));
}

} // namespace tovik
