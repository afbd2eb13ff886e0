#pragma once
// Stops a script that runs too long or grows too big. The script runs on the
// GUI thread, so only another thread can stop it: armed on entry into the
// script and disarmed on the way out, it interrupts the engine once the time
// given passes or the program's memory passes its ceiling. The time is the
// CPU time of the thread that armed it: with hundreds of equipments on a few
// cores, a handler waiting for its turn has not run.
//
// The kernel keeps the time: Arm sets a timer on the armed thread's CPU
// clock whose signal goes to the watchdog's thread, so an entry shorter than
// kPoll of CPU costs two system calls and wakes nothing. The thread only
// runs for an entry that lasts: it looks at the memory every kPoll of CPU
// until the time is spent.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

#include <sys/types.h>

class QJSEngine;

namespace tovik {

class CHScriptWatchdog {
public:
    // How often the watchdog looks, in CPU time of the armed thread: the
    // limits are kept to within this.
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
    // or None; `ran` gets the CPU time the armed thread used since Arm.
    // After Disarm the engine may go.
    Cause Disarm(std::chrono::nanoseconds* ran = nullptr);
    bool Fired() const;

    // The program's resident memory now, in bytes (0 when unknown).
    static std::size_t ResidentBytes();

private:
    void run();
    // The timer on `clock` for the watchdog's thread; false when none can be made.
    bool timerFor(clockid_t clock);
    void setTimer(std::chrono::nanoseconds at, bool absolute);

    const std::chrono::milliseconds m_limit;
    const std::function<void()> m_onFire;
    mutable std::mutex m_mutex;
    std::condition_variable m_started;
    pid_t m_tid = 0; // the watchdog's thread, once it runs
    QJSEngine* m_engine = nullptr;
    clockid_t m_clock = CLOCK_MONOTONIC; // the armed thread's CPU clock
    timer_t m_timer{};
    bool m_haveTimer = false;
    // Times on m_clock counted from Arm: the budget, and where the timer
    // goes off next. m_origin is the clock at Arm, read only once an entry
    // outlasts its first step (a short one never reads the clock).
    std::chrono::nanoseconds m_budget{};
    std::chrono::nanoseconds m_stepEnd{};
    std::chrono::nanoseconds m_origin{-1};
    std::size_t m_ceiling = 0;
    bool m_armed = false;
    Cause m_fired = Cause::None;
    bool m_stop = false;
    std::thread m_thread; // last: starts once the rest is set
};

} // namespace tovik
