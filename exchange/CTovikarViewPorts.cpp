// Port lifecycle: the first initial update, Connect and Disconnect, opening
// and closing each port with the settings, and bridge mode.
#include "CTovikarView.h"

#include "CHEventLog.h"

namespace tovik {

void CTovikarView::OnInitialUpdate() {
    LogBatch batch(*this);
    if (!m_firstUpdate)
        return;
    UpdateTrayIcon(0);
    m_firstUpdate = false;
    if (m_settings.Hide)
        QMetaObject::invokeMethod(this, &CTovikarView::HideRequested, Qt::QueuedConnection);
    m_tickOrigin.start();
    m_tickIndex = 0;
    m_tickRan = 0;
    armNextTick();
    ShowActivePort();
    static const char* const banner[] = {
        "****************************************",
        "*   Tovika - A HSMS/SECS Simulator     *",
        "*   ver 0.01                           *",
        "*     on Feb,14th,2001                 *",
        "*                                      *",
        "*   ver 0.02                           *",
        "*     on May,23rd,2001                 *",
        "*                                      *",
        "*   ver 0.03                           *",
        "*     on Mar,5th,2002                  *",
        "*                                      *",
        "*   ver 2.50                           *",
        "*     on Nov,21st,2005                 *",
        "*                                      *",
        "****************************************",
        " ",
    };
    for (const char* line : banner)
        AddText(QString::fromLatin1(line));
    // Decode the definitions now rather than at the first tick, so a host
    // that speaks at once already gets the document's replies.
    RefreshMessageList();
    if (!m_connected)
        postCommand(ID_CONNECT);
}

void CTovikarView::ShowPortPanel(int tab) {
    m_activeTab = tab;
    Q_EMIT PortPanelShown(tab);
}

void CTovikarView::ShowActivePort() {
    switch (m_settings.Protocol) {
    case 0:
        ShowPortPanel(1);
        break;
    case 1:
    case 2:
    case 3:
        ShowPortPanel(0);
        break;
    default:
        break;
    }
}

void CTovikarView::UpdateTrayIcon(int action) { Q_EMIT TrayIconChanged(action, m_connected); }

void CTovikarView::OnConnect() {
    LogBatch batch(*this);
    m_connected = !m_connected;
    UpdateTrayIcon(1);
    SentPrimaries.RemoveAll();
    ReceivedPrimaries.RemoveAll();
    if (m_connected)
        ShowActivePort();
    m_working.SetProperty7(false);

    switch (m_settings.Protocol) {
    case 0:
        OpenHsmsPort(m_connected);
        if (m_upstream && m_connected)
            QMetaObject::invokeMethod(this, &CTovikarView::connectUpstream, Qt::QueuedConnection);
        else if (m_upstream)
            closeUpstream();
        break;
    case 1:
    case 2:
        OpenSecsPort(m_connected);
        break;
    case 3:
        // Both or neither: a bridge with one side down is no bridge.
        if (!OpenSecsPort(m_connected)) {
            m_connected = !m_connected;
            break;
        }
        if (!OpenHsmsPort(m_connected)) {
            m_connected = !m_connected;
            OpenSecsPort(m_connected);
        }
        break;
    default:
        break;
    }
    Q_EMIT CommandStatesChanged();
}

void CTovikarView::OnDisconnect() {
    m_hsms.DisconnectClient(m_hsms.GetRemoteAddress(), m_hsms.GetRemotePort());
}

bool CTovikarView::OpenHsmsPort(bool open) {
    if (!open) {
        // A connection that goes reports itself ("Disconnected with"); the
        // close text stands in for it only when there was none.
        const bool linked = m_hsms.GetState() == CVeltHsms::Connected ||
                            m_hsms.GetState() == CVeltHsms::Selected;
        m_hsms.SetPortOpen(false);
        if (m_hsms.GetServerMode())
            AddText(QStringLiteral("Closed HSMS port"));
        else if (!linked)
            AddText(QStringLiteral("Disconnected with %1(%2)")
                        .arg(m_hsms.GetRemoteAddress())
                        .arg(m_hsms.GetRemotePort()));
        return true;
    }
    const HsmsValues values = hsmsValues();
    QString address = m_hsms.ResolveAddress(values.address);
    if (address.isEmpty())
        address = values.address;
    m_hsms.SetRemoteAddress(address);
    m_hsms.SetServerMode(values.server);
    m_hsms.SetRemotePort(values.port);
    m_hsms.SetLocalPort(values.localPort);
    m_hsms.SetT8Timeout(values.t8);
    m_hsms.SetT7Timeout(values.t7);
    m_hsms.SetT6Timeout(values.t6);
    m_hsms.SetLinktestInterval(values.linktestInterval);
    m_hsms.SetMaxClients(values.maxClients);
    m_hsms.SetMaxPartialBytes(std::uint64_t(std::max(0, values.maxPartialMB)) * 1024 * 1024);
    m_hsms.SetPortOpen(true);
    setTransactionTimeout(m_settings.T3);
    if (m_hsms.GetPortOpen()) {
        if (m_hsms.GetServerMode())
            AddText(QStringLiteral("HSMS port has been opened successfully."));
        return true;
    }
    AddText(m_hsms.GetServerMode() ? QStringLiteral("Error : Cannot open HSMS port.")
                                   : QStringLiteral("Error : Cannot connect to HSMS server."));
    OpenHsmsPort(false);
    Q_EMIT PortOpenFailed();
    return false;
}

bool CTovikarView::OpenSecsPort(bool open) {
    if (!open) {
        m_secs.SetPortOpen(false);
        AddText(QStringLiteral("Closed SECS port."));
        return true;
    }
    const SecsValues values = secsValues();
    m_secs.SetMsecMode(values.protocol == 2);
    m_secs.SetPortIndex(static_cast<short>(values.commPort - 1));
    m_secs.SetDevicePath(values.devicePath);
    m_secs.SetBaud(values.baud);
    m_secs.SetRetryCount(static_cast<short>(values.retry));
    m_secs.SetMasterMode(values.master);
    m_secs.SetDevice(values.device);
    m_secs.SetT1Timeout(values.t1);
    m_secs.SetT2Timeout(values.t2);
    m_secs.SetT3Timeout(values.t3);
    m_secs.SetT4Timeout(values.t4);
    m_secs.SetReconnectInterval(m_settings.ReconnectInterval > 0 ? m_settings.ReconnectInterval * 1000 : 0);
    m_secs.SetPortOpen(true);
    setTransactionTimeout(m_settings.T3);
    if (m_secs.GetPortOpen()) {
        AddText(QStringLiteral("SECS port has been opened successfully."));
        return true;
    }
    AddText(QStringLiteral("Error : Cannot open SECS port."));
    OpenSecsPort(false);
    Q_EMIT PortOpenFailed();
    return false;
}

CTovikarView::HsmsValues CTovikarView::hsmsValues() const {
    // The extra values: only a passive link in Protocol 0 that nobody ever
    // selects is the driver's to close (T7); a bridge or an ignored
    // Separate.req keeps its link.
    return {m_settings.IPAddress,
            m_settings.Server,
            m_settings.PortNumber,
            m_settings.LocalPortNumber,
            m_settings.T8,
            m_settings.Protocol == 0 ? m_settings.T7 : 0,
            m_settings.T6,
            m_settings.LinktestInterval > 0 ? m_settings.LinktestInterval * 1000 : 0,
            m_settings.MaxClients,
            m_settings.MaxPartialMB};
}

CTovikarView::SecsValues CTovikarView::secsValues() const {
    return {m_settings.Protocol == 2 ? 2 : 1, m_settings.CommPort, m_settings.DevicePath, m_settings.BaudRate,
            m_settings.Retry, m_settings.Master, m_settings.DeviceID, m_settings.T1, m_settings.T2, m_settings.T3, m_settings.T4};
}

void CTovikarView::ReloadSettings(const Settings& settings) {
    LogBatch batch(*this);
    const int protocolBefore = m_settings.Protocol;
    const HsmsValues hsmsBefore = hsmsValues();
    const SecsValues secsBefore = secsValues();
    m_settings = settings;
    setTransactionTimeout(m_settings.T3);
    if (!m_connected) {
        OnConnect();
        return;
    }
    const bool hsms = usesHsms(m_settings.Protocol);
    const bool secs = usesSecs(m_settings.Protocol);
    const bool hsmsWas = usesHsms(protocolBefore);
    const bool secsWas = usesSecs(protocolBefore);
    const bool closeHsms = hsmsWas && (!hsms || hsmsValues() != hsmsBefore);
    const bool closeSecs = secsWas && (!secs || secsValues() != secsBefore);
    const bool openHsms = hsms && (!hsmsWas || closeHsms || !m_hsms.GetPortOpen());
    const bool openSecs = secs && (!secsWas || closeSecs || !m_secs.GetPortOpen());
    if (!closeHsms && !closeSecs && !openHsms && !openSecs)
        return;

    // The transactions of a dropped link have nobody left to answer them.
    SentPrimaries.RemoveAll();
    ReceivedPrimaries.RemoveAll();
    if (closeSecs)
        OpenSecsPort(false);
    if (closeHsms)
        OpenHsmsPort(false);
    bool opened = !openSecs || OpenSecsPort(true);
    if (opened && openHsms)
        opened = OpenHsmsPort(true);
    if (!opened && m_settings.Protocol == 3) {
        // A bridge with one side down is no bridge: both go off, as at Connect.
        if (m_secs.GetPortOpen())
            OpenSecsPort(false);
        if (m_hsms.GetPortOpen())
            OpenHsmsPort(false);
        m_connected = false;
        UpdateTrayIcon(1);
    }
    if (m_connected)
        ShowActivePort();
    Q_EMIT CommandStatesChanged();
}

} // namespace tovik
