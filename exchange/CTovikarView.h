#pragma once
// The exchange engine: owns the two port drivers, the working and scratch
// codecs, the open-transaction lists, the 55 ms timer and the event log, and
// runs every message in and out. It shows nothing itself: the form (or the
// headless program) listens to its signals and gives it the selected row.
//
// Everything runs on the thread that owns the view; driver events arrive as
// queued or direct signals on that thread, one at a time. No operation lets
// an exception out.
#include "CHEventLog.h"
#include "CHMessageJournal.h"
#include "CHFaultRules.h"
#include "CHPrimaryMsg.h"
#include "CHVeltHsms.h"
#include "CHVeltSecsI.h"
#include "CHVeltSecsII.h"
#include "Settings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovik {

class CHEventLog;
class CHRecording;
class CTovikarDoc;
class CHOneMsg;

class CTovikarView : public QObject {
    Q_OBJECT
public:
    // The engine's command identifiers; the main frame's menus and keys use these.
    enum Command {
        ID_CONNECT = 32771,
        ID_OPTION = 32772,
        ID_SEND_MESSAGE = 32775,
        ID_DISCONNECT = 32779,
    };
    // Ports a send can name: the SECS-I port, the HSMS port, or the one whose
    // panel the tab bar shows.
    enum Port { PortSecs = 0, PortHsms = 1, PortActiveTab = -1 };

    CTovikarView(CTovikarDoc& doc, QObject* parent = nullptr);
    ~CTovikarView() override;
    CTovikarView(const CTovikarView&) = delete;
    CTovikarView& operator=(const CTovikarView&) = delete;

    // ---- Port lifecycle ----
    // The settings the engine works with from now on. Open ports keep the
    // values they were opened with until they open again.
    void ApplySettings(const Settings& settings) { m_settings = settings; }
    const Settings& GetSettings() const { return m_settings; }
    // The first call starts the timer, writes the banner and posts Connect
    // with the settings applied so far; later calls do nothing.
    void OnInitialUpdate();
    void OnConnect();    // toggles the ports of the configured protocol
    void OnDisconnect(); // drops the HSMS client (server mode)
    bool OpenHsmsPort(bool open);
    bool OpenSecsPort(bool open);
    void ShowActivePort();
    void ShowPortPanel(int tab);
    // Takes settings read again from the file (the headless program's
    // reload). A port whose own values changed, or that the new protocol no longer uses, is
    // closed and opened with the new values; the others keep their
    // connections. Open transactions are dropped only when a port closes or
    // opens. Ports that are off are switched on.
    void ReloadSettings(const Settings& settings);
    // 0 add, 1 modify, 2 delete; the frame owns the real icon.
    void UpdateTrayIcon(int action);

    // ---- Send pipeline ----
    // The only way a message leaves Tovik: completes the header of what the
    // working codec holds and hands it to a port. primary: the hex text of
    // the message being answered, or null for a new primary.
    void SendWorkingMessage(int port, const std::string* primary);
    // The automatic reply to the primary in the working codec: none (no
    // reply expected), the built-in <b 0> (no definition answers it), the one
    // definition that does (set in `def`), or the user's choice among several.
    enum class AutoReply { None, Fallback, Definition, UserChooses };
    AutoReply ChooseAutoReply(const CHOneMsg** def = nullptr, int* candidates = nullptr);
    // What chose the next message sent, for its journal entry; each send
    // goes back to Program. source: a shared name (not built per message).
    void SetSendOrigin(CHJournalEntry::Origin origin, const QString& source = {}) {
        m_sendOrigin = origin;
        m_sendSource = source;
    }
    void OnSendMessage();
    // The Send command for a given definition and port (PortActiveTab: as the
    // command does): a secondary answers the primary it belongs to. Returns
    // the journal id of what went out, 0 when nothing did.
    quint64 SendDefinition(const CHOneMsg& def, int port);

    // ---- Receive dispatch and driver events ----
    void OnMessageReceived(int port, const QString& address, int peerPort, const QByteArray& message);
    void OnHsmsError(const QString& address, int port, short code, const QString& detail);
    void OnHsmsConnection(const QString& address, int port, bool connected);
    void OnHsmsPeer(const QString& address, int port);
    // A host beyond MaxClients was turned away.
    void OnHsmsRefused(const QString& address, int port, int limit);
    void OnSecsSendCompleted(const QString& hex, bool success);
    void OnSecsError(short code, const QString& detail);
    // The line lost earlier came back by itself.
    void OnSecsRestored(const QString& device);
    void OnSecsByte(short character, bool received);
    static QString SecsErrorText(int code);

    // ---- Timer work (every 55 ms while there is any) ----
    void OnTimer();
    // Is the 55 ms tick running? It sleeps while nothing waits for it.
    bool TimerRunning() const { return m_timer.isActive(); }
    // Decodes the definitions' stream and function when the document changed.
    void RefreshMessageList();

