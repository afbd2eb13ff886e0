#include "CHScriptWatchdog.h"

#include <QJSEngine>

namespace tovik {

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
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_engine = engine;
        m_deadline = std::chrono::steady_clock::now() + m_limit;
        m_armed = true;
        m_fired = false;
    }
    // No wake-up: the watchdog looks every kPoll, so an entry into the
    // script costs two uncontended locks and no thread switch.
}

bool CHScriptWatchdog::Disarm() {
    bool fired;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        fired = m_fired;
        m_armed = false;
        m_fired = false;
        m_engine = nullptr;
    }
    return fired;
}

bool CHScriptWatchdog::Fired() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_fired;
}

void CHScriptWatchdog::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, kPoll, [&] { return m_stop; });
        if (m_stop || !m_armed || m_fired || std::chrono::steady_clock::now() < m_deadline)
            continue;
        // The engine is only reached under the lock, so Disarm makes it safe to delete.
        m_engine->setInterrupted(true);
        m_fired = true;
        if (m_onFire)
            m_onFire();
    }
}

} // namespace tovik
