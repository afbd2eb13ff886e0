#include "Fleet.h"

#include <QDir>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

namespace tovik {

namespace {

// The script engine takes its heap from a memory file (memfd_create) that it
// maps privately, only so that the mapping has a name in /proc/PID/maps. Each
// page it writes is then a page of the file plus the process's own copy, and
// the file's pages outlive the copies the engine gives back after a
// collection: about 1 MiB an equipment that no PSS shows, and a copy for
// every page the heap takes again. Refused the call, the engine maps
// anonymous memory instead, as it does where there is no memfd_create.
// Runs in the child between fork and exec: system calls only.
void refuseMemoryFiles() {
#if defined(__x86_64__) || defined(__aarch64__)
#if defined(__x86_64__)
    constexpr unsigned kAuditArch = AUDIT_ARCH_X86_64;
#else
    constexpr unsigned kAuditArch = AUDIT_ARCH_AARCH64;
#endif
    static sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_memfd_create, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    // Without it an unprivileged process may not install a filter; the
    // equipment runs no other program, so it loses nothing by it.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0)
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
#endif
}

} // namespace

Fleet::Fleet(FleetOptions options) : m_options(std::move(options)) {
    // The script engine compiles a function once it has run a few times:
    // an equipment's first rounds cost it about half again as much CPU as
    // its later ones. A fleet's equipments all get their first rounds when
    // the host starts, and so pay for compiling together. Interpreted, their
    // later rounds cost a little more, and the start no longer piles up.
    // Whoever set the engine's own variables keeps them.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!m_options.scriptJit && !environment.contains(QStringLiteral("QV4_FORCE_INTERPRETER")) &&
        !environment.contains(QStringLiteral("QV4_JIT_CALL_THRESHOLD")))
        environment.insert(QStringLiteral("QV4_FORCE_INTERPRETER"), QStringLiteral("1"));
    for (int i = 0; i < m_options.count; ++i) {
        auto e = std::make_unique<Equipment>();
        e->index = i;
        e->process = new QProcess(this);
        Equipment* raw = e.get();
        if (m_options.logDir.isEmpty()) {
            e->process->setProcessChannelMode(QProcess::MergedChannels);
            connect(e->process, &QProcess::readyReadStandardOutput, this, [this, raw] { forwardOutput(*raw); });
        } else {
            const QString log = QDir(m_options.logDir).filePath(QStringLiteral("equipment-%1.log").arg(i));
            e->process->setStandardOutputFile(log, QIODevice::Append);
            e->process->setStandardErrorFile(log, QIODevice::Append);
        }
        e->process->setProcessEnvironment(environment);
        e->process->setChildProcessModifier([] {
            // An equipment never outlives the launcher, even one killed outright.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            refuseMemoryFiles();
        });
        connect(e->process, &QProcess::started, this, [this, raw] {
            status(*raw, QStringLiteral("started, pid %1").arg(raw->process->processId()));
        });
        connect(e->process, &QProcess::finished, this,
                [this, raw](int code, QProcess::ExitStatus status) { onFinished(*raw, code, status); });
        connect(e->process, &QProcess::errorOccurred, this, [this, raw](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                onFinished(*raw, -1, QProcess::NormalExit);
        });
        m_equipments.push_back(std::move(e));
    }
}

Fleet::~Fleet() {
    for (auto& e : m_equipments)
        e->process->disconnect(this);
}

void Fleet::start() {
    // Hundreds of programs starting at once on a few cores each take many
    // times their usual start-up and starve the equipments already serving
    // a host. Paced, each starts about as fast as it would alone.
    if (m_options.startRate <= 0) {
        for (auto& e : m_equipments)
            launch(*e);
        return;
    }
    auto* pacer = new QTimer(this);
    pacer->setInterval(std::max(1, 1000 / m_options.startRate));
    connect(pacer, &QTimer::timeout, this, [this, pacer] {
        if (m_stopping || m_launched == m_equipments.size()) {
            pacer->deleteLater();
            return;
        }
        launch(*m_equipments[m_launched++]);
    });
    launch(*m_equipments[m_launched++]);
    pacer->start();
}

void Fleet::launch(Equipment& e) {
    QStringList args{QStringLiteral("--headless"),
                     QStringLiteral("--set"),
                     QStringLiteral("HSMS.LocalPortNumber=%1").arg(m_options.basePort + e.index),
                     QStringLiteral("--set"),
                     QStringLiteral("Preferences.DeviceID=%1").arg(m_options.firstDeviceId + e.index)};
    args += m_options.extraArgs;
    args.append(m_options.model);
    e.partial.clear();
    e.since.start();
    // Counted from here until it ends or fails to start. Not waiting for the
    // exec: on a loaded machine that wait, one equipment after the other, is
    // what paced the launcher, not --start-rate.
    ++m_running;
    e.process->start(m_options.tovik, args, QIODevice::ReadOnly);
}

void Fleet::onFinished(Equipment& e, int code, QProcess::ExitStatus exitStatus) {
    forwardOutput(e);
    --m_running;
    const QString how = code == -1 && exitStatus == QProcess::NormalExit
                            ? QStringLiteral("could not start (%1)").arg(e.process->errorString())
                        : exitStatus == QProcess::CrashExit ? QStringLiteral("killed by signal %1").arg(code)
                                                             : QStringLiteral("ended with status %1").arg(code);
    if (m_stopping) {
        status(e, QStringLiteral("stopped"));
        if (m_running == 0)
            Q_EMIT stopped();
        return;
    }
    if (e.since.elapsed() >= kSteadyMs)
        e.delayMs = kFirstDelayMs;
    status(e, QStringLiteral("%1; restarting in %2 s").arg(how).arg(e.delayMs / 1000.0));
    QTimer::singleShot(e.delayMs, this, [this, &e] {
        if (!m_stopping && e.process->state() == QProcess::NotRunning)
            launch(e);
    });
    e.delayMs = std::min(e.delayMs * 2, kMaxDelayMs);
}

void Fleet::stop() {
    m_stopping = true;
    if (m_running == 0) {
        Q_EMIT stopped();
        return;
    }
    for (auto& e : m_equipments)
        if (e->process->state() != QProcess::NotRunning)
            e->process->terminate();
    QTimer::singleShot(kStopGraceMs, this, [this] {
        for (auto& e : m_equipments)
            if (e->process->state() != QProcess::NotRunning)
                e->process->kill();
    });
}

void Fleet::signalAll(int signal) {
    for (auto& e : m_equipments)
        if (e->process->state() == QProcess::Running)
            ::kill(static_cast<pid_t>(e->process->processId()), signal);
}

void Fleet::forwardOutput(Equipment& e) {
    if (!m_options.logDir.isEmpty())
        return;
    e.partial += e.process->readAllStandardOutput();
    const QByteArray prefix = "[" + QByteArray::number(e.index) + "] ";
    qsizetype start = 0;
    for (qsizetype lf = e.partial.indexOf('\n'); lf >= 0; lf = e.partial.indexOf('\n', start)) {
        const QByteArray line = prefix + e.partial.mid(start, lf + 1 - start);
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
        start = lf + 1;
    }
    e.partial.remove(0, start);
    std::fflush(stdout);
}

void Fleet::status(const Equipment& e, const QString& what) const {
    const QByteArray line = QStringLiteral("tovik-fleet: equipment %1 (port %2, device id %3): %4\n")
                                .arg(e.index)
                                .arg(m_options.basePort + e.index)
                                .arg(m_options.firstDeviceId + e.index)
                                .arg(what)
                                .toLocal8Bit();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace tovik
