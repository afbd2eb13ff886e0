#pragma once
// Stops a script that runs too long, holds the program too much or grows too
// big. The script runs on the GUI thread, so only another thread can stop it:
// armed on entry into the script and disarmed on the way out, it interrupts
// the engine when one entry passes the time limit, when entries that follow
// one another hold the engine more than a third of the time until they have
// held it for the limit, or when the program's memory passes its ceiling.
// Times are CPU time of the thread that armed it: with hundreds of
// equipments on a few cores, a handler waiting for its turn has not run.
//
// The kernel keeps the time and the watchdog samples: a timer on the armed
// thread's CPU clock sends the watchdog's thread a signal about every kPoll
// of that thread's CPU, and the thread looks whether an entry is armed then,
// and whether it is the one it saw last time. Arm and Disarm only set a few
// fields under a lock, so an entry costs no system call, and an idle
// program's clock does not move, so nothing wakes. Only once the samples say
// that the script held the engine a good part of the time lately are entries
// timed on the clock (two system calls each), until it is let go again: the
// decision to stop a script never rests on samples alone.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include <sys/types.h>

class QJSEngine;

namespace tovik {

class CHScriptWatchdog {
public:
    // How often the watchdog looks, in CPU time of the armed thread: the
    // limits are kept to within this.
    static constexpr std::chrono::milliseconds kPoll{50};

    // Time: one entry ran for the limit (or for half of it when the engine
    // was held before); Held: short entries held the engine too much.
    enum class Cause { None, Time, Held, Memory };

    // onFire runs on the watchdog's thread right after the interrupt.
    CHScriptWatchdog(std::chrono::milliseconds limit, std::function<void()> onFire);
    ~CHScriptWatchdog();
    CHScriptWatchdog(const CHScriptWatchdog&) = delete;
    CHScriptWatchdog& operator=(const CHScriptWatchdog&) = delete;

    void Arm(QJSEngine* engine);
    // Resident memory above which an armed engine is stopped; 0: none.
    void SetMemoryCeiling(std::size_t bytes);
    // Why the engine was interrupted since Arm (it must then be re-enabled),
    // or None. After Disarm the engine may go.
    Cause Disarm();
    bool Fired() const;
    // Forgets how much the engine was held lately (a new script). An entry
    // interrupted for its time is forgiven by the watchdog itself.
    void Forgive();

    // The program's resident memory now, in bytes (0 when unknown).
    static std::size_t ResidentBytes();

private:
    void run();
    // The timer on `clock` for the watchdog's thread; false when none can be made.
    bool timerFor(clockid_t clock);
    // Sets the timer for the next look.
    void schedule();
    // One look, when the period has passed on the clock.
    void look();

    const std::chrono::milliseconds m_limit;
    const std::function<void()> m_onFire;
    mutable std::mutex m_mutex;
    std::condition_variable m_started;
    pid_t m_tid = 0; // the watchdog's thread, once it runs
    QJSEngine* m_engine = nullptr;
    clockid_t m_clock = CLOCK_MONOTONIC; // the armed thread's CPU clock
    timer_t m_timer{};
    bool m_haveTimer = false;
    std::size_t m_ceiling = 0;
    bool m_armed = false;
    std::uint64_t m_entry = 0;     // counts Arm: tells one entry from the next
    std::uint64_t m_lastSeen = 0;  // the entry armed at the last look, or 0
    std::chrono::nanoseconds m_seenRan{}; // how long it has run at least
    std::chrono::nanoseconds m_due{};     // the next look on m_clock
    std::chrono::nanoseconds m_period{};  // the time on m_clock up to it
    std::minstd_rand m_random{std::random_device{}()};
    // CPU time the script held the engine lately. It drains at half the pace
    // of the time that passes outside the script, and grows by a period at
    // each look that finds an entry armed, or, once m_exact, by the time each
    // entry ran on the clock.
    std::chrono::nanoseconds m_held{};
    std::chrono::steady_clock::time_point m_lastLook; // sampled: drained up to here
    bool m_exact = false;
    std::chrono::nanoseconds m_enteredAt{-1};        // exact: the clock at Arm
    std::chrono::steady_clock::time_point m_leftAt;  // exact: drained up to here
    Cause m_fired = Cause::None;
    bool m_stop = false;
    std::thread m_thread; // last: starts once the rest is set
};

} // namespace tovik
