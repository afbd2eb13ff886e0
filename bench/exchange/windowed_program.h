#pragma once
// The windowed tovik for bench_exchange: the same program with its main
// window, on the offscreen platform or on an Xvfb display of its own, the
// event log following the newest line. TOVIK_PAINT_TRACE makes it write how
// long each logged text took to reach the screen.
#include "harness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// SIGTERM, so the program ends as its user would end it; SIGKILL after 10 s.
inline void stopProcess(QProcess& proc) {
    if (proc.state() == QProcess::NotRunning)
        return;
    proc.terminate();
    if (!proc.waitForFinished(10000)) {
        proc.kill();
        proc.waitForFinished();
    }
}

// An X server of the run's own, on a display number nobody holds; no
// display when Xvfb is not installed or does not start.
class Xvfb {
public:
    Xvfb() {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (exe.isEmpty())
            return;
        for (int n = 160; n < 200 && display.isEmpty(); ++n) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) || QFile::exists(socket))
                continue;
            m_proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            m_proc.setStandardOutputFile(QProcess::nullDevice());
            m_proc.start(exe, {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                               QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            for (int i = 0; i < 500 && m_proc.state() != QProcess::NotRunning; ++i) {
                if (QFile::exists(socket)) {
                    display = QStringLiteral(":%1").arg(n);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (display.isEmpty())
                stopProcess(m_proc);
        }
    }
    ~Xvfb() { stopProcess(m_proc); }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    QString display;

private:
    QProcess m_proc;
};

// tovik --windowed on a temporary document: on `display`, or offscreen when
// that is empty. Its settings and configuration stay in its own folder.
class WindowedTovik {
public:
    WindowedTovik(const harness::Settings& settings, const std::string& document, const QString& display) {
        const QString doc = m_dir.filePath(QStringLiteral("equipment.tvkm"));
        harness::writeFile(doc, document);
        harness::writeFile(m_dir.filePath(QStringLiteral("equipment.ini")), settings.text());
        QDir(m_dir.path()).mkpath(QStringLiteral("config"));
        QDir(m_dir.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TOVIK_PAINT_TRACE"), tracePath());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (display.isEmpty()) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            env.insert(QStringLiteral("DISPLAY"), display);
        }
        m_proc.setProcessEnvironment(env);
        m_proc.setStandardOutputFile(m_dir.filePath(QStringLiteral("out.txt")));
        m_proc.setStandardErrorFile(m_dir.filePath(QStringLiteral("err.txt")));
        // TOVIK_BENCH_WINDOWED_EXE: another build of tovik to measure in its
        // place, for a before-and-after in one run.
        const QString exe = qEnvironmentVariableIsEmpty("TOVIK_BENCH_WINDOWED_EXE")
                                ? QStringLiteral(TOVIK_EXE)
                                : qEnvironmentVariable("TOVIK_BENCH_WINDOWED_EXE");
        m_proc.start(exe, {QStringLiteral("--windowed"), QStringLiteral("--no-splash"), doc});
        m_proc.waitForStarted();
    }
    ~WindowedTovik() { stopProcess(m_proc); }
    WindowedTovik(const WindowedTovik&) = delete;
    WindowedTovik& operator=(const WindowedTovik&) = delete;

    bool running() const { return m_proc.state() == QProcess::Running; }
    // From now on: what the trace held before (the start-up) is left out.
    void startMeasuring() { m_traceFrom = QFileInfo(tracePath()).size(); }

    // Milliseconds from each logged text to the paint that showed it
    // ("paint"), or from each user action queued to the paint that showed
    // its effect ("input"), in the order painted.
    std::vector<double> traceMs(const QByteArray& kind) const {
        std::vector<double> ms;
        QFile f(tracePath());
        if (!f.open(QIODevice::ReadOnly) || !f.seek(m_traceFrom))
            return ms;
        const QByteArray prefix = kind + ' ';
        while (!f.atEnd()) {
            const QByteArray line = f.readLine().trimmed();
            if (line.startsWith(prefix))
                ms.push_back(line.mid(prefix.size()).toDouble() / 1000.0);
        }
        return ms;
    }

private:
    QString tracePath() const { return m_dir.filePath(QStringLiteral("paint.txt")); }

    QTemporaryDir m_dir;
    QProcess m_proc;
    qint64 m_traceFrom = 0;
};

} // namespace bench
