#include "COptionPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

// Control positions below are in dialog units of a 270 x 122 page.

// ---- General ----

COption1::COption1(QWidget* parent) : COptionPage(QStringLiteral("General"), parent) {
    QGroupBox* group = addGroup(QStringLiteral("Protocol"), 7, 4, 256, 28);
    m_radioHsms = addRadio(group, QStringLiteral("HSMS"), 16, 16, 50);
    m_radioSecs = addRadio(group, QStringLiteral("SECS"), 74, 16, 50);
    m_radioMsec = addRadio(group, QStringLiteral("MSEC"), 132, 16, 50);
    m_radioHsmsSecs = addRadio(group, QStringLiteral("HSMS=SECS"), 190, 16, 66);
    // Shown, not chosen here: those modes come only from the settings file.
    m_radioMsec->setEnabled(false);
    m_radioHsmsSecs->setEnabled(false);
    m_checkSaveWindowPosition =
        addCheck(QStringLiteral("Save window position and size."), 7, 38, 256);
    m_checkOpenMruDocument =
        addCheck(QStringLiteral("Open most recently used document automatically."), 7, 52, 256);
    addLabel(QStringLiteral("Device ID (Decimal)"), 7, 70, 70);
    m_editDeviceID = addEdit(80, 68, 50);
    m_checkCheckDeviceID =
        addCheck(QStringLiteral("Return S9F1, if Device ID is incorrect."), 7, 88, 256);
    m_checkHide = addCheck(QStringLiteral("Hide window."), 7, 102, 256);
    m_checkHide->setEnabled(false);
}

bool COption1::exchange(bool save) {
    ddxCheck(save, m_checkSaveWindowPosition, m_bSaveWindowPosition);
    ddxCheck(save, m_checkOpenMruDocument, m_bOpenMruDocument);
    if (!ddxInt(save, m_editDeviceID, m_nDeviceID))
        return false;
    ddxCheck(save, m_checkCheckDeviceID, m_bCheckDeviceID);
    ddxCheck(save, m_checkHide, m_bHide);
    return true;
}

void COption1::initDialog() {
    exchange(false);
    QRadioButton* const radios[] = {m_radioHsms, m_radioSecs, m_radioMsec, m_radioHsmsSecs};
    for (int i = 0; i < 4; ++i)
        radios[i]->setChecked(i == m_nProtocol);
}

bool COption1::onOK() {
    // Nothing checked (a stored value outside the four) ends as the last one.
    m_nProtocol = m_radioHsms->isChecked()   ? 0
                  : m_radioSecs->isChecked() ? 1
                  : m_radioMsec->isChecked() ? 2
                                             : 3;
    return true;
}

// ---- HSMS ----

COption2::COption2(QWidget* parent) : COptionPage(QStringLiteral("HSMS"), parent) {
    m_checkServer = addCheck(QStringLiteral("Server ( Passive )"), 7, 7, 120);
    addLabel(QStringLiteral("IP Address"), 7, 27, 70);
    m_editIPAddress = addEdit(80, 25, 120);
    addLabel(QStringLiteral("Port Number"), 7, 45, 70);
    m_editPortNumber = addEdit(80, 43, 50);
    addLabel(QStringLiteral("Local Port Number"), 7, 63, 70);
    m_editLocalPortNumber = addEdit(80, 61, 50);
    m_checkDisconnectAtSeparateReq = addCheck(
        QStringLiteral("Disconnect with client, if received 'Separate Request'."), 7, 84, 256);
    m_checkSendSelectReqAtConnect = addCheck(
        QStringLiteral("Send 'Select Request', when connection was established."), 7, 100, 256);
}

bool COption2::exchange(bool save) {
    ddxCheck(save, m_checkServer, m_bServer);
    ddxText(save, m_editIPAddress, m_strIPAddress);
    if (!ddxInt(save, m_editPortNumber, m_nPortNumber) ||
        !ddxInt(save, m_editLocalPortNumber, m_nLocalPortNumber))
        return false;
    ddxCheck(save, m_checkDisconnectAtSeparateReq, m_bDisconnectAtSeparateReq);
    ddxCheck(save, m_checkSendSelectReqAtConnect, m_bSendSelectReqAtConnect);
    return true;
}

// ---- SECS ----

COption5::COption5(QWidget* parent) : COptionPage(QStringLiteral("SECS"), parent) {
    QStringList ports;
    for (int i = 1; i <= 50; ++i)
        ports << QStringLiteral("Comm %1").arg(i);
    QStringList rates;
    for (int r : kBaudRates)
        rates << QString::number(r);
    addLabel(QStringLiteral("Comm Port"), 7, 9, 70);
    m_comboCommPort = addCombo(ports, 80, 7, 70);
    addLabel(QStringLiteral("Baud Rate"), 7, 27, 70);
    m_comboBaudRate = addCombo(rates, 80, 25, 70);
    addLabel(QStringLiteral("Retry Count"), 7, 45, 70);
    m_editRetry = addEdit(80, 43, 40);
    m_checkMaster = addCheck(QStringLiteral("Master"), 7, 63, 100);
}

