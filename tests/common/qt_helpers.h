#pragma once
// One application object per test binary, and the file helpers on Qt paths.
#include "files.h"

#include <QString>

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

} // namespace tovik::test
