#pragma once
// The pane shown for the HSMS port: mode, endpoint and link state of one
// driver. It only reads the driver; it knows nothing of the view around it.
#include <QPointer>
#include <QWidget>

class CVeltHsms;
class QLabel;

class CHsmsPanel : public QWidget {
    Q_OBJECT
public:
    explicit CHsmsPanel(QWidget* parent = nullptr);

    void SetDriver(CVeltHsms* driver);
    // Re-reads the driver (after its settings were written).
    void Refresh();

    QString ModeText() const;
    QString EndpointText() const;
    QString StateText() const;

private:
    QPointer<CVeltHsms> m_driver;
    QLabel* m_mode;
    QLabel* m_endpoint;
    QLabel* m_state;
    QString m_peer;
};
