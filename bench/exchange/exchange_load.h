#pragma once
// What the exchange benchmarks share: the raw socket server that answers
// every S1F1 frame with the S1F2 of the benchmark document, and batches of
// transactions with a number of requests outstanding.
#include "harness.h"

#include <netinet/tcp.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace harness {

inline constexpr int kBatch = 3000;
// The reply tovik gives to the S1F1 of the benchmark (a document with one S1F2).
inline const std::string kReply = header(0, 0x01, 2, 0) + kS1F2Body;

// Appends the S1F2 answer of every whole frame in `in` to `out` and drops
// the frames from `in`.
inline void answerFrames(Bytes& in, Bytes& out) {
    static const Bytes reply = bytesOf(kReply);
    std::size_t at = 0;
    while (in.size() - at >= 4) {
        const std::size_t len = (std::size_t(in[at]) << 24) | (std::size_t(in[at + 1]) << 16) |
                                (std::size_t(in[at + 2]) << 8) | in[at + 3];
        if (in.size() - at < 4 + len)
            break;
        out.insert(out.end(), {0, 0, 0, static_cast<uint8_t>(reply.size())});
        const std::size_t base = out.size();
        out.insert(out.end(), reply.begin(), reply.end());
        std::copy_n(in.begin() + static_cast<long>(at + 4 + 6), 4, out.begin() + static_cast<long>(base + 6));
        at += 4 + len;
    }
    in.erase(in.begin(), in.begin() + static_cast<long>(at));
}

// Answers every frame with the S1F2 frame, system bytes copied; nothing else.
class RawServer {
public:
    RawServer() {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~RawServer() {
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }
    int port = 0;

private:
    void run() {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Bytes in, out;
        uint8_t buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            in.insert(in.end(), buf, buf + n);
            out.clear();
            answerFrames(in, out);
            if (!out.empty())
                ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
    }
    int m_listen = -1;
    std::thread m_thread;
};

// Runs kBatch transactions with `window` requests outstanding.
inline bool runBatch(RawHost& host, int window, unsigned& system) {
    int sent = 0, got = 0;
    while (got < kBatch) {
        while (sent < kBatch && sent - got < window) {
            if (!host.send(header(0, 0x81, 1, system + static_cast<unsigned>(sent))))
                return false;
            ++sent;
        }
        if (!host.recv(5000))
            return false;
        ++got;
    }
    system += static_cast<unsigned>(kBatch);
    return true;
}

template <class F> double timed(F f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}


} // namespace harness
