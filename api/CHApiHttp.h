#pragma once
// The control API's own thread: the HTTP server, the WebSocket clients, the
// JSON texts and every socket write. The thread that answers hosts only hands
// over what it already has (journal entries, log lines) through CHApiFeed, a
// cheap append under a lock; this side keeps its own copy of the journal, so
// the reading routes (messages, count, wait) never stop the program. Routes
// that act on the program run there (CHApiServer) and their answers come back
// here to be written.
#include "CHApiJson.h"
#include "CHMessageJournal.h"

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

class QTimer;

namespace tovik {

class CHApiEvents;
class CHApiHttp;

// Where one thread leaves work for another: a list under a lock, and one
// queued call to drain() per turn whatever the number of jobs. The lock,
// not Qt's event queue, carries what a job reads from the thread that left
// it, so that ThreadSanitizer (which cannot see into Qt) sees it too.
class CHApiMailbox : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Runs job on this object's thread, later.
    void Post(std::function<void()> job);
    // Runs job on this object's thread (not the caller's) and waits till it is done.
    void Run(const std::function<void()>& job);

public Q_SLOTS:
    void drain();

private:
    std::mutex m_lock;
    std::vector<std::function<void()>> m_jobs;
};

// A request on its way to an answer; a waiting one keeps it past the handler.
// Answered from either thread: the write itself always happens on the API's.
struct CHApiCall : std::enable_shared_from_this<CHApiCall> {
    using Status = QHttpServerResponder::StatusCode;
    CHApiCall(CHApiHttp* server, QHttpServerResponder&& r, QTcpSocket* s, QUrlQuery q)
        : http(server), responder(std::move(r)), socket(s), query(std::move(q)) {}
    CHApiHttp* http;
    QHttpServerResponder responder;
    QPointer<QTcpSocket> socket;
    QStringList args; // the path's {name} parts, in order
    QUrlQuery query;
    QByteArray body;
    std::atomic<bool> answered{false};
    void answer(const QJsonValue& value, Status status = Status::Ok);
    // An answer already in compact JSON text.
    void answerText(const QByteArray& json, Status status = Status::Ok);
    void fail(Status status, const QString& error) { answer(QJsonObject{{QStringLiteral("error"), error}}, status); }

private:
    void write(const QByteArray& json, Status status);
};
using CHApiCallPtr = std::shared_ptr<CHApiCall>;

// What the program hands over, in the order it happened.
class CHApiFeed {
public:
    struct Cleared {};
    // A log line: where it is in its batch's text.
    struct Line {
        qsizetype at;
        qsizetype size;
    };
    using Event = std::variant<Line, CHJournalEntry, Cleared>;
    // What the program did in a few ms. The log lines' text is one string,
    // so that a line costs no allocation of its own, and the log's slot it
    // came from keeps its storage for the next line.
    struct Batch {
        std::vector<Event> events;
        QString lines;
        void AddLine(const QString& line) {
            events.push_back(Line{lines.size(), line.size()});
            lines += line;
        }
        QStringView Text(const Line& line) const { return QStringView(lines).sliced(line.at, line.size); }
    };
    // Takes the program's batch and gives it an empty one back (with the
    // room of one taken before); true when the API thread must be woken for it.
    bool Push(Batch& batch);
    void Take(std::vector<Batch>& into);
    // Batches done with, emptied, for the program to fill again; `done` is left empty.
    void Recycle(std::vector<Batch>& done);
    // Log lines are handed over only while a WebSocket client listens.
    std::atomic<int> listeners{0};
    // Waits for a message: entries reach them at once, not at the next batch.
    std::atomic<int> waiting{0};
    // A batch is due within a few ms anyway; a wake is posted already.
    std::atomic<bool> batchDue{false};
    std::atomic<bool> wakePosted{false};

private:
    std::mutex m_lock;
    std::vector<Batch> m_batches;
    std::vector<Batch> m_spare;
};

