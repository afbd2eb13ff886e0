#pragma once
// The pane shown for the SECS-I line: device, speed, master or slave and the
// line state. It only reads the driver; it knows nothing of the view.
#include <QWidget>

class CVeltSecsI;
class QLabel;

class CVeltSecsIPanel : public QWidget {
    Q_OBJECT
public:
    explicit CVeltSecsIPanel(CVeltSecsI* driver, QWidget* parent = nullptr);

    // Re-reads the driver's settings (they change while the port is closed).
    void Refresh();

    QString DeviceText() const;
    QString SpeedText() const;
    QString ModeText() const;
    QString StateText() const;

private:
    CVeltSecsI* m_driver; // not owned; cleared when it goes
    QLabel* m_device;
    QLabel* m_speed;
    QLabel* m_mode;
    QLabel* m_state;
};
