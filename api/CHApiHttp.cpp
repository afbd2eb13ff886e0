#include "CHApiHttp.h"

#include "CHApiEvents.h"
#include "CHMessagePattern.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QTimer>

#include <future>

namespace tovik {

namespace {
QByteArray methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    default: return "OTHER";
    }
}

QByteArray header(const QHttpServerRequest& request, const QByteArray& name) {
    for (const auto& [key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}
} // namespace

void CHApiCall::answer(const QJsonValue& value, Status status) {
    if (answered)
        return;
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    answerText(doc.toJson(QJsonDocument::Compact), status);
}

void CHApiCall::answerText(const QByteArray& json, Status status) {
    if (answered.exchange(true))
        return;
    if (QThread::currentThread() == http->thread())
        return write(json, status);
    http->Here().Post([self = shared_from_this(), json, status] { self->write(json, status); });
}

void CHApiCall::write(const QByteArray& json, Status status) {
    // Taken out, so that whichever thread lets the call go last has neither
    // a responder nor a pointer of this thread's socket left to destroy.
    QHttpServerResponder r = std::move(responder);
    const QPointer<QTcpSocket> s = std::exchange(socket, nullptr);
    if (s) // the client may have gone away while we waited
        r.write(json, QByteArrayLiteral("application/json"), status);
}

void CHApiMailbox::Post(std::function<void()> job) {
    bool first = false;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        first = m_jobs.empty();
        m_jobs.push_back(std::move(job));
    }
    if (first)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void CHApiMailbox::Run(const std::function<void()>& job) {
    std::promise<void> done;
    Post([&job, &done] {
        job();
        done.set_value();
    });
    done.get_future().wait();
}

void CHApiMailbox::drain() {
    // Run from a list of its own: a job may post again, or end this object.
    std::vector<std::function<void()>> jobs;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        jobs.swap(m_jobs);
    }
    for (const auto& job : jobs)
        job();
}

bool CHApiFeed::Push(Batch& batch) {
    if (batch.events.empty())
        return false;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_batches.push_back(std::move(batch));
        batch = {};
        if (!m_spare.empty()) {
            batch = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    if (batchDue && waiting == 0)
        return false;
    return !wakePosted.exchange(true);
}

void CHApiFeed::Take(std::vector<Batch>& into) {
    const std::lock_guard<std::mutex> hold(m_lock);
    into.swap(m_batches);
}

void CHApiFeed::Recycle(std::vector<Batch>& done) {
    // Emptied here, so that what they held is freed by the thread that takes them.
    for (Batch& b : done) {
        b.events.clear();
        b.lines.resize(0); // keeps its room, unlike clear()
    }
    const std::lock_guard<std::mutex> hold(m_lock);
    for (Batch& b : done)
        if (m_spare.size() < 4)
            m_spare.push_back(std::move(b));
    done.clear();
}

CHApiHttp::CHApiHttp(CHApiMailbox& program, CHApiFeed& feed, int journalCap, std::function<void(QString)> log,
                     CHApiMailbox& here)
    : QAbstractHttpServer(&here), m_program(program), m_here(here), m_feed(feed), m_journal(new CHMessageJournal(this)), m_texts(*m_journal),
      m_batch(new QTimer(this)) {
    m_journal->SetCap(journalCap);
    m_events = new CHApiEvents(*this, *m_journal, m_texts, feed.listeners, std::move(log), this);
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] {
        // What was handed over before the connection goes to the clients that were there.
        Take();
        m_events->Accept();
    });
    // A few ms of what the program hands over is taken at once, and the
    // stream sends it in one socket write per client: a write and the
    // reader's wake-up cost more than the host's whole transaction.
    m_batch->setSingleShot(true);
    m_batch->setInterval(kBatchMs);
    connect(m_batch, &QTimer::timeout, this, &CHApiHttp::onBatchDue);
}

CHApiHttp::~CHApiHttp() {
    for (Waiter& w : m_waiters)
        delete w.timer;
}

bool CHApiHttp::OriginAllowed(const QByteArray& origin) {
    if (origin.isEmpty())
        return true;
    const QString host = QUrl(QString::fromLatin1(origin)).host();
    return host == QStringLiteral("localhost") || QHostAddress(host).isLoopback();
}

void CHApiHttp::SetToken(const QByteArray& token) {
    m_token = token;
    m_events->SetToken(token);
}

bool CHApiHttp::matchPath(const QString& pattern, const QString& path, QStringList& args) {
    const QStringList want = pattern.split(QLatin1Char('/'));
    QStringList have = path.split(QLatin1Char('/'));
    for (QString& part : have)
        part = QUrl::fromPercentEncoding(part.toLatin1());
    if (want.size() != have.size())
        return false;
    QStringList found;
    for (qsizetype i = 0; i < want.size(); ++i) {
        if (want[i].startsWith(QLatin1Char('{'))) {
            if (have[i].isEmpty())
                return false;
            found << have[i];
        } else if (want[i] != have[i]) {
            return false;
        }
    }
    args = found;
    return true;
}

