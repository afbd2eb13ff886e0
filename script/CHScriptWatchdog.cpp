#include "CHScriptWatchdog.h"

#include <QJSEngine>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <unistd.h>

namespace tovik {

namespace {
using std::chrono::nanoseconds;

std::chrono::nanoseconds timeOn(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0)
        return {};
    return std::chrono::seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec);
}

timespec toTimespec(nanoseconds t) {
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(t);
    return {static_cast<time_t>(s.count()), static_cast<long>((t - s).count())};
}

nanoseconds fromTimespec(const timespec& ts) {
    return std::chrono::seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec);
}

// Sent only to the watchdog's own thread, which keeps it blocked and waits
// for it: no handler, and no other thread ever sees it.
int timerSignal() {
    return SIGRTMIN + 4;
}
} // namespace

CHScriptWatchdog::CHScriptWatchdog(std::chrono::milliseconds limit, std::function<void()> onFire)
    : m_limit(limit), m_onFire(std::move(onFire)), m_thread([this] { run(); }) {
    // A timer can only be aimed at the thread once it is known.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_started.wait(lock, [this] { return m_tid != 0; });
}

CHScriptWatchdog::~CHScriptWatchdog() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        if (m_haveTimer)
            ::timer_delete(m_timer);
        m_haveTimer = false;
    }
    ::pthread_kill(m_thread.native_handle(), timerSignal());
    m_thread.join();
}

bool CHScriptWatchdog::timerFor(clockid_t clock) {
    if (m_haveTimer && m_clock == clock)
        return true;
    if (m_haveTimer)
        ::timer_delete(m_timer);
    m_clock = clock;
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = timerSignal();
    event._sigev_un._tid = m_tid; // sigev_notify_thread_id, which this libc does not name
    m_haveTimer = ::timer_create(clock, &event, &m_timer) == 0;
    if (!m_haveTimer)
        std::perror("tovik: no timer for the script's time limit");
    return m_haveTimer;
}

void CHScriptWatchdog::setTimer(nanoseconds at, bool absolute) {
    itimerspec when{};
    when.it_value = toTimespec(std::max(at, nanoseconds(1))); // zero would disarm it
    ::timer_settime(m_timer, absolute ? TIMER_ABSTIME : 0, &when, nullptr);
}

void CHScriptWatchdog::Arm(QJSEngine* engine) {
    Arm(engine, m_limit);
}

void CHScriptWatchdog::Arm(QJSEngine* engine, nanoseconds budget) {
    // CLOCK_THREAD_CPUTIME_ID would be the watchdog's own: the timer runs on
    // the arming thread's clock.
    clockid_t clock = CLOCK_MONOTONIC;
    if (::pthread_getcpuclockid(::pthread_self(), &clock) != 0)
        clock = CLOCK_MONOTONIC;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_engine = engine;
    m_budget = budget;
    m_stepEnd = std::clamp(nanoseconds(kPoll), nanoseconds(1), std::max(budget, nanoseconds(1)));
    m_origin = nanoseconds(-1);
    m_armed = true;
    m_fired = Cause::None;
    if (timerFor(clock))
        setTimer(m_stepEnd, false);
}

void CHScriptWatchdog::SetMemoryCeiling(std::size_t bytes) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_ceiling = bytes;
}

CHScriptWatchdog::Cause CHScriptWatchdog::Disarm(nanoseconds* ran) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    nanoseconds used{};
    if (m_armed && m_haveTimer) {
        // What was left to the next step tells how far the clock went.
        const itimerspec off{};
        itimerspec left{};
        ::timer_settime(m_timer, 0, &off, &left);
        used = std::max(m_stepEnd - fromTimespec(left.it_value), nanoseconds{});
    }
    if (ran)
        *ran = used;
    const Cause fired = m_fired;
    m_armed = false;
    m_fired = Cause::None;
    m_engine = nullptr;
    return fired;
}

bool CHScriptWatchdog::Fired() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_fired != Cause::None;
}

std::size_t CHScriptWatchdog::ResidentBytes() {
    // statm: total and resident size in pages.
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    unsigned long total = 0;
    unsigned long resident = 0;
    const int read = std::fscanf(statm, "%lu %lu", &total, &resident);
    std::fclose(statm);
    return read == 2 ? resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

void CHScriptWatchdog::run() {
    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, timerSignal());
    ::pthread_sigmask(SIG_BLOCK, &wanted, nullptr);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_tid = ::gettid();
    }
    m_started.notify_all();
    for (;;) {
        siginfo_t info{};
        if (::sigwaitinfo(&wanted, &info) < 0)
            continue;
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop)
            return;
        if (!m_armed || m_fired != Cause::None || !m_haveTimer)
            continue;
        itimerspec left{};
        ::timer_gettime(m_timer, &left);
        if (left.it_value.tv_sec != 0 || left.it_value.tv_nsec != 0)
            continue; // an earlier arm's signal: this one's step still runs
        const nanoseconds now = timeOn(m_clock);
        if (m_origin < nanoseconds{})
            m_origin = now - m_stepEnd;
        const nanoseconds spent = now - m_origin;
        Cause cause = Cause::None;
        if (spent >= m_budget)
            cause = Cause::Time;
        else if (m_ceiling != 0 && ResidentBytes() > m_ceiling)
            cause = Cause::Memory;
        if (cause == Cause::None) {
            m_stepEnd = std::min(spent + kPoll, m_budget);
            setTimer(m_origin + m_stepEnd, true);
            continue;
        }
        // The engine is only reached under the lock, so Disarm makes it safe to delete.
        m_engine->setInterrupted(true);
        m_fired = cause;
        if (m_onFire)
            m_onFire();
    }
}

} // namespace tovik
