// The watchdog that stops a runaway script: its thread interrupts the engine
// on the GUI thread's behalf, and only while an entry into the script lasts.
#include "CHScriptWatchdog.h"

#include <QCoreApplication>
#include <QJSEngine>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
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
    tovik::CHScriptWatchdog patient(60s, {});
    patient.SetMemoryCeiling(tovik::CHScriptWatchdog::ResidentBytes() + 64 * 1024 * 1024);
    patient.Arm(&js);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(js.evaluate(QStringLiteral("const a = []; for (;;) a.push('x'.repeat(4096) + a.length);"))
                    .isError());
    EXPECT_EQ(patient.Disarm(), Cause::Memory);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

// Short entries one after another: holding the engine a fifth of the time is
// allowed for good, holding it most of the time is stopped once it has held
// it for the limit, not before.
TEST(ScriptWatchdog, StopsShortEntriesThatHoldTheEngine) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);
    QJSEngine js;
    js.evaluate(QStringLiteral("function work(ms) { const t = Date.now(); while (Date.now() - t < ms) {} }"));
    const auto thread = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
    };
    tovik::CHScriptWatchdog watchdog(300ms, {});
    // Runs entries of `work` with `rest` between them until the watchdog
    // fires or `total` of entries ran; gives the cause and the CPU time of entries.
    const auto run = [&](std::chrono::milliseconds work, std::chrono::milliseconds rest,
                         std::chrono::milliseconds total) {
        std::chrono::nanoseconds ran{};
        Cause cause = Cause::None;
        const QString call = QStringLiteral("work(%1)").arg(work.count());
        while (cause == Cause::None && ran < total) {
            const auto before = thread();
            watchdog.Arm(&js);
            js.evaluate(call);
            cause = watchdog.Disarm();
            ran += thread() - before;
            const auto restUntil = std::chrono::steady_clock::now() + rest;
            while (std::chrono::steady_clock::now() < restUntil) {
            }
        }
        js.setInterrupted(false);
        return std::make_pair(cause, ran);
    };
    const auto [light, lightRan] = run(2ms, 8ms, 400ms);
    EXPECT_EQ(light, Cause::None);
    EXPECT_GE(lightRan, 400ms);

    // Once one long entry has made it count closely, a quarter is still allowed.
    watchdog.Forgive();
    EXPECT_EQ(run(150ms, 0ms, 150ms).first, Cause::None);
    const auto [quarter, quarterRan] = run(2ms, 6ms, 400ms);
    EXPECT_EQ(quarter, Cause::None);
    EXPECT_GE(quarterRan, 400ms);

    watchdog.Forgive();
    const auto [heavy, heavyRan] = run(2ms, 1ms, 5000ms);
    EXPECT_EQ(heavy, Cause::Held);
    EXPECT_GE(heavyRan, 300ms - tovik::CHScriptWatchdog::kPoll * 2);
    EXPECT_LT(heavyRan, 1500ms);
}

} // namespace
