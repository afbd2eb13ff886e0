// What the script learns of its surroundings beyond messages: the files
// beside its document (a name is taken relative to the document's folder,
// and one that leads out of it, absolute, "..", a link to elsewhere, is
// refused; tovik.readJson reads, tovik.files also writes, removes and
// lists), and when the HSMS link is selected.
#include "CHScriptHost.h"

#include "CHScriptEngine.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tovik {

QString CHScriptHost::readText(const QString& name) {
    const QString file = existingInside(name, "tovik.readJson");
    if (file.isEmpty())
        return {};
    QFile in(file);
    if (!QFileInfo(file).isFile() || !in.open(QIODevice::ReadOnly)) {
        m_js.throwError(QStringLiteral("tovik.readJson: %1: cannot read the file").arg(name));
        return {};
    }
    const QByteArray content = in.readAll();
    m_owner.NoteDataFile(file, content);
    return QString::fromUtf8(content);
}

QString CHScriptHost::documentFolder() const {
    const QString path = m_view.Document().GetPathName();
    return (path.isEmpty() ? QDir::current() : QFileInfo(path).absoluteDir()).canonicalPath();
}

QString CHScriptHost::existingInside(const QString& name, const char* what) {
    const QString root = documentFolder();
    const QString file = QFileInfo(QDir(root).absoluteFilePath(name)).canonicalFilePath();
    if (name.isEmpty() || QDir::isAbsolutePath(name) || root.isEmpty() || file.isEmpty() ||
        !file.startsWith(root + QLatin1Char('/'))) {
        m_js.throwError(QStringLiteral("%1: %2: not a file in the document's folder")
                            .arg(QLatin1String(what), name));
        return {};
    }
    return file;
}

QString CHScriptHost::readBytes(const QString& name) {
    const QString file = existingInside(name, "tovik.files.read");
    if (file.isEmpty())
        return {};
    QFile in(file);
    if (!QFileInfo(file).isFile() || !in.open(QIODevice::ReadOnly)) {
        m_js.throwError(QStringLiteral("tovik.files.read: %1: cannot read the file").arg(name));
        return {};
    }
    return QString::fromLatin1(in.readAll().toHex());
}

void CHScriptHost::writeBytes(const QString& name, const QString& hex) {
    const QString root = documentFolder();
    const QString clean = QDir::cleanPath(name);
    const auto refuse = [&](const char* why) {
        m_js.throwError(QStringLiteral("tovik.files.write: %1: %2").arg(name, QLatin1String(why)));
    };
    if (name.isEmpty() || root.isEmpty() || QDir::isAbsolutePath(clean) || clean == QLatin1String("..") ||
        clean.startsWith(QLatin1String("../")))
        return refuse("not a file in the document's folder");
    const QFileInfo target(root + QLatin1Char('/') + clean);
    // The nearest folder that exists decides where a new one would go: a
    // link to elsewhere on the way is refused before anything is made.
    QFileInfo base(target.absolutePath());
    while (!base.exists())
        base = QFileInfo(base.absolutePath());
    const QString baseReal = base.canonicalFilePath();
    if (target.isSymLink() || target.isDir() ||
        (baseReal != root && !baseReal.startsWith(root + QLatin1Char('/'))))
        return refuse("not a file in the document's folder");
    QFile out(target.absoluteFilePath());
    if (!QDir().mkpath(target.absolutePath()) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(QByteArray::fromHex(hex.toLatin1())) < 0)
        return refuse("cannot write the file");
}

bool CHScriptHost::removeFile(const QString& name) {
    const QString file = existingInside(name, "tovik.files.remove");
    return !file.isEmpty() && QFileInfo(file).isFile() && QFile::remove(file);
}

QStringList CHScriptHost::listFiles(const QString& folder) {
    const QString root = documentFolder();
    const QString real = QFileInfo(QDir(root).absoluteFilePath(folder)).canonicalFilePath();
    if (QDir::isAbsolutePath(folder) || root.isEmpty() ||
        (real != root && !real.startsWith(root + QLatin1Char('/'))))
        return {}; // missing, or somewhere else
    return QDir(real).entryList(QDir::Files, QDir::Name);
}

void CHScriptHost::tellChange(QJSValue& fn, bool& told, bool on, const char* what) {
    if (on == told)
        return;
    told = on;
    CTovikarView::LogBatch batch(m_view);
    CHScriptEngine::Entry entry(m_owner, what);
    fn.call({QJSValue(on)});
}

void CHScriptHost::watchSelect(const QJSValue& selected) {
    if (m_selected.isCallable())
        return;
    m_selected = selected;
    // Queued: the state changes in the middle of a send, while the working
    // codec still serves the receive path.
    const auto changed = [this](int state) {
        tellChange(m_selected, m_wasSelected, state == CVeltHsms::Selected, "a select handler");
    };
    connect(&m_view.Hsms(), &CVeltHsms::StateChanged, this, changed, Qt::QueuedConnection);
    // A script loaded again while the link is up hears of it too.
    const int now = m_view.Hsms().GetState();
    m_wasSelected = false;
    if (now == CVeltHsms::Selected)
        QMetaObject::invokeMethod(this, [changed, now] { changed(now); }, Qt::QueuedConnection);
}

} // namespace tovik
