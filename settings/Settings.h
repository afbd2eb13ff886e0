#pragma once
// Every user setting, as a value: the member names are the value names in
// the settings file, and the initial values are the defaults a missing or
// unreadable value falls back to. The application object holds the current
// ones; the engine gets a copy whenever they change.
#include <QString>

namespace tovik {

struct Settings {
    // ---- Written back by the options dialog, in their declared order ----
    int Protocol = 0; // 0 HSMS, 1 SECS, 2 MSEC, 3 HSMS=SECS
    int DeviceID = 0;
    bool CheckDeviceID = true;
    bool Hide = false;
    bool Server = false;
    QString IPAddress;
    int PortNumber = 0;
    int LocalPortNumber = 0;
    bool DisconnectAtSeparateReq = true;
    bool SendSelectReqAtConnect = true;
    bool ShowMsgHeader = true;
    bool ShowMsgBody = true;
    bool ShowDateTime = true;
    bool ShowConnection = true;
    bool SaveWindowPosition = true;
    bool OpenMruDocument = true;
    int T1 = 500;
    int T2 = 5000;
    int T3 = 45000;
    int T4 = 45000;
    int T8 = 10000;
    int CommPort = 1;
    int BaudRate = 9600;
    int Retry = 3;
    bool Master = true;
    bool EnableLog = false;
    QString LogFileName;
    int LogFileSize = 1024;
    int LogBakCount = 1;
    bool LogVerbose = false;
    bool InvokeEvent = false;
    int EventStream = 99;
    int EventFunction = 99;
    static constexpr int kSettingCount = 33;

    // ---- Read from the file, never written ----
    // SECS/DevicePath: when set, the SECS-I driver opens this serial device
    // (or "tcp:HOST:PORT") instead of the port numbered by CommPort.
    QString DevicePath;
    // Script/File: the reply script to load, relative to the document's folder.
    QString ScriptFile;
    // Extra values whose defaults keep the behaviour without them (README,
    // "Extra settings values").
    int MaxClients = 16;        // HSMS/MaxClients: hosts served at once in passive mode
    bool BridgeSession = false; // HSMS/BridgeSession: the bridge answers the host's control messages
    int LinktestInterval = 0;   // HSMS/LinktestInterval: seconds of silence before a linktest, 0 off
    int MaxPartialMB = 64;      // HSMS/MaxPartialMB: MiB all hosts may hold in partial messages, 0 no cap
    int T6 = 5000;              // TimeOut/T6: control transaction reply, milliseconds, 0 off
    int T7 = 10000;             // TimeOut/T7: passive link never selected, milliseconds, 0 off
    int ReconnectInterval = 5;  // SECS/ReconnectInterval: seconds between attempts to reopen a lost line, 0 off
    int T5 = 10000;             // TimeOut/T5: milliseconds between attempts to reach a recorded equipment
    QString CaptureFile;        // Capture/CaptureFile: every HSMS frame and SECS-I block also goes to this pcapng file
    int ScriptMemoryLimitMB = 512; // Script/MemoryLimitMB: a script growing the program more is stopped, 0 off
    // The control API (read at start only; --api and --api-token-file win).
    int ApiPort = 0;              // Api/Port: HTTP port of the control API, 0 off
    QString ApiAddress;           // Api/Address: address it listens on, empty 127.0.0.1
    QString ApiTokenFile;         // Api/TokenFile: bearer token file, relative to the document's folder
    int ApiJournalSize = 10000;   // Api/JournalSize: messages the journal keeps
    QString FaultsFile;            // Faults/File: fault rules (JSON) loaded at start, relative to the document
    int MessagesSize = 100000;     // Messages/Size: messages the window's message view keeps

    bool operator==(const Settings&) const = default;
};

} // namespace tovik
