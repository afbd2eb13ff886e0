#pragma once
// Interrupts a script that runs too long. The script runs on the GUI thread,
// so only another thread can stop it: armed on entry into the script and
// disarmed on the way out, it interrupts the engine once the limit passes.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class QJSEngine;

namespace tovik {

class CHScriptWatchdog {
public:
    // How often the watchdog looks: the limit is kept to within this.
    static constexpr std::chrono::milliseconds kPoll{50};

    // onFire runs on the watchdog's thread right after the interrupt.
    CHScriptWatchdog(std::chrono::milliseconds limit, std::function<void()> onFire);
    ~CHScriptWatchdog();
    CHScriptWatchdog(const CHScriptWatchdog&) = delete;
    CHScriptWatchdog& operator=(const CHScriptWatchdog&) = delete;

    void Arm(QJSEngine* engine);
    // True when the limit passed since Arm (the engine is then interrupted
    // and the caller must re-enable it). After Disarm the engine may go.
    bool Disarm();
    bool Fired() const;

private:
    void run();

    const std::chrono::milliseconds m_limit;
    const std::function<void()> m_onFire;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QJSEngine* m_engine = nullptr;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_armed = false;
    bool m_fired = false;
    bool m_stop = false;
    std::thread m_thread; // last: starts once the rest is set
};

} // namespace tovik
