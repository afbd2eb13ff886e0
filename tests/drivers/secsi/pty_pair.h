#pragma once
// Pseudo-terminals for the SECS-I tests and benchmarks: a raw pty whose slave
// path a driver opens while the test plays the peer on the master, and a relay
// thread that joins two ptys so two drivers see one line.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct RawPty {
    int master = -1;
    int slave = -1; // held so the master never reads EIO before the driver opens
    std::string slavePath;

    bool open() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        for (int fd : {master, slave}) {
            termios t{};
            ::tcgetattr(fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        slavePath = name;
        return true;
    }
    void close() {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        master = slave = -1;
    }
    ~RawPty() { close(); }
};

// Copies everything between the masters of two ptys until destroyed.
class PtyRelay {
public:
    PtyRelay(int masterA, int masterB) : m_a(masterA), m_b(masterB) {
        m_thread = std::thread([this] { run(); });
    }
    ~PtyRelay() {
        m_stop = true;
        m_thread.join();
    }

private:
    static bool writeAll(int fd, const uint8_t* p, ssize_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd, p, static_cast<size_t>(n));
            if (w < 0) {
                pollfd out{fd, POLLOUT, 0};
                ::poll(&out, 1, 10);
                continue;
            }
            p += w;
            n -= w;
        }
        return true;
    }
    void run() {
        uint8_t buf[4096];
        while (!m_stop) {
            pollfd fds[2] = {{m_a, POLLIN, 0}, {m_b, POLLIN, 0}};
            if (::poll(fds, 2, 10) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0)
                    writeAll(i == 0 ? m_b : m_a, buf, n);
            }
        }
    }
    int m_a, m_b;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
