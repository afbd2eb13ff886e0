#include "CHTrayIcon.h"

#include <QIcon>
#include <QWidget>

namespace tovik {

CHTrayIcon::CHTrayIcon(QWidget* window) : QObject(window), m_window(window) {
    m_icon.setToolTip(QStringLiteral("Simbay"));
    m_icon.setIcon(QIcon(QStringLiteral(":/shell/icons/tray_disconnected.svg")));
    connect(&m_icon, &QSystemTrayIcon::activated, this, &CHTrayIcon::onActivated);
}

bool CHTrayIcon::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CHTrayIcon::Update(int action, bool connected) {
    m_connected = connected;
    m_icon.setIcon(QIcon(connected ? QStringLiteral(":/shell/icons/tray_connected.svg")
                                   : QStringLiteral(":/shell/icons/tray_disconnected.svg")));
    if (action == 0 && Available())
        m_icon.show();
    else if (action == 2)
        m_icon.hide();
}

void CHTrayIcon::HideWindow() {
    m_window->showMinimized();
    if (m_icon.isVisible())
        m_window->hide();
}

void CHTrayIcon::RestoreWindow() {
    m_window->showNormal();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void CHTrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        RestoreWindow();
        break;
    case QSystemTrayIcon::Context:
        HideWindow();
        break;
    default:
        break;
    }
}

} // namespace tovik
