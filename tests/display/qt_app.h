#pragma once
// One QApplication for every test of a binary (offscreen platform).
#include <QApplication>

namespace tovik::test {

inline QApplication& qtApp() {
    static int argc = 1;
    static char arg0[] = "tovik_display_test";
    static char* argv[] = {arg0, nullptr};
    // Never destroyed: tearing the platform down during static destruction,
    // after windows have been shown, crashes at exit.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

} // namespace tovik::test
