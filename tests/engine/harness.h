#pragma once
// Shared pieces of the engine tests: temporary documents and settings, the
// tovik executable run headless, and the raw HSMS peer of tests/common.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "../common/files.h"
#include "../common/qt_helpers.h"
#include "hsms_peer.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace harness {

using namespace hsmstest;

inline void writeFile(const QString& path, const std::string& text) {
    tovik::test::writeFile(path.toStdString(), text);
}

// Settings text with the values a test changes; the rest keep their defaults.
struct Settings {
    int protocol = 0;
    int deviceId = 0;
    bool server = true;
    int port = 5000;
    int localPort = 5000;
    bool showBody = true;
    bool showDateTime = true;
    bool sendSelect = true;
    int t3 = 45000;
    int t8 = 2000;
    std::string devicePath;
    std::string scriptFile; // Script/File, when set
    bool verbose = false;
    bool invokeEvent = false;
    bool master = true;
    bool disconnectAtSeparate = true;
    // Extra values, as "Name=value\n" lines of their section.
    std::string hsmsExtra;
    std::string timeOutExtra;
    std::string secsExtra;
    std::string scriptExtra;
    std::string extraSections; // whole sections, appended as they are

    std::string text() const {
        auto b = [](bool v) { return v ? "1" : "0"; };
        std::string s;
        s += "[Preferences]\nProtocol=" + std::to_string(protocol) + "\nDeviceID=" + std::to_string(deviceId) +
             "\nCheckDeviceID=1\n";
        s += "[HSMS]\nServer=" + std::string(b(server)) + "\nIPAddress=127.0.0.1\nPortNumber=" +
             std::to_string(port) + "\nLocalPortNumber=" + std::to_string(localPort) +
             "\nDisconnectAtSeparateReq=" + b(disconnectAtSeparate) +
             "\nSendSelectReqAtConnect=" + b(sendSelect) + "\n" + hsmsExtra;
        s += "[Info]\nShowMsgHeader=1\nShowMsgBody=" + std::string(b(showBody)) + "\nShowDateTime=" +
             b(showDateTime) + "\nShowConnection=1\n";
        s += "[TimeOut]\nT1=300\nT2=1000\nT3=" + std::to_string(t3) + "\nT4=2000\nT8=" + std::to_string(t8) + "\n" +
             timeOutExtra;
        s += "[SECS]\nCommPort=1\nBaudRate=115200\nRetry=2\nMaster=" + std::string(b(master)) + "\n";
        if (!devicePath.empty())
            s += "DevicePath=" + devicePath + "\n";
        s += secsExtra;
        s += "[Log]\nLogVerbose=" + std::string(b(verbose)) + "\n";
        s += "[Event]\nInvokeEvent=" + std::string(b(invokeEvent)) + "\nEventStream=99\nEventFunction=99\n";
        if (!scriptFile.empty() || !scriptExtra.empty())
            s += "[Script]\n" + (scriptFile.empty() ? "" : "File=" + scriptFile + "\n") + scriptExtra;
        return s + extraSections;
    }
};

// One S1F2 answer, two candidates for S2F18, nothing for the rest.
inline const char* kDocument =
    "'S1F2 Data'\r\nBegin List\r\ns1f2\r\n{\r\n\t<a'EQ'>\r\n\t<a'1'>\r\n}\r\nEnd List\r\n\r\n"
    "'S2F18 First'\r\nBegin List\r\ns2f18\r\n<a'20240101'>\r\nEnd List\r\n\r\n"
    "'S2F18 Second'\r\nBegin List\r\ns2f18\r\n<a'20250101'>\r\nEnd List\r\n\r\n"
    "'S1F1 Are You There'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n\r\n"
    "'S1F3 Status'\r\nBegin Msg\r\n00 00 81 03 00 00 00 00 00 00 01 00\r\nEnd Msg\r\n\r\n";
// The body of 'S1F2 Data', encoded by hand: a list of two ASCII items.
inline const char* kS1F2Body = "01024102455141013" "1";

#ifdef TOVIK_EXE
// The tovik executable run headless on a temporary document; its standard
// output goes to a file so a busy run never stalls on a full pipe.
class Tovik {
public:
    // More files for the folder (name, text), written before the start.
    using Files = std::vector<std::pair<QString, std::string>>;
    explicit Tovik(const Settings& settings, const std::string& document = kDocument,
                   bool writeDocument = true, const Files& files = {},
                   const QStringList& options = {}) {
        docPath = dir.filePath(QStringLiteral("equipment.tvkm"));
        if (writeDocument)
            writeFile(docPath, document);
        writeFile(dir.filePath(QStringLiteral("equipment.ini")), settings.text());
        for (const auto& [name, text] : files) {
            QDir().mkpath(QFileInfo(dir.filePath(name)).absolutePath());
            writeFile(dir.filePath(name), text);
        }
        proc.setStandardOutputFile(dir.filePath(QStringLiteral("out.txt")));
        proc.setStandardErrorFile(dir.filePath(QStringLiteral("err.txt")));
        proc.start(QStringLiteral(TOVIK_EXE),
                   QStringList{QStringLiteral("--headless")} + options + QStringList{docPath});
        proc.waitForStarted();
    }
    ~Tovik() {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished();
        }
    }
    std::string out() const { return readAll(QStringLiteral("out.txt")); }
    std::string err() const { return readAll(QStringLiteral("err.txt")); }
    std::vector<std::string> lines() const {
        std::vector<std::string> v;
        const std::string s = out();
        std::size_t at = 0;
        while (at < s.size()) {
            const std::size_t nl = s.find('\n', at);
            if (nl == std::string::npos)
                break; // only whole lines
            v.push_back(s.substr(at, nl - at));
            at = nl + 1;
        }
        return v;
    }
    std::size_t count(const std::string& line) const {
        std::size_t n = 0;
        for (const auto& l : lines())
            n += l == line;
        return n;
    }
    std::size_t countPrefix(const std::string& prefix) const {
        std::size_t n = 0;
        for (const auto& l : lines())
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
    // Waits until Tovik has seen `times` connections go; false after 10 s.
    bool waitDisconnects(std::size_t times) const {
        return waitFor([&] { return countPrefix("Disconnected with ") >= times; });
    }
    // Waits until `line` has been written `times` times; false after 10 s.
    bool waitLine(const std::string& line, std::size_t times = 1) const {
        return waitFor([&] { return count(line) >= times; });
    }
    template <class Done> static bool waitFor(Done done, int ms = 10000) {
        for (int i = 0; i < ms / 10; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }
    // The exit code once the program ends by itself (-1 when it did not
    // within ms, -2 when it crashed).
    int exitCode(int ms = 20000) {
        if (!proc.waitForFinished(ms))
            return -1;
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -2;
    }
    // SIGTERM, then the exit code (-1 when it did not end within 10 s).
    int terminate() {
        proc.terminate();
        if (!proc.waitForFinished(10000))
            return -1;
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -2;
    }

    // The CPU time the program has used so far (its script limit counts
    // CPU time, which a loaded machine stretches in wall time).
    std::chrono::milliseconds cpuUsed() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(proc.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return {};
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        // After the name: state is field 1, utime and stime are 12 and 13.
        const long ticks = fields.value(12).toLong() + fields.value(13).toLong();
        return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
    }

    QTemporaryDir dir;
    QString docPath;
    QProcess proc;

private:
    std::string readAll(const QString& name) const {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll().toStdString();
    }
};

#endif

} // namespace harness
