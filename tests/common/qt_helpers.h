#pragma once
// One application object per test binary, the file helpers on Qt paths, and
// event-loop pumps for a peer that waits in the test's own thread.
#include "files.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>

#include <chrono>
#include <functional>

namespace tovik::test {

// App is QCoreApplication or QApplication, whichever the binary links.
// Never destroyed: tearing Qt's GUI down during static destruction crashes
// in its input-device registry once windows have existed.
template <class App> App& testApp() {
    static int argc = 1;
    static char arg0[] = "tovik_test";
    static char* argv[] = {arg0, nullptr};
    static App* app = new App(argc, argv);
    return *app;
}

inline QByteArray readAll(const QString& path) {
    return QByteArray::fromStdString(readFile(path.toStdString()));
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    return writeFile(path.toStdString(), bytes.toStdString());
}


// One short turn of the event loop, for a peer that waits in the same thread.
inline void pumpOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Runs the event loop until `done` holds; false once boundMs have passed.
inline bool pumpUntil(const std::function<bool()>& done, int boundMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        pumpOnce();
        QThread::usleep(200);
    }
    return true;
}

inline void pumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pumpUntil([&] { return std::chrono::steady_clock::now() > end; }, ms + 1000);
}

} // namespace tovik::test
