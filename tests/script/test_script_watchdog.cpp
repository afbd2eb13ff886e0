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
using Cause = tovik::CHScriptWatchdog::Cause;

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
    EXPECT_EQ(watchdog.Disarm(), Cause::None);

    // A loop that would run for 5 s is stopped, and says so.
    watchdog.Arm(&js);
    const QJSValue stopped =
        js.evaluate(QStringLiteral("const t = Date.now(); while (Date.now() - t < 5000) {}"));
    EXPECT_TRUE(stopped.isError());
    EXPECT_TRUE(watchdog.Fired());
    EXPECT_EQ(watchdog.Disarm(), Cause::Time);
    EXPECT_EQ(fired.load(), 1);
    js.setInterrupted(false);

    // Re-enabled, the engine runs again; a disarmed watchdog fires no more.
    EXPECT_EQ(js.evaluate(QStringLiteral("6 * 7")).toInt(), 42);
    std::this_thread::sleep_for(300ms + tovik::CHScriptWatchdog::kPoll);
    EXPECT_EQ(fired.load(), 1);
    EXPECT_FALSE(js.isInterrupted());

    // Only the armed thread's CPU time counts: waiting for a core is not running.
    watchdog.Arm(&js);
    std::this_thread::sleep_for(400ms + tovik::CHScriptWatchdog::kPoll);
    EXPECT_EQ(js.evaluate(QStringLiteral("6 * 7")).toInt(), 42);
    EXPECT_EQ(watchdog.Disarm(), Cause::None);

    // A script that grows past the memory ceiling is stopped before its time.
    watchdog.SetMemoryCeiling(tovik::CHScriptWatchdog::ResidentBytes() + 64 * 1024 * 1024);
    watchdog.Arm(&js, 60s);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(js.evaluate(QStringLiteral("const a = []; for (;;) a.push('x'.repeat(4096) + a.length);"))
                    .isError());
    EXPECT_EQ(watchdog.Disarm(), Cause::Memory);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

} // namespace
