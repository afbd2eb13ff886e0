#include "CHKeyIndicators.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QStatusBar>

namespace tovik {

namespace {

const char* const kTexts[3] = {"CAP", "NUM", "SCRL"};

CHKeyIndicators::Reader& reader() {
    static CHKeyIndicators::Reader r;
    return r;
}


// The kernel's keyboard LEDs (input3::capslock and the like); any keyboard
// that shows the lock counts.
bool readLeds(CHLockKeys& keys) {
    const QDir leds(QStringLiteral("/sys/class/leds"));
    if (!leds.exists())
        return false;
    bool any = false;
    const auto on = [&](const char* suffix) {
        bool lit = false;
        const QStringList names = leds.entryList({QStringLiteral("*::") + QLatin1String(suffix)}, QDir::Dirs);
        for (const QString& name : names) {
            QFile f(leds.filePath(name + QStringLiteral("/brightness")));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            any = true;
            lit = lit || f.readAll().trimmed().toInt() > 0;
        }
        return lit;
    };
    keys = {on("capslock"), on("numlock"), on("scrolllock")};
    return any;
}

} // namespace

CHKeyIndicators::CHKeyIndicators(QStatusBar& bar) : QObject(&bar) {
    for (std::size_t i = 0; i < m_panes.size(); ++i) {
        auto* pane = new QLabel(&bar);
        const QString text = QLatin1String(kTexts[i]);
        pane->setObjectName(text);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        const int margin = 2 * (pane->frameWidth() + pane->fontMetrics().averageCharWidth());
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(text) + margin);
        bar.addPermanentWidget(pane);
        m_panes[i] = pane;
    }
    QCoreApplication::instance()->installEventFilter(this);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &CHKeyIndicators::Update);
    m_poll.start();
    Update();
}

CHKeyIndicators::~CHKeyIndicators() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

CHLockKeys CHKeyIndicators::ReadLockKeys() {
    if (reader())
        return reader()();
    CHLockKeys keys;
#ifdef TOVIK_HAVE_X11
    if (ReadX11LockKeys(keys))
        return keys;
#endif
    if (readLeds(keys))
        return keys;
    return {};
}

CHKeyIndicators::Reader CHKeyIndicators::SetReader(Reader r) {
    Reader old = std::move(reader());
    reader() = std::move(r);
    return old;
}

void CHKeyIndicators::Update() {
    const CHLockKeys keys = ReadLockKeys();
    const bool on[3] = {keys.caps, keys.num, keys.scroll};
    for (std::size_t i = 0; i < m_panes.size(); ++i) {
        const QString text = on[i] ? QString(QLatin1String(kTexts[i])) : QString();
        if (m_panes[i]->text() != text)
            m_panes[i]->setText(text);
    }
}

bool CHKeyIndicators::eventFilter(QObject* watched, QEvent* event) {
    // The lock has changed by the time its key is released; one update for
    // each key event that reaches a window of ours.
    if ((event->type() == QEvent::KeyRelease || event->type() == QEvent::KeyPress) && watched->isWindowType())
        QMetaObject::invokeMethod(this, &CHKeyIndicators::Update, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

} // namespace tovik
