#pragma once
// The engine in the test's own process: settings file and document in a
// temporary folder, the view with its real drivers, every log line recorded.
#include "CHEventLog.h"
#include "CHSettingsFile.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "harness.h"

#include <QCoreApplication>
#include <QTest>

#include <memory>

namespace harness {

inline QCoreApplication& qtApp() {
    if (QCoreApplication* app = QCoreApplication::instance()) // a widget test's own
        return *app;
    return tovik::test::testApp<QCoreApplication>();
}

struct Engine {
    QTemporaryDir dir;
    std::unique_ptr<tovik::CHSettingsFile> settingsFile;
    std::unique_ptr<tovik::CTovikarDoc> doc;
    std::unique_ptr<tovik::CTovikarView> view;
    std::vector<std::string> log;
    QString selected;

    void start(const Settings& settings, const std::string& document = kDocument) {
        qtApp();
        const QString docPath = dir.filePath(QStringLiteral("engine.tvkm"));
        writeFile(docPath, document);
        writeFile(dir.filePath(QStringLiteral("engine.ini")), settings.text());
        settingsFile = std::make_unique<tovik::CHSettingsFile>(dir.filePath(QStringLiteral("tovik")), dir.path());
        settingsFile->Select(docPath);
        doc = std::make_unique<tovik::CTovikarDoc>();
        doc->SetMessageBoxHandler([](const QString&, const QString&) {});
        doc->OnOpenDocument(docPath);
        view = std::make_unique<tovik::CTovikarView>(*doc);
        view->ApplySettings(settingsFile->Load());
        view->EventLog().AddSink([this](const QString& line) { log.push_back(line.toStdString()); });
        view->SetSelectionProvider([this] { return selected; });
        view->OnInitialUpdate();
    }
    ~Engine() {
        view.reset(); // the drivers close with it
    }
    std::size_t count(const std::string& line) const {
        std::size_t n = 0;
        for (const auto& l : log)
            n += l == line;
        return n;
    }
    bool waitLine(const std::string& line, std::size_t times = 1, int ms = 8000) {
        return QTest::qWaitFor([&] { return count(line) >= times; }, ms);
    }
    void send(const QString& name) {
        selected = name;
        view->OnSendMessage();
    }
};

// The next frame for a raw host while the engine keeps running.
inline std::optional<std::string> recvPumping(RawHost& host, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto m = host.recv(2))
            return m;
        if (host.closed())
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return std::nullopt;
}

// Accepts while the engine runs; -1 when nobody came.
inline int acceptPumping(RawListener& listener) {
    return listener.accept(5000, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
}

} // namespace harness
