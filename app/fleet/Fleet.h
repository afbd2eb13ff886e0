#pragma once
// A fleet of headless tovik processes from one model: equipment i listens on
// basePort + i with device id firstDeviceId + i. Each runs in a process of
// its own, so one equipment's fault never takes another down; one that ends
// is started again, and stop() ends them all.
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace tovik {

struct FleetOptions {
    QString tovik;         // the program each equipment runs
    QString model;         // the document; its .ini and script come with it
    int count = 0;
    int basePort = 0;
    int firstDeviceId = 0;
    QStringList extraArgs; // given to every equipment (--set ...)
    QString logDir;        // empty: each line on our output with "[i] " before it
    int startRate = 20;    // equipments started per second at first, 0 all at once
    bool scriptJit = false; // leave the script engine's compiler on
};

class Fleet : public QObject {
    Q_OBJECT
public:
    explicit Fleet(FleetOptions options);
    ~Fleet() override;

    void start();
    // SIGTERM to every equipment, SIGKILL to those still there after
    // kStopGraceMs; emits stopped() when none is left.
    void stop();
    // Passes a signal (SIGHUP: reload) on to every running equipment.
    void signalAll(int signal);

    static constexpr int kStopGraceMs = 5000;
    // A restart waits kFirstDelayMs, doubling up to kMaxDelayMs while the
    // equipment keeps ending within kSteadyMs of its start.
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kMaxDelayMs = 30000;
    static constexpr int kSteadyMs = 10000;

Q_SIGNALS:
    void stopped();

private:
    struct Equipment {
        int index = 0;
        QProcess* process = nullptr;
        QElapsedTimer since;
        int delayMs = kFirstDelayMs;
        QByteArray partial; // an output line not yet ended
    };
    void launch(Equipment& e);
    void onFinished(Equipment& e, int code, QProcess::ExitStatus status);
    void forwardOutput(Equipment& e);
    void status(const Equipment& e, const QString& what) const;

    FleetOptions m_options;
    std::size_t m_launched = 0; // the first start goes at startRate
    std::vector<std::unique_ptr<Equipment>> m_equipments;
    bool m_stopping = false;
    int m_running = 0;
};

} // namespace tovik