    // ---- Log entries ----
    void LogDateTime();
    // One message entry describing what codec holds (the working codec when
    // null). hex: the codec's hex text when the caller already has it.
    void LogMessage(const QString& label, CHVeltSecsII* codec = nullptr,
                    const std::string* hex = nullptr);
    void AddText(const QString& text);
    // Outside text put in for %1, %2... with its control characters escaped
    // (FillOutside): a name or a script's words add no line of their own.
    template <typename... More>
    void AddText(const QString& format, const QString& outside, const More&... more) {
        AddText(FillOutside(format, outside, more...));
    }
    // Lines added while a batch is open reach the event log as one text when
    // the outermost batch closes: one log update per message handled instead
    // of one per line. Handlers open one; nesting is allowed.
    class LogBatch {
    public:
        explicit LogBatch(CTovikarView& view) : m_view(view) { ++m_view.m_batchDepth; }
        ~LogBatch() {
            if (--m_view.m_batchDepth == 0)
                m_view.flushLogBatch();
        }
        LogBatch(const LogBatch&) = delete;
        LogBatch& operator=(const LogBatch&) = delete;

    private:
        CTovikarView& m_view;
    };

    // ---- State ----
    bool GetConnected() const { return m_connected; }
    bool GetAwaitingReply() const { return m_awaitingReply; }
    int GetActiveTab() const { return m_activeTab; }
    void SetActiveTab(int tab) { m_activeTab = tab; }
    // Enabled and checked state of a command for the menus and tool bar.
    bool IsCommandEnabled(int command) const;
    bool IsCommandChecked(int command) const;
    // The name in the first column of the selected message-list row, or empty.
    void SetSelectionProvider(std::function<QString()> provider) {
        m_selection = std::move(provider);
    }
    // The low half of the system bytes of the next new primary (process-wide).
    static uint16_t NextTransactionID();
    static void SetNextTransactionID(uint16_t id);

    CHEventLog& EventLog() { return *m_log; }
    // Every message sent or received, at the two places they pass.
    CHMessageJournal& Journal() { return m_journal; }
    quint64 T3Expiries() const { return m_t3Expiries; }
    // Faults on demand, consulted for every reply, own send and control answer.
    CHFaultRules& Faults() { return m_faults; }
    CHVeltHsms& Hsms() { return m_hsms; }
    CHVeltSecsI& SecsI() { return m_secs; }
    CHVeltSecsII& WorkingCodec() { return m_working; }
    CHVeltSecsII& ScratchCodec() { return m_scratch; }
    CTovikarDoc& Document() { return m_doc; }
    // Loads a definition's text into the working codec (SML or hex dump).
    void LoadDefinition(const CHOneMsg& def) { loadDefinition(def); }

    // Reply scripts see every received data message before the automatic
    // reply; true means the script settled it and the dispatch stops there.
    // The hook leaves the received message in the working codec otherwise.
    using ReceiveHook = std::function<bool(int port, const std::string& hex)>;
    void SetReceiveHook(ReceiveHook hook) { m_receiveHook = std::move(hook); }

    CHPrimaryMsgList SentPrimaries;
    CHPrimaryMsgList ReceivedPrimaries;

    // ---- Recording proxy ----
    // From the next Connect on, the passive HSMS port is the host's side of a
    // proxy to the equipment at host:port, reached over an active link of its
    // own (Select.req at connect, T5 between attempts). Each side keeps its own
    // session; data messages are relayed unchanged both ways and added to
    // `recording`; nothing is answered from the document or a script.
    void StartRecording(const QString& host, int port, CHRecording& recording);
    bool IsRecording() const { return m_recording != nullptr; }
    CHVeltHsms* Upstream() { return m_upstream.get(); }
    // Every HSMS frame of both sides goes to this capture file too (null: none).
    void SetCapture(capture::PcapngWriter* capture);

Q_SIGNALS:
    void PortPanelShown(int tab);
    void TrayIconChanged(int action, bool connected);
    void HideRequested();
    void CommandStatesChanged();
    void MessageListRefreshed();
    // A sent primary ended by T3, after its entry and S9F9 and before its
    // record goes; the keys say whose record it was.
    void SentPrimaryExpired(const QString& keyText, uint keyNumber);
    // The same expiry by the primary's hex text, before its entry is logged.
    void SentPrimaryTimedOut(const QString& hex);
    // After each HSMS connection change has been handled.
    void HsmsConnectionChanged(const QString& address, int port, bool connected);
    // Connect could not open a port; its error lines are logged.
    void PortOpenFailed();

private:
    // What each port is opened with, read from the settings.
    struct HsmsValues {
        QString address;
        bool server = false;
        int port = 0;
        int localPort = 0;
        int t8 = 0;
        int t7 = 0;
        int t6 = 0;
        int linktestInterval = 0; // milliseconds, 0 off
        int maxClients = 0;
        int maxPartialMB = 0;
        bool operator==(const HsmsValues&) const = default;
    };
    struct SecsValues {
        int protocol = 0; // SECS or MSEC
        int commPort = 0;
        QString devicePath;
        int baud = 0;
        int retry = 0;
        bool master = false;
        int device = 0;
        int t1 = 0, t2 = 0, t3 = 0, t4 = 0;
        bool operator==(const SecsValues&) const = default;
    };
    HsmsValues hsmsValues() const;
    SecsValues secsValues() const;
    static bool usesHsms(int protocol) { return protocol == 0 || protocol == 3; }
    static bool usesSecs(int protocol) { return protocol >= 1 && protocol <= 3; }

