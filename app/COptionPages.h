#pragma once
// The seven pages of the options dialog. Each holds copies of the settings it
// shows (bool settings as 0 or 1); the sheet fills them in and takes them out.
#include "COptionPage.h"

#include <array>

class COption1 : public COptionPage { // General
    Q_OBJECT
public:
    explicit COption1(QWidget* parent = nullptr);
    bool onOK() override;

    int m_nProtocol = 0;
    int m_bSaveWindowPosition = 0;
    int m_bOpenMruDocument = 0;
    int m_nDeviceID = 0;
    int m_bCheckDeviceID = 0;
    int m_bHide = 0;

    QRadioButton* m_radioHsms;     // 1005
    QRadioButton* m_radioSecs;     // 1006
    QRadioButton* m_radioMsec;     // 1007
    QRadioButton* m_radioHsmsSecs; // 1008
    QCheckBox* m_checkSaveWindowPosition;
    QCheckBox* m_checkOpenMruDocument;
    QLineEdit* m_editDeviceID;
    QCheckBox* m_checkCheckDeviceID;
    QCheckBox* m_checkHide;

protected:
    void initDialog() override;
    bool exchange(bool save) override;
};

class COption2 : public COptionPage { // HSMS
    Q_OBJECT
public:
    explicit COption2(QWidget* parent = nullptr);

    int m_bServer = 0;
    QString m_strIPAddress;
    int m_nPortNumber = 0;
    int m_nLocalPortNumber = 0;
    int m_bDisconnectAtSeparateReq = 0;
    int m_bSendSelectReqAtConnect = 0;

    QCheckBox* m_checkServer;
    QLineEdit* m_editIPAddress;
    QLineEdit* m_editPortNumber;
    QLineEdit* m_editLocalPortNumber;
    QCheckBox* m_checkDisconnectAtSeparateReq;
    QCheckBox* m_checkSendSelectReqAtConnect;

protected:
    bool exchange(bool save) override;
};

class COption5 : public COptionPage { // SECS
    Q_OBJECT
public:
    // The speeds the list offers, in its order.
    static constexpr std::array<int, 13> kBaudRates{75,   150,   300,   600,   1200,   2400,  4800,
                                                    9600, 19200, 38400, 76800, 153600, 307200};

    explicit COption5(QWidget* parent = nullptr);
    bool onOK() override;

    // CommPort and BaudRate until the page is shown; list positions after.
    int m_nCommPort = 0;
    int m_nBaudRate = 0;
    int m_nRetry = 0;
    int m_bMaster = 0;

    QComboBox* m_comboCommPort;
    QComboBox* m_comboBaudRate;
    QLineEdit* m_editRetry;
    QCheckBox* m_checkMaster;

protected:
    void initDialog() override;
    bool exchange(bool save) override;
};

class COption3 : public COptionPage { // Info
    Q_OBJECT
public:
    explicit COption3(QWidget* parent = nullptr);

    int m_bShowMsgHeader = 0;
    int m_bShowMsgBody = 0;
    int m_bShowDateTime = 0;
    int m_bShowConnection = 0;

    QCheckBox* m_checkShowMsgHeader;
    QCheckBox* m_checkShowMsgBody;
    QCheckBox* m_checkShowDateTime;
    QCheckBox* m_checkShowConnection;

protected:
    bool exchange(bool save) override;
};

class COption4 : public COptionPage { // Time out, all in milliseconds
    Q_OBJECT
public:
    explicit COption4(QWidget* parent = nullptr);

    int m_nT1 = 0, m_nT2 = 0, m_nT3 = 0, m_nT4 = 0, m_nT8 = 0;
    QLineEdit* m_editT1;
    QLineEdit* m_editT2;
    QLineEdit* m_editT3;
    QLineEdit* m_editT4;
    QLineEdit* m_editT8;

protected:
    bool exchange(bool save) override;
};

class COption6 : public COptionPage { // Log
    Q_OBJECT
public:
    explicit COption6(QWidget* parent = nullptr);

    int m_bEnableLog = 0;
    QString m_strLogFileName;
    int m_nLogFileSize = 0;
    int m_nLogBakCount = 0;
    int m_bLogVerbose = 0;

    QCheckBox* m_checkEnableLog;
    QLineEdit* m_editLogFileName;
    QLineEdit* m_editLogFileSize;
    QLineEdit* m_editLogBakCount;
    QCheckBox* m_checkLogVerbose;

protected:
    bool exchange(bool save) override;
};

class COption7 : public COptionPage { // Event
    Q_OBJECT
public:
    explicit COption7(QWidget* parent = nullptr);

    int m_bInvokeEvent = 0;
    int m_nEventStream = 0;
    int m_nEventFunction = 0;

    QCheckBox* m_checkInvokeEvent;
    QLineEdit* m_editEventStream;
    QLineEdit* m_editEventFunction;

protected:
    bool exchange(bool save) override;
};
