#pragma once
// The pane shown for the HSMS port: mode, endpoint, link state and, in
// passive mode, the hosts connected and the one that spoke last. It only
// reads the driver; it knows nothing of the view around it.
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
    QString HostsText() const;
    // The host that spoke last, to which Send Message and Disconnect go.
    QString LastSpeakerText() const;

private:
    QPointer<CVeltHsms> m_driver;
    QLabel* m_mode;
    QLabel* m_endpoint;
    QLabel* m_state;
    QLabel* m_hosts;
    QLabel* m_last;
};