class CHApiHttp : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Status = CHApiCall::Status;
    using Handler = std::function<void(const CHApiCallPtr&)>;
    // Where a route runs: on the program's thread (it acts on the program),
    // on this one, or on this one once the program has handed over all it
    // did before the request (a read of the journal's copy).
    enum class Runs { Program, Api, ApiAfterHandOver };
    struct Route {
        QByteArray method;
        QString path; // with {name} for a part the handler reads
        Handler handler;
        Runs runs = Runs::Program;
    };
    static constexpr qsizetype kMaxBody = 16 * 1024 * 1024;
    static constexpr int kMaxWaitMs = 600000;
    static constexpr int kDefaultWaitMs = 10000;
    // How long handed-over events may wait to be taken with the ones after them.
    static constexpr int kBatchMs = 5;

    // Made on the API's thread (Qt's server keeps a WebSocket server that
    // is not its child), as a child of that thread's mailbox; `program` is
    // where the routes acting on the program run.
    CHApiHttp(CHApiMailbox& program, CHApiFeed& feed, int journalCap, std::function<void(QString)> log,
              CHApiMailbox& here);
    CHApiMailbox& Here() { return m_here; }
    ~CHApiHttp() override;
    // `handOver` runs on the program's thread and hands over what it holds back.
    void SetRoutes(std::vector<Route> routes, std::function<void()> handOver) {
        m_routes = std::move(routes);
        m_handOver = std::move(handOver);
    }
    void SetToken(const QByteArray& token);
    // A web page the user visits may not drive the API: browsers name the
    // page in Origin; other clients send none or a loopback one.
    static bool OriginAllowed(const QByteArray& origin);

    // From the program's thread: what happened, in order; `batch` is left empty.
    void Hand(CHApiFeed::Batch& batch) {
        if (m_feed.Push(batch))
            m_here.Post([this] { wake(); });
    }

    // The reading routes, on this thread over its copy of the journal.
    void Messages(const CHApiCallPtr& call);
    void CountMessages(const CHApiCallPtr& call);
    void WaitMessage(const CHApiCallPtr& call);
    // A wait for the first entry after `since` that `match` takes: answered
    // at once when the copy holds one, by T3 for a sent primary
    // (expirySystemBytes), or by its deadline. Call from either thread.
    void AddWaiter(const CHApiCallPtr& call, quint64 since, CHMessageJournal::Match match, int timeoutMs,
                   const QString& timeoutError, std::optional<quint32> expirySystemBytes = std::nullopt);
    // A sent primary's T3 ended; from the program's thread.
    void TimedOut(quint32 systemBytes);
    // Takes what the program handed over: into the copy, to the waits and the stream.
    void Take();

    // The query's filter (since, sf, dir, port); false with a 400 answered.
    static bool FilterFrom(const CHApiCallPtr& call, quint64& since, CHMessageJournal::Match& match);
    // A whole decimal number from a query value, or nothing (-1: not one).
    static std::optional<qint64> Number(const QUrlQuery& query, const QString& key);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Waiter {
        CHApiCallPtr call;
        CHMessageJournal::Match match;
        std::optional<quint32> expirySystemBytes;
        QTimer* timer = nullptr;
    };
    static bool matchPath(const QString& pattern, const QString& path, QStringList& args);
    void addWaiter(const CHApiCallPtr& call, quint64 since, const CHMessageJournal::Match& match, int timeoutMs,
                   const QString& timeoutError, std::optional<quint32> expirySystemBytes);
    void wake();
    void onBatchDue();
    void finishWaiter(std::list<Waiter>::iterator it);

    CHApiMailbox& m_program;
    CHApiMailbox& m_here;
    CHApiFeed& m_feed;
    QByteArray m_token;
    std::vector<Route> m_routes;
    std::function<void()> m_handOver;
    CHMessageJournal* m_journal; // this thread's copy; a child
    CHEntryTextCache m_texts;    // shared with m_events
    CHApiEvents* m_events;       // a child
    std::list<Waiter> m_waiters;
    std::vector<CHApiFeed::Batch> m_taken; // Take()'s room, kept between turns
    QTimer* m_batch;                       // a child
};

} // namespace tovik
