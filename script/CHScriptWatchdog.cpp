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
        ++m_generation;
    }
    m_wake.notify_one();
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
    m_wake.notify_one();
    return fired;
}

bool CHScriptWatchdog::Fired() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_fired;
}

void CHScriptWatchdog::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (!m_armed || m_fired) {
            m_wake.wait(lock);
            continue;
        }
        const uint64_t generation = m_generation;
        if (m_wake.wait_until(lock, m_deadline,
                              [&] { return m_stop || !m_armed || m_generation != generation; }))
            continue;
        // The engine is only reached under the lock, so Disarm makes it safe to delete.
        m_engine->setInterrupted(true);
        m_fired = true;
        if (m_onFire)
            m_onFire();
    }
}

} // namespace tovik