    void postCommand(int command);
    // Loads a definition into the working codec; a text that does not load
    // gets one event-log line with the codec's error.
    void loadDefinition(const CHOneMsg& def);
    bool toHsms(int port) const;
    // The definition's name for the journal, made again only when it changes.
    const QString& definitionName(const CHOneMsg& def);
    // Bridge mode in which the HSMS side keeps its own session with the host,
    // and the recording proxy, whose host side always does.
    bool bridgeSession() const;
    void relayFromHost(const QByteArray& message);
    void onUpstreamMessage(const QString& address, int port, const QByteArray& message);
    void onUpstreamConnection(const QString& address, int port, bool connected);
    void connectUpstream();
    void closeUpstream();
    void upstreamDown(const QString& why);
    // Answers or acts on an HSMS control request as the equipment does;
    // true when the dispatch ends there.
    bool answerControlMessage(int port, const std::string& text);
    void sendEventMessage(const std::string& sml);
    // The fault rules' verdict on what the working codec is about to send
    // (primary: the message it answers); its log line is written.
    std::optional<CHFaultRules::Fault> faultFor(int port, const std::string* primary);
    std::optional<CHFaultRules::Fault> controlFault(CHFaultRules::Kind kind);
    void writeOut(int port, const std::vector<uint8_t>& bytes);
    void writeFaulty(int port, const std::vector<uint8_t>& bytes, const CHFaultRules::Fault& fault);
    void flushByteTrace();
    void flushLogBatch();
    // Journals a message leaving on a port, with the peer it goes to.
    void journalOut(int port, const std::vector<uint8_t>& bytes);

    Settings m_settings;
    CTovikarDoc& m_doc;
    std::unique_ptr<CHEventLog> m_log;
    CHVeltHsms m_hsms;
    CHVeltSecsI m_secs;
    CHVeltSecsII m_working;
    CHVeltSecsII m_scratch;
    // The last structure definition loaded, parsed: automatic replies load
    // the same few definitions over and over.
    CHVeltSecsII m_lastDefinition;
    std::string m_lastDefinitionText;
    bool m_lastDefinitionValid = false;
    // Ticks fall on a 55 ms grid from the first initial update; between
    // them the timer runs only while a tick has work (wakeTimer). While only
    // open transactions wait, it sleeps until the tick on which the first of
    // them can expire.
    QTimer m_timer;
    QElapsedTimer m_tickOrigin;
    qint64 m_tickIndex = 0; // the tick armed
    qint64 m_tickRan = 0;   // the last tick that ran
    bool m_tickSleeps = false; // armed past the next tick
    void wakeTimer();
    void armNextTick();
    bool timerHasWork() const;
    void setTransactionTimeout(int ms);
    CHMessageJournal m_journal;
    quint64 m_t3Expiries = 0;
    CHJournalEntry::Origin m_sendOrigin = CHJournalEntry::Origin::Program;
    QString m_sendSource;
    // The name of the definition last loaded, made once for its many replies.
    std::string m_definitionNameBytes;
    QString m_definitionName;
    std::function<QString()> m_selection;
    ReceiveHook m_receiveHook;
    CHFaultRules m_faults;
    // A control answer's fault, decided where the request is read.
    std::optional<CHFaultRules::Fault> m_controlFault;

    bool m_connected = false;
    bool m_firstUpdate = true;
    bool m_awaitingReply = false;
    int m_activeTab = 0;
    std::string m_byteTrace[2];
    int m_batchDepth = 0;
    QString m_batch;
    QString m_batchSpare; // the previous batch's storage, emptied
    static constexpr qsizetype kKeptBatchChars = 16384;

    // The recording proxy's equipment side; the log names its peer while
    // m_logUpstream is set.
    CHRecording* m_recording = nullptr;
    capture::PcapngWriter* m_capture = nullptr;
    std::unique_ptr<CHVeltHsms> m_upstream;
    QString m_upstreamHost;
    int m_upstreamPort = 0;
    QTimer m_upstreamRetry;
    bool m_upstreamSelected = false;
    bool m_equipmentOutageTold = false;
    bool m_hostOutageTold = false;
    bool m_logUpstream = false;

    // LogDateTime's text, rebuilt only when the second changes.
    long long m_stampSecond = -1;
    QString m_stamp;
};

} // namespace tovik
