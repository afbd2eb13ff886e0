#pragma once
// Pseudo-terminals for the SECS-I tests and benchmarks: a raw pty whose slave
// path a driver opens while the test plays the peer on the master, a peer that
// speaks the block protocol by hand there, and a relay thread that joins two
// ptys so two drivers see one line.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "secsi_block.h"

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

// The test's side of a pty. `pump` runs while it waits, so that a driver in
// the same process keeps working.
struct PtyPeer {
    using Bytes = std::vector<uint8_t>;
    int fd;
    std::function<void()> pump;
    Bytes pending;

    bool write(const Bytes& b) { return ::write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }
    // The next n bytes written to us; empty when they do not come within ms.
    Bytes read(std::size_t n, int ms = 3000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            uint8_t buf[512];
            for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) > 0;)
                pending.insert(pending.end(), buf, buf + got);
            if (pending.size() >= n) {
                Bytes out(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
                pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
                return out;
            }
            if (std::chrono::steady_clock::now() > end)
                return {};
            pump();
        }
    }
    // Whatever arrives within ms.
    Bytes collect(int ms) {
        read(~std::size_t{0}, ms);
        return std::exchange(pending, {});
    }
    // A whole message, block by block, as the line's slave or master (R-bit).
    bool send(const Bytes& message, bool rBit = false) {
        for (uint32_t i = 0; i < tovik::secsi::blockCount(message.size()); ++i)
            if (!write({tovik::secsi::kEnq}) || read(1) != Bytes{tovik::secsi::kEot} ||
                !write(tovik::secsi::frameBlock(message, i, rBit)) || read(1) != Bytes{tovik::secsi::kAck})
                return false;
        return true;
    }
    // The next whole message, joined as it stood on the line (block fields
    // of the last block); empty when none came.
    Bytes receive(int ms = 8000) {
        Bytes message;
        for (;;) {
            if (read(1, ms) != Bytes{tovik::secsi::kEnq} || !write({tovik::secsi::kEot}))
                return {};
            const Bytes length = read(1);
            const Bytes block = length.empty() ? Bytes{} : read(length[0] + 2u);
            if (block.size() < 12 || !write({tovik::secsi::kAck}))
                return {};
            if (message.empty())
                message.assign(block.begin(), block.begin() + 10);
            std::copy(block.begin() + 4, block.begin() + 6, message.begin() + 4);
            message.insert(message.end(), block.begin() + 10, block.end() - 2);
            if (tovik::secsi::endBit(block.data()))
                return message;
        }
    }
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
