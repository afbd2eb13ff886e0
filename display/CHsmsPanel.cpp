#include "CHsmsPanel.h"

#include "CVeltHsms.h"

#include <QFormLayout>
#include <QLabel>

CHsmsPanel::CHsmsPanel(QWidget* parent)
    : QWidget(parent), m_mode(new QLabel(this)), m_endpoint(new QLabel(this)),
      m_state(new QLabel(this)), m_hosts(new QLabel(this)), m_last(new QLabel(this)) {
    auto* layout = new QFormLayout(this);
    // Five rows and an address with its port in a small pane: narrow margins.
    layout->setVerticalSpacing(0);
    layout->setHorizontalSpacing(4);
    layout->setContentsMargins(4, 2, 4, 2);
    // The pane is small: long values are cut on the right (the whole text is
    // in the tool tip) rather than squeezing the captions.
    for (QLabel* value : {m_mode, m_endpoint, m_state, m_hosts, m_last})
        value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addRow(QStringLiteral("Mode:"), m_mode);
    layout->addRow(QStringLiteral("Endpoint:"), m_endpoint);
    layout->addRow(QStringLiteral("State:"), m_state);
    layout->addRow(QStringLiteral("Hosts:"), m_hosts);
    layout->addRow(QStringLiteral("Last:"), m_last);
    Refresh();
}

void CHsmsPanel::SetDriver(CVeltHsms* driver) {
    if (m_driver)
        m_driver->disconnect(this);
    m_driver = driver;
    if (driver) {
        connect(driver, &CVeltHsms::StateChanged, this, &CHsmsPanel::Refresh);
        // Raised when a host comes or goes and when another host speaks, not
        // for every message.
        connect(driver, &CVeltHsms::ClientsChanged, this, &CHsmsPanel::Refresh);
    }
    Refresh();
}

QString CHsmsPanel::ModeText() const {
    const CVeltHsms* d = m_driver.data();
    if (!d)
        return QString();
    return d->GetServerMode() ? QStringLiteral("Passive")
                              : QStringLiteral("Active");
}

QString CHsmsPanel::EndpointText() const {
    const CVeltHsms* d = m_driver.data();
    if (!d)
        return QString();
    if (d->GetServerMode()) {
        const int port = d->GetListeningPort() ? d->GetListeningPort() : d->GetLocalPort();
        return QStringLiteral("port %1").arg(port);
    }
    return QStringLiteral("%1(%2)").arg(d->GetRemoteAddress()).arg(d->GetRemotePort());
}

QString CHsmsPanel::StateText() const {
    const CVeltHsms* d = m_driver.data();
    if (!d)
        return QStringLiteral("No driver");
    switch (d->GetState()) {
    case CVeltHsms::Closed:
        return QStringLiteral("Closed");
    case CVeltHsms::Listening:
        return QStringLiteral("Listening");
    case CVeltHsms::Connected:
        return QStringLiteral("Connected, not selected");
    case CVeltHsms::Selected:
        return QStringLiteral("Selected");
    }
    return QString();
}

QString CHsmsPanel::HostsText() const {
    const CVeltHsms* d = m_driver.data();
    if (!d || !d->GetServerMode())
        return QString();
    return QStringLiteral("%1 connected").arg(d->GetClientCount());
}

QString CHsmsPanel::LastSpeakerText() const {
    const CVeltHsms* d = m_driver.data();
    return d && d->GetServerMode() ? d->GetLastSpeaker() : QString();
}

void CHsmsPanel::Refresh() {
    m_mode->setText(ModeText());
    m_endpoint->setText(EndpointText());
    m_state->setText(StateText());
    m_hosts->setText(HostsText());
    m_last->setText(LastSpeakerText());
    for (QLabel* value : {m_mode, m_endpoint, m_state, m_hosts, m_last})
        value->setToolTip(value->text());
}
