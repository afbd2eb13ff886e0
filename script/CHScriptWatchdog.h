#pragma once
// Stops a script that runs too long or grows too big. The script runs on the
// GUI thread, so only another thread can stop it: armed on entry into the
// script and disarmed on the way out, it interrupts the engine once the time
// given passes or the program's memory passes its ceiling. The time is the
// CPU time of the thread that armed it: with hundreds of equipments on a few
// cores, a handler waiting for its turn has not run.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

class QJSEngine;

namespace tovik {

class CHScriptWatchdog {
public:
    // How often the watchdog looks: the limits are kept to within this.
    static constexpr std::chrono::milliseconds kPoll{50};

    enum class Cause { None, Time, Memory };

    // onFire runs on the watchdog's thread right after the interrupt.
    CHScriptWatchdog(std::chrono::milliseconds limit, std::function<void()> onFire);
    ~CHScriptWatchdog();
    CHScriptWatchdog(const CHScriptWatchdog&) = delete;
    CHScriptWatchdog& operator=(const CHScriptWatchdog&) = delete;

    // Arms for the limit, or for `budget` when given (what is left of it).
    void Arm(QJSEngine* engine);
    void Arm(QJSEngine* engine, std::chrono::nanoseconds budget);
    // Resident memory above which an armed engine is stopped; 0: none.
    void SetMemoryCeiling(std::size_t bytes);
    // Why the engine was interrupted since Arm (it must then be re-enabled),
    // or None. After Disarm the engine may go.
    Cause Disarm();
    bool Fired() const;

    // The program's resident memory now, in bytes (0 when unknown).
    static std::size_t ResidentBytes();
    // The CPU time the calling thread has used.
    static std::chrono::nanoseconds ThreadCpuTime();

private:
    void run();

    const std::chrono::milliseconds m_limit;
    const std::function<void()> m_onFire;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QJSEngine* m_engine = nullptr;
    clockid_t m_clock = CLOCK_THREAD_CPUTIME_ID; // the armed thread's CPU clock
    std::chrono::nanoseconds m_deadline{};       // on m_clock
    std::size_t m_ceiling = 0;
    bool m_armed = false;
    Cause m_fired = Cause::None;
    bool m_stop = false;
    bool m_idle = false; // the thread sleeps until the next Arm
    std::thread m_thread; // last: starts once the rest is set
};

} // namespace tovik
