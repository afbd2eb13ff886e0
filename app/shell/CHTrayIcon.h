#pragma once
// The notification-area icon: shows whether the ports are switched on; a
// left click brings the main window back, a right click hides it there.
// Without a notification area nothing is shown and hiding only minimises,
// so the window can always be found again.
#include <QObject>
#include <QSystemTrayIcon>

namespace tovik {

class CHTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit CHTrayIcon(QWidget* window);

    // 0 adds, 1 changes, 2 removes the icon; connected picks the picture.
    void Update(int action, bool connected);
    // What a right click does: minimise, then hide when the icon can bring
    // the window back.
    void HideWindow();
    void RestoreWindow();

    bool IsShown() const { return m_icon.isVisible(); }
    bool ShowsConnected() const { return m_connected; }
    QString ToolTip() const { return m_icon.toolTip(); }
    static bool Available();

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    QWidget* m_window;
    QSystemTrayIcon m_icon;
    bool m_connected = false;
};

} // namespace tovik