bool CHApiHttp::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    // Qt's server goes on with a WebSocket upgrade once a responder for the
    // request was made and let go unused; CHApiEvents checks those clients.
    if (header(request, "Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        makeResponder(request, socket);
        return true;
    }
    // The call's texts are its own, not shared with Qt's request: a call may
    // end on the program's thread, the request ends on this one.
    auto call = std::make_shared<CHApiCall>(this, makeResponder(request, socket), socket,
                                            QUrlQuery(request.url().query(QUrl::FullyEncoded)));
    if (!m_token.isEmpty() && header(request, "Authorization") != "Bearer " + m_token) {
        call->fail(Status::Unauthorized, QStringLiteral("missing or wrong bearer token"));
        return true;
    }
    if (!OriginAllowed(header(request, "Origin"))) {
        call->fail(Status::Forbidden, QStringLiteral("requests from web pages are refused"));
        return true;
    }
    const QString path = request.url().path(QUrl::FullyEncoded);
    if (request.body().size() > kMaxBody) {
        call->fail(Status::PayloadTooLarge, QStringLiteral("request body over 16 MiB"));
        return true;
    }
    call->body = QByteArray(request.body().constData(), request.body().size());
    // Split before decoding: a name may hold an encoded slash.
    const QByteArray method = methodName(request.method());
    bool pathKnown = false;
    for (const Route& r : m_routes) {
        QStringList args;
        if (!matchPath(r.path, path, args))
            continue;
        pathKnown = true;
        if (r.method != method)
            continue;
        call->args = args;
        const Handler* handler = &r.handler;
        switch (r.runs) {
        case Runs::Api:
            r.handler(call);
            break;
        case Runs::Program:
            // Its answer comes back to this thread to be written.
            m_program.Post([this, handler, call] {
                (*handler)(call);
                m_handOver();
            });
            break;
        case Runs::ApiAfterHandOver:
            // Whatever the client saw happen before it asked is in the copy when it is read.
            m_program.Post([this, handler, call] {
                m_handOver();
                m_here.Post([handler, call] { (*handler)(call); });
            });
            break;
        }
        return true;
    }
    if (pathKnown)
        call->fail(Status::MethodNotAllowed, QStringLiteral("method not allowed here"));
    else
        call->fail(Status::NotFound, QStringLiteral("no such resource"));
    return true;
}

void CHApiHttp::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket)
        .write(QByteArrayLiteral("{\"error\":\"no such resource\"}"), QByteArrayLiteral("application/json"),
               Status::NotFound);
}

std::optional<qint64> CHApiHttp::Number(const QUrlQuery& query, const QString& key) {
    if (!query.hasQueryItem(key))
        return std::nullopt;
    bool ok = false;
    const qint64 v = query.queryItemValue(key, QUrl::FullyDecoded).toLongLong(&ok);
    if (!ok || v < 0)
        return -1;
    return v;
}

bool CHApiHttp::FilterFrom(const CHApiCallPtr& call, quint64& since, CHMessageJournal::Match& match) {
    const QUrlQuery& q = call->query;
    since = 0;
    if (const auto v = Number(q, QStringLiteral("since"))) {
        if (*v < 0) {
            call->fail(Status::BadRequest, QStringLiteral("since: a whole number was expected"));
            return false;
        }
        since = static_cast<quint64>(*v);
    }
    std::optional<CHMessagePattern> sf;
    if (q.hasQueryItem(QStringLiteral("sf"))) {
        sf = CHMessagePattern::Parse(q.queryItemValue(QStringLiteral("sf"), QUrl::FullyDecoded));
        if (!sf) {
            call->fail(Status::BadRequest, QStringLiteral("sf: S1F1, S6F*, S*F* or * was expected"));
            return false;
        }
    }
    int dir = -1;
    if (q.hasQueryItem(QStringLiteral("dir"))) {
        const QString d = q.queryItemValue(QStringLiteral("dir"), QUrl::FullyDecoded);
        dir = d == QStringLiteral("in") ? CHJournalEntry::In : d == QStringLiteral("out") ? CHJournalEntry::Out : -2;
        if (dir == -2) {
            call->fail(Status::BadRequest, QStringLiteral("dir: in or out was expected"));
            return false;
        }
    }
    int port = -1;
    if (const auto v = Number(q, QStringLiteral("port"))) {
        if (*v < 0 || *v > 1) {
            call->fail(Status::BadRequest, QStringLiteral("port: 0 (SECS-I) or 1 (HSMS) was expected"));
            return false;
        }
        port = static_cast<int>(*v);
    }
    match = [sf, dir, port](const CHJournalEntry& e) {
        return (!sf || (e.sType() == 0 && sf->Matches(e.stream(), e.function()))) &&
               (dir < 0 || e.direction == dir) && (port < 0 || e.port == port);
    };
    return true;
}

