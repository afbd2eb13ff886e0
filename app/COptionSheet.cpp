#include "COptionSheet.h"

#include "COptionPages.h"
#include "CTovikarApp.h"
#include "messagebox.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

COptionSheet::COptionSheet(CTovikarApp& app, QWidget* parent) : QDialog(parent), m_app(app) {
    setWindowTitle(QStringLiteral("Option Settings"));
    m_tabs = new QTabWidget(this);
    m_general = new COption1;
    m_hsms = new COption2;
    m_secs = new COption5;
    m_info = new COption3;
    m_timeOut = new COption4;
    m_log = new COption6;
    m_event = new COption7;
    m_pages = {m_general, m_hsms, m_secs, m_info, m_timeOut, m_log, m_event};
    for (COptionPage* page : m_pages)
        m_tabs->addTab(page, page->caption());
    setFont(m_general->font());

    m_general->m_nProtocol = app.Protocol;
    m_general->m_bSaveWindowPosition = app.SaveWindowPosition;
    m_general->m_bOpenMruDocument = app.OpenMruDocument;
    m_general->m_nDeviceID = app.DeviceID;
    m_general->m_bCheckDeviceID = app.CheckDeviceID;
    m_general->m_bHide = app.Hide;

    m_hsms->m_bServer = app.Server;
    m_hsms->m_strIPAddress = app.IPAddress;
    m_hsms->m_nPortNumber = app.PortNumber;
    m_hsms->m_nLocalPortNumber = app.LocalPortNumber;
    m_hsms->m_bDisconnectAtSeparateReq = app.DisconnectAtSeparateReq;
    m_hsms->m_bSendSelectReqAtConnect = app.SendSelectReqAtConnect;

    m_secs->m_nCommPort = app.CommPort;
    m_secs->m_nBaudRate = app.BaudRate;
    m_secs->m_nRetry = app.Retry;
    m_secs->m_bMaster = app.Master;

    m_info->m_bShowMsgHeader = app.ShowMsgHeader;
    m_info->m_bShowMsgBody = app.ShowMsgBody;
    m_info->m_bShowDateTime = app.ShowDateTime;
    m_info->m_bShowConnection = app.ShowConnection;

    m_timeOut->m_nT1 = app.T1;
    m_timeOut->m_nT2 = app.T2;
    m_timeOut->m_nT3 = app.T3;
    m_timeOut->m_nT4 = app.T4;
    m_timeOut->m_nT8 = app.T8;

    m_log->m_bEnableLog = app.EnableLog;
    m_log->m_strLogFileName = app.LogFileName;
    m_log->m_nLogFileSize = app.LogFileSize;
    m_log->m_nLogBakCount = app.LogBakCount;
    m_log->m_bLogVerbose = app.LogVerbose;

    m_event->m_bInvokeEvent = app.InvokeEvent;
    m_event->m_nEventStream = app.EventStream;
    m_event->m_nEventFunction = app.EventFunction;

    // Pages are filled from their settings the first time they are shown, so
    // one never shown is written back exactly as it was read.
    m_general->initialise();
    connect(m_tabs, &QTabWidget::currentChanged, this, &COptionSheet::onCurrentChanged);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &COptionSheet::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &COptionSheet::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void COptionSheet::onCurrentChanged(int index) {
    if (index == m_current || index < 0)
        return;
    // A page with a wrong value cannot be left.
    if (!m_pages[static_cast<std::size_t>(m_current)]->killActive()) {
        const QSignalBlocker block(m_tabs);
        m_tabs->setCurrentIndex(m_current);
        return;
    }
    m_current = index;
    m_pages[static_cast<std::size_t>(index)]->initialise();
}

void COptionSheet::accept() {
    if (!m_pages[static_cast<std::size_t>(m_current)]->killActive())
        return;
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        if (!m_pages[i]->isInitialised())
            continue;
        if (!m_pages[i]->onOK()) {
            const QSignalBlocker block(m_tabs);
            m_tabs->setCurrentIndex(static_cast<int>(i));
            m_current = static_cast<int>(i);
            return;
        }
    }
    copyToApp();
    m_app.SaveSettings(); // a failed save is not reported
    QDialog::accept();
}

void COptionSheet::copyToApp() {
    CTovikarApp& a = m_app;
    a.Protocol = m_general->m_nProtocol;
    a.SaveWindowPosition = m_general->m_bSaveWindowPosition != 0;
    a.OpenMruDocument = m_general->m_bOpenMruDocument != 0;
    a.DeviceID = m_general->m_nDeviceID;
    a.CheckDeviceID = m_general->m_bCheckDeviceID != 0;
    a.Hide = m_general->m_bHide != 0;

    a.Server = m_hsms->m_bServer != 0;
    a.IPAddress = m_hsms->m_strIPAddress;
    a.PortNumber = m_hsms->m_nPortNumber;
    a.LocalPortNumber = m_hsms->m_nLocalPortNumber;
    a.DisconnectAtSeparateReq = m_hsms->m_bDisconnectAtSeparateReq != 0;
    a.SendSelectReqAtConnect = m_hsms->m_bSendSelectReqAtConnect != 0;

    a.ShowMsgHeader = m_info->m_bShowMsgHeader != 0;
    a.ShowMsgBody = m_info->m_bShowMsgBody != 0;
    a.ShowDateTime = m_info->m_bShowDateTime != 0;
    a.ShowConnection = m_info->m_bShowConnection != 0;

    a.T1 = m_timeOut->m_nT1;
    a.T2 = m_timeOut->m_nT2;
    a.T3 = m_timeOut->m_nT3;
    a.T4 = m_timeOut->m_nT4;
    a.T8 = m_timeOut->m_nT8;

    a.CommPort = m_secs->m_nCommPort;
    a.BaudRate = m_secs->m_nBaudRate;
    a.Retry = m_secs->m_nRetry;
    a.Master = m_secs->m_bMaster != 0;

    a.EnableLog = m_log->m_bEnableLog != 0;
    a.LogFileName = m_log->m_strLogFileName;
    a.LogFileSize = m_log->m_nLogFileSize;
    a.LogBakCount = m_log->m_nLogBakCount;
    a.LogVerbose = m_log->m_bLogVerbose != 0;

    a.InvokeEvent = m_event->m_bInvokeEvent != 0;
    a.EventStream = m_event->m_nEventStream;
    a.EventFunction = m_event->m_nEventFunction;
}

void RunOptionsDialog(CTovikarApp& app, QWidget* parent) {
    COptionSheet sheet(app, parent);
    sheet.exec();
}

namespace tovik {

void installWidgetMessageBoxes() {
    setMessageBoxHandler([](QWidget* parent, const QString& text, const QString& detail) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Tovik"), text, QMessageBox::Ok, parent);
        box.setInformativeText(detail);
        box.exec();
    });
    setQuestionHandler([](QWidget* parent, const QString& text, const QString& detail) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Tovik"), text, QMessageBox::Yes | QMessageBox::No,
                        parent);
        box.setInformativeText(detail);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    });
}

} // namespace tovik