bool COption5::exchange(bool save) {
    ddxCombo(save, m_comboCommPort, m_nCommPort);
    ddxCombo(save, m_comboBaudRate, m_nBaudRate);
    if (!ddxInt(save, m_editRetry, m_nRetry))
        return false;
    ddxCheck(save, m_checkMaster, m_bMaster);
    return true;
}

void COption5::initDialog() {
    // From the settings' values to list positions; values the lists do not
    // hold show no selection.
    m_nCommPort -= 1;
    int index = -1;
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] == m_nBaudRate)
            index = static_cast<int>(i);
    }
    m_nBaudRate = index;
    exchange(false);
}

bool COption5::onOK() {
    if (!exchange(true))
        return false;
    m_nCommPort += 1; // no selection gives 0
    const int index = m_nBaudRate;
    m_nBaudRate = (index >= 0 && index < static_cast<int>(kBaudRates.size()))
                      ? kBaudRates[static_cast<std::size_t>(index)]
                      : 9600;
    return true;
}

// ---- Info ----

COption3::COption3(QWidget* parent) : COptionPage(QStringLiteral("Info"), parent) {
    m_checkShowMsgHeader = addCheck(QStringLiteral("Message Header"), 7, 7, 200);
    m_checkShowMsgBody = addCheck(QStringLiteral("Message Body"), 7, 21, 200);
    m_checkShowDateTime = addCheck(QStringLiteral("Date And Time"), 7, 35, 200);
    m_checkShowConnection = addCheck(QStringLiteral("Connection (HSMS Only)"), 7, 49, 200);
}

bool COption3::exchange(bool save) {
    ddxCheck(save, m_checkShowMsgHeader, m_bShowMsgHeader);
    ddxCheck(save, m_checkShowMsgBody, m_bShowMsgBody);
    ddxCheck(save, m_checkShowDateTime, m_bShowDateTime);
    ddxCheck(save, m_checkShowConnection, m_bShowConnection);
    return true;
}

// ---- Time out ----

COption4::COption4(QWidget* parent) : COptionPage(QStringLiteral("Time out"), parent) {
    QLineEdit** const edits[] = {&m_editT1, &m_editT2, &m_editT3, &m_editT4, &m_editT8};
    const char* const names[] = {"T1", "T2", "T3", "T4", "T8"};
    for (int i = 0; i < 5; ++i) {
        addLabel(QLatin1String(names[i]), 7, 9 + 18 * i, 24);
        *edits[i] = addEdit(34, 7 + 18 * i, 60);
    }
}

bool COption4::exchange(bool save) {
    return ddxInt(save, m_editT1, m_nT1) && ddxInt(save, m_editT2, m_nT2) &&
           ddxInt(save, m_editT3, m_nT3) && ddxInt(save, m_editT4, m_nT4) &&
           ddxInt(save, m_editT8, m_nT8);
}

// ---- Log ----

COption6::COption6(QWidget* parent) : COptionPage(QStringLiteral("Log"), parent) {
    m_checkEnableLog = addCheck(QStringLiteral("Enable logging to file."), 7, 7, 200);
    addLabel(QStringLiteral("File name"), 7, 27, 95);
    m_editLogFileName = addEdit(105, 25, 158);
    addLabel(QStringLiteral("File size ( in killo bytes )"), 7, 45, 95);
    m_editLogFileSize = addEdit(105, 43, 50);
    addLabel(QStringLiteral("Back-up file count"), 7, 63, 95);
    m_editLogBakCount = addEdit(105, 61, 50);
    m_checkLogVerbose = addCheck(QStringLiteral("Verbose log for SECS/MSEC."), 7, 82, 200);
}

bool COption6::exchange(bool save) {
    ddxCheck(save, m_checkEnableLog, m_bEnableLog);
    ddxText(save, m_editLogFileName, m_strLogFileName);
    if (!ddxInt(save, m_editLogFileSize, m_nLogFileSize) ||
        !ddvMinMax(save, m_editLogFileSize, m_nLogFileSize, 1, 100000) ||
        !ddxInt(save, m_editLogBakCount, m_nLogBakCount) ||
        !ddvMinMax(save, m_editLogBakCount, m_nLogBakCount, 0, 999))
        return false;
    ddxCheck(save, m_checkLogVerbose, m_bLogVerbose);
    return true;
}

// ---- Event ----

COption7::COption7(QWidget* parent) : COptionPage(QStringLiteral("Event"), parent) {
    m_checkInvokeEvent = addCheck(QStringLiteral("Application invokes events."), 7, 7, 200);
    m_checkInvokeEvent->setEnabled(false);
    addLabel(QStringLiteral("S"), 7, 27, 10);
    m_editEventStream = addEdit(19, 25, 40);
    addLabel(QStringLiteral("F"), 71, 27, 10);
    m_editEventFunction = addEdit(83, 25, 40);
}

bool COption7::exchange(bool save) {
    ddxCheck(save, m_checkInvokeEvent, m_bInvokeEvent);
    return ddxInt(save, m_editEventStream, m_nEventStream) &&
           ddxInt(save, m_editEventFunction, m_nEventFunction);
}
