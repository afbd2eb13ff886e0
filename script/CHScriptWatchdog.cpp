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

timespec toTimespec(nanoseconds t) {
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(t);
    return {static_cast<time_t>(s.count()), static_cast<long>((t - s).count())};
}

nanoseconds timeOn(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0)
        return {};
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
    if (!m_haveTimer) {
        std::perror("tovik: no timer for the script's time limit");
        return false;
    }
    m_due = timeOn(clock);
    m_lastLook = std::chrono::steady_clock::now();
    m_seenRan = {};
    m_lastSeen = 0;
    schedule();
    return true;
}

void CHScriptWatchdog::schedule() {
    // Looks at a fixed period could fall in step with work that repeats at a
    // fraction of it, and see the script at every look or at none: the
    // periods are drawn at random around kPoll. Each is counted from the
    // last one's end on the clock, so none is lost when this thread wakes late.
    m_period = kPoll / 2 + nanoseconds(std::uniform_int_distribution<std::int64_t>(
                               0, nanoseconds(kPoll).count())(m_random));
    m_due += m_period;
    itimerspec at{};
    at.it_value = toTimespec(m_due);
    ::timer_settime(m_timer, TIMER_ABSTIME, &at, nullptr);
}

void CHScriptWatchdog::Arm(QJSEngine* engine) {
    // CLOCK_THREAD_CPUTIME_ID would be the watchdog's own: the timer runs on
    // the arming thread's clock.
    clockid_t clock = CLOCK_MONOTONIC;
    if (::pthread_getcpuclockid(::pthread_self(), &clock) != 0)
        clock = CLOCK_MONOTONIC;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_engine = engine;
    m_armed = true;
    ++m_entry;
    m_fired = Cause::None;
    if (!timerFor(clock) || !m_exact) {
        m_enteredAt = nanoseconds(-1);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    m_held = std::max(m_held - nanoseconds(now - m_leftAt) / 2, nanoseconds{});
    m_enteredAt = timeOn(m_clock);
}

void CHScriptWatchdog::SetMemoryCeiling(std::size_t bytes) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_ceiling = bytes;
}

CHScriptWatchdog::Cause CHScriptWatchdog::Disarm() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    Cause fired = m_fired;
    if (m_armed && m_exact && m_enteredAt >= nanoseconds{}) {
        m_held += std::max(timeOn(m_clock) - m_enteredAt, nanoseconds{});
        m_leftAt = std::chrono::steady_clock::now();
        if (fired == Cause::None && m_held >= m_limit)
            fired = Cause::Held;
        else if (m_held < m_limit / 8) {
            m_exact = false;
            m_lastLook = m_leftAt;
        }
    }
    m_armed = false;
    m_fired = Cause::None;
    m_engine = nullptr;
    return fired;
}

bool CHScriptWatchdog::Fired() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_fired != Cause::None;
}

void CHScriptWatchdog::Forgive() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_held = {};
    m_exact = false;
    m_lastLook = std::chrono::steady_clock::now();
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

void CHScriptWatchdog::look() {
    if (!m_exact) {
        // Sampled: a look that finds an entry armed counts the period as held.
        const auto now = std::chrono::steady_clock::now();
        const nanoseconds outside = (now - m_lastLook) - (m_armed ? m_period : nanoseconds{});
        m_lastLook = now;
        m_held = std::max(m_held - std::max(outside, nanoseconds{}) / 2, nanoseconds{});
        if (m_armed && m_fired == Cause::None)
            m_held += m_period;
        // A sample only tells that the script holds the engine a lot
        // lately; from here on entries are timed to know how much.
        if (m_held >= m_limit / 4) {
            m_exact = true;
            m_leftAt = now;
        }
    }
    if (!m_armed || m_fired != Cause::None) {
        m_lastSeen = 0;
        return;
    }
    // Seen at looks in a row, the entry has run at least for the periods between them.
    m_seenRan = m_lastSeen == m_entry ? m_seenRan + m_period : nanoseconds{};
    m_lastSeen = m_entry;
    // An entry timed from its start adds what it ran so far; one armed
    // while sampling has its share in m_held already.
    const nanoseconds held = m_exact && m_enteredAt >= nanoseconds{} ? m_held + m_seenRan : m_held;
    Cause cause = Cause::None;
    if (m_seenRan >= m_limit)
        cause = Cause::Time;
    else if (m_exact && held >= m_limit)
        cause = m_seenRan >= m_limit / 2 ? Cause::Time : Cause::Held;
    else if (m_ceiling != 0 && ResidentBytes() > m_ceiling)
        cause = Cause::Memory;
    if (cause == Cause::None)
        return;
    if (cause == Cause::Time)
        m_held = {};
    // The engine is only reached under the lock, so Disarm makes it safe to delete.
    m_engine->setInterrupted(true);
    m_fired = cause;
    if (m_onFire)
        m_onFire();
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
        if (!m_haveTimer || info.si_code != SI_TIMER)
            continue;
        look();
        schedule();
    }
}

} // namespace tovik
