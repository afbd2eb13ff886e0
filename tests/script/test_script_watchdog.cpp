// The watchdog that stops a runaway script: its thread interrupts the engine
// on the GUI thread's behalf, and only while an entry into the script lasts.
#include "CHScriptWatchdog.h"

#include <QCoreApplication>
#include <QJSEngine>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(ScriptWatchdog, InterruptsARunawayScriptOnlyWhileArmed) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);
    QJSEngine js;
    std::atomic<int> fired{0};
    tovik::CHScriptWatchdog watchdog(200ms, [&] { ++fired; });

    // Disarmed in time: the engine is left alone.
    watchdog.Arm(&js);
    EXPECT_EQ(
        js.evaluate(QStringLiteral("let n = 0; for (let i = 0; i < 1000; ++i) n += i; n")).toInt(),
        499500);
    EXPECT_FALSE(watchdog.Disarm());

    // A loop that never ends is stopped, and says so.
    watchdog.Arm(&js);
    const QJSValue stopped = js.evaluate(QStringLiteral("for (;;) {}"));
    EXPECT_TRUE(stopped.isError());
    EXPECT_TRUE(watchdog.Fired());
    EXPECT_TRUE(watchdog.Disarm());
    EXPECT_EQ(fired.load(), 1);
    js.setInterrupted(false);

    // Re-enabled, the engine runs again; a disarmed watchdog fires no more.
    EXPECT_EQ(js.evaluate(QStringLiteral("6 * 7")).toInt(), 42);
    std::this_thread::sleep_for(300ms + tovik::CHScriptWatchdog::kPoll);
    EXPECT_EQ(fired.load(), 1);
    EXPECT_FALSE(js.isInterrupted());
}

} // namespace
