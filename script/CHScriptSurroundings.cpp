// What the script learns of its surroundings beyond messages: a read-only
// view of the files beside its document (a name is taken relative to the
// document's folder, and one that leads out of it, absolute, "..", a link to
// elsewhere, is refused), and when the HSMS link is selected.
#include "CHScriptHost.h"

#include "CHScriptEngine.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tovik {

QString CHScriptHost::readText(const QString& name) {
    const QString path = m_view.Document().GetPathName();
    const QDir folder = path.isEmpty() ? QDir::current() : QFileInfo(path).absoluteDir();
    const QString root = folder.canonicalPath();
    const QString file = QFileInfo(folder.absoluteFilePath(name)).canonicalFilePath();
    if (name.isEmpty() || QDir::isAbsolutePath(name) || root.isEmpty() || file.isEmpty() ||
        !file.startsWith(root + QLatin1Char('/'))) {
        m_js.throwError(QStringLiteral("tovik.readJson: %1: not a file in the document's folder").arg(name));
        return {};
    }
    QFile in(file);
    if (!QFileInfo(file).isFile() || !in.open(QIODevice::ReadOnly)) {
        m_js.throwError(QStringLiteral("tovik.readJson: %1: cannot read the file").arg(name));
        return {};
    }
    const QByteArray content = in.readAll();
    m_owner.NoteDataFile(file, content);
    return QString::fromUtf8(content);
}

void CHScriptHost::watchSelect(const QJSValue& selected) {
    if (m_selected.isCallable())
        return;
    m_selected = selected;
    // Queued: the state changes in the middle of a send, while the working
    // codec still serves the receive path.
    const auto changed = [this](int state) {
        const bool on = state == CVeltHsms::Selected;
        if (on == m_wasSelected)
            return;
        m_wasSelected = on;
        CTovikarView::LogBatch batch(m_view);
        CHScriptEngine::Entry entry(m_owner, "a select handler");
        m_selected.call({QJSValue(on)});
    };
    connect(&m_view.Hsms(), &CVeltHsms::StateChanged, this, changed, Qt::QueuedConnection);
    // A script loaded again while the link is up hears of it too.
    const int now = m_view.Hsms().GetState();
    m_wasSelected = false;
    if (now == CVeltHsms::Selected)
        QMetaObject::invokeMethod(this, [changed, now] { changed(now); }, Qt::QueuedConnection);
}

} // namespace tovik