void CHApiHttp::Messages(const CHApiCallPtr& call) {
    quint64 since = 0;
    CHMessageJournal::Match match;
    if (!FilterFrom(call, since, match))
        return;
    std::size_t limit = 0;
    if (const auto v = Number(call->query, QStringLiteral("limit"))) {
        if (*v < 0)
            return call->fail(Status::BadRequest, QStringLiteral("limit: a whole number was expected"));
        limit = static_cast<std::size_t>(*v);
    }
    Take();
    call->answerText(m_texts.ArrayText(m_journal->Find(since, match, limit)));
}

void CHApiHttp::CountMessages(const CHApiCallPtr& call) {
    quint64 since = 0;
    CHMessageJournal::Match match;
    if (!FilterFrom(call, since, match))
        return;
    Take();
    call->answer(QJsonObject{{QStringLiteral("count"), static_cast<qint64>(m_journal->Count(since, match))}});
}

void CHApiHttp::WaitMessage(const CHApiCallPtr& call) {
    quint64 since = 0;
    CHMessageJournal::Match match;
    if (!FilterFrom(call, since, match))
        return;
    int timeout = kDefaultWaitMs;
    if (const auto v = Number(call->query, QStringLiteral("timeout"))) {
        if (*v < 0 || *v > kMaxWaitMs)
            return call->fail(Status::BadRequest, QStringLiteral("timeout: 0 to %1 ms was expected").arg(kMaxWaitMs));
        timeout = static_cast<int>(*v);
    }
    AddWaiter(call, since, std::move(match), timeout, QStringLiteral("no matching message within %1 ms").arg(timeout));
}

void CHApiHttp::AddWaiter(const CHApiCallPtr& call, quint64 since, CHMessageJournal::Match match, int timeoutMs,
                          const QString& timeoutError, std::optional<quint32> expirySystemBytes) {
    // Counted at once, so that the program hands over what follows without delay.
    ++m_feed.waiting;
    if (QThread::currentThread() == thread())
        return addWaiter(call, since, match, timeoutMs, timeoutError, expirySystemBytes);
    m_here.Post([=, this] { addWaiter(call, since, match, timeoutMs, timeoutError, expirySystemBytes); });
}

void CHApiHttp::addWaiter(const CHApiCallPtr& call, quint64 since, const CHMessageJournal::Match& match,
                          int timeoutMs, const QString& timeoutError, std::optional<quint32> expirySystemBytes) {
    Take();
    const auto found = m_journal->Find(since, match, 1);
    if (!found.empty()) {
        --m_feed.waiting;
        return call->answerText(m_texts.Text(*found.front()));
    }
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    m_waiters.push_back({call, match, expirySystemBytes, timer});
    connect(timer, &QTimer::timeout, this, [this, timer, timeoutError] {
        for (auto it = m_waiters.begin(); it != m_waiters.end(); ++it) {
            if (it->timer == timer) {
                it->call->fail(Status::GatewayTimeout, timeoutError);
                finishWaiter(it);
                return;
            }
        }
    });
    timer->start(timeoutMs);
}

void CHApiHttp::finishWaiter(std::list<Waiter>::iterator it) {
    it->timer->deleteLater();
    m_waiters.erase(it);
    --m_feed.waiting;
}

void CHApiHttp::TimedOut(quint32 systemBytes) {
    m_here.Post([this, systemBytes] {
            // The reply may have been handed over just before.
            Take();
            for (auto it = m_waiters.begin(); it != m_waiters.end();) {
                if (it->expirySystemBytes == systemBytes) {
                    it->call->fail(Status::GatewayTimeout, QStringLiteral("T3 time out: no reply"));
                    auto done = it++;
                    finishWaiter(done);
                } else {
                    ++it;
                }
            }
    });
}

void CHApiHttp::wake() {
    m_feed.wakePosted = false;
    Take();
}

void CHApiHttp::onBatchDue() {
    m_feed.batchDue = false;
    Take();
    m_events->Flush();
}

void CHApiHttp::Take() {
    m_feed.Take(m_taken);
    if (m_taken.empty())
        return;
    for (CHApiFeed::Batch& batch : m_taken) {
        for (CHApiFeed::Event& event : batch.events) {
            if (const auto* line = std::get_if<CHApiFeed::Line>(&event)) {
                m_events->Line(batch.Text(*line));
            } else if (auto* entry = std::get_if<CHJournalEntry>(&event)) {
                const CHJournalEntry& kept = m_journal->Keep(std::move(*entry));
                m_events->Entry(kept);
                for (auto it = m_waiters.begin(); it != m_waiters.end();) {
                    if (it->match && it->match(kept)) {
                        it->call->answerText(m_texts.Text(kept));
                        auto done = it++;
                        finishWaiter(done);
                    } else {
                        ++it;
                    }
                }
            } else {
                m_journal->Clear();
            }
        }
    }
    m_feed.Recycle(m_taken);
    if (!m_batch->isActive()) {
        m_feed.batchDue = true;
        m_batch->start();
    }
}

} // namespace tovik
