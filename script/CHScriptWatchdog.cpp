#include "CHScriptWatchdog.h"

#include <QJSEngine>

#include <cstdio>
#include <pthread.h>
#include <unistd.h>

namespace tovik {

namespace {
std::chrono::nanoseconds timeOn(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0)
        return {};
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}
} // namespace

std::chrono::nanoseconds CHScriptWatchdog::ThreadCpuTime() {
    return timeOn(CLOCK_THREAD_CPUTIME_ID);
}

CHScriptWatchdog::CHScriptWatchdog(std::chrono::milliseconds limit, std::function<void()> onFire)
    : m_limit(limit), m_onFire(std::move(onFire)), m_thread([this] { run(); }) {}

CHScriptWatchdog::~CHScriptWatchdog() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void CHScriptWatchdog::Arm(QJSEngine* engine) {
    Arm(engine, m_limit);
}

void CHScriptWatchdog::Arm(QJSEngine* engine, std::chrono::nanoseconds budget) {
    bool wake = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_engine = engine;
        // CLOCK_THREAD_CPUTIME_ID would be the watchdog's own: it reads the
        // arming thread's clock.
        if (::pthread_getcpuclockid(::pthread_self(), &m_clock) != 0)
            m_clock = CLOCK_MONOTONIC;
        m_deadline = timeOn(m_clock) + budget;
        m_armed = true;
        m_fired = Cause::None;
        wake = m_idle;
        m_idle = false;
    }
    // While entries follow each other the watchdog looks every kPoll and
    // needs no wake-up; after a quiet spell it sleeps untimed, so that an
    // idle equipment's process does not wake twenty times a second.
    if (wake)
        m_wake.notify_one();
}

void CHScriptWatchdog::SetMemoryCeiling(std::size_t bytes) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_ceiling = bytes;
}

CHScriptWatchdog::Cause CHScriptWatchdog::Disarm() {
    const std::lock_guard<std::mutex> lock(m_mutex);
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
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (!m_armed) {
            m_idle = true;
            m_wake.wait(lock, [&] { return m_stop || !m_idle; });
            m_idle = false;
            continue;
        }
        m_wake.wait_for(lock, kPoll, [&] { return m_stop; });
        if (m_stop || !m_armed || m_fired != Cause::None)
            continue;
        Cause cause = Cause::None;
        if (timeOn(m_clock) >= m_deadline)
            cause = Cause::Time;
        else if (m_ceiling != 0 && ResidentBytes() > m_ceiling)
            cause = Cause::Memory;
        if (cause == Cause::None)
            continue;
        // The engine is only reached under the lock, so Disarm makes it safe to delete.
        m_engine->setInterrupted(true);
        m_fired = cause;
        if (m_onFire)
            m_onFire();
    }
}

} // namespace tovik
