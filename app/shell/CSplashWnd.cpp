#include "CSplashWnd.h"

#include "tovik_version.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QSvgRenderer>

namespace tovik {

namespace {
bool g_enabled = false;
QPointer<CSplashWnd> g_splash;
bool g_closeByInput = false;

// Sees every event of the program while a splash shows.
class SplashInputFilter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        return CSplashWnd::PreTranslateAppMessage(event);
    }
};
SplashInputFilter* g_filter = nullptr;
} // namespace

void CSplashWnd::EnableSplashScreen(bool enable) {
    g_enabled = enable;
}

CSplashWnd* CSplashWnd::Current() {
    return g_splash.data();
}

void CSplashWnd::ShowSplashScreen(QWidget* parent) {
    if (!g_enabled || g_splash)
        return;
    auto* splash = new CSplashWnd(parent);
    g_splash = splash;
    g_closeByInput = true;
    if (!g_filter) {
        g_filter = new SplashInputFilter;
        g_filter->setParent(qApp);
        qApp->installEventFilter(g_filter);
    }
    splash->show();
    splash->repaint();
}

CSplashWnd::CSplashWnd(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_owner(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setCursor(Qt::ArrowCursor);
    const qreal dpr = devicePixelRatioF();
    m_picture = QPixmap(QSize(kWidth, kHeight) * dpr);
    m_picture.setDevicePixelRatio(dpr);
    m_picture.fill(Qt::transparent);
    {
        QPainter p(&m_picture);
        QSvgRenderer(QStringLiteral(":/shell/splash.svg"))
            .render(&p, QRectF(0, 0, kWidth, kHeight));
        QFont f = font();
        f.setPixelSize(12);
        p.setFont(f);
        p.setPen(QColor(0xcf, 0xe0, 0xf5));
        // The same version as the about box and --version: one for the program.
        const QString version = QStringLiteral("Version " TOVIK_VERSION_STRING);
        p.drawText(QRect(132, 118, 230, 24), Qt::AlignLeft | Qt::AlignVCenter, version);
        setAccessibleName(QStringLiteral("Tovik"));
        setAccessibleDescription(version); // what the picture shows, for screen readers
    }
    setFixedSize(kWidth, kHeight);

    // Centred over the owner when it shows already, otherwise on the screen.
    QRect over;
    if (m_owner && m_owner->isVisible())
        over = m_owner->frameGeometry();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        over = screen->availableGeometry();
    if (over.isValid())
        move(over.center() - QPoint(kWidth / 2, kHeight / 2));

    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CSplashWnd::HideSplashScreen);
    m_timer.start(kLifetimeMs);
}

CSplashWnd::~CSplashWnd() {
    // QWidget's destructor still sends events through the filter: by then
    // this is no longer a CSplashWnd, so nothing may reach it as one.
    g_closeByInput = false;
    if (g_splash.data() == this)
        g_splash = nullptr;
}

bool CSplashWnd::PreTranslateAppMessage(QEvent* event) {
    if (!g_closeByInput || !g_splash)
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Keep the key from firing a shortcut: it arrives as a key press next.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
        g_splash->HideSplashScreen();
        return true;
    default:
        return false;
    }
}

void CSplashWnd::HideSplashScreen() {
    g_closeByInput = false;
    g_splash = nullptr;
    QWidget* owner = m_owner;
    close(); // deletes this
    if (owner)
        owner->update();
}

void CSplashWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, m_picture);
}

} // namespace tovik
