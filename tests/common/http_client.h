#pragma once
// A plain HTTP/1.1 client for the tests on POSIX sockets, sharing no code
// with the server: one request per connection ("Connection: close"), the
// answer read until the server closes. start() and finish() apart let a test
// do other things (play the host) while a request waits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>

namespace httptest {

struct Response {
    int status = 0; // 0: no answer
    std::string headers;
    std::string body;
};

class Call {
public:
    Call(int port, const std::string& method, const std::string& path, const std::string& body = {},
         const std::string& extraHeaders = {}) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        std::string req = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                          extraHeaders + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
        req += body;
        std::size_t at = 0;
        while (at < req.size()) {
            const ssize_t n = ::send(m_fd, req.data() + at, req.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
    }
    ~Call() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // The whole answer once the server sent it; status 0 when none came within ms.
    Response finish(int ms = 10000) {
        std::string in;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return {};
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n < 0)
                return {};
            if (n == 0)
                break;
            in.append(buf, static_cast<std::size_t>(n));
            if (complete(in))
                break;
        }
        Response r;
        const std::size_t end = in.find("\r\n\r\n");
        if (in.size() < 12 || end == std::string::npos)
            return r;
        r.status = std::stoi(in.substr(9, 3));
        r.headers = in.substr(0, end);
        r.body = in.substr(end + 4);
        return r;
    }

private:
    // A Content-Length answer is complete with its body.
    static bool complete(const std::string& in) {
        const std::size_t end = in.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        std::string head = in.substr(0, end);
        for (char& c : head)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = head.find("content-length:");
        if (at == std::string::npos)
            return false;
        return in.size() - end - 4 >= std::stoul(head.substr(at + 15));
    }
    int m_fd = -1;
};

// A WebSocket client on a plain socket: the upgrade, then one text message
// at a time (server frames are never masked). receiveBuffer: SO_RCVBUF to
// set before connecting, 0 to leave it; extraHeaders: lines ending in CRLF.
class WebSocket {
public:
    WebSocket(int port, const std::string& path, int receiveBuffer = 0,
              const std::string& extraHeaders = {}) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        const std::string req =
            "GET " + path +
            " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
            "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
            "Sec-WebSocket-Version: 13\r\n" +
            extraHeaders + "\r\n";
        ::send(m_fd, req.data(), req.size(), MSG_NOSIGNAL);
        while (m_in.find("\r\n\r\n") == std::string::npos && pull(5000)) {
        }
        const std::size_t end = m_in.find("\r\n\r\n");
        m_upgraded = end != std::string::npos && m_in.rfind("HTTP/1.1 101", 0) == 0;
        if (end != std::string::npos)
            m_in.erase(0, end + 4);
    }
    ~WebSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    WebSocket(const WebSocket&) = delete;
    WebSocket& operator=(const WebSocket&) = delete;
    bool upgraded() const { return m_upgraded; }
    int localPort() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }

    // The next text message; empty when none came within ms or the server closed.
    std::string next(int ms = 5000) {
        for (;;) {
            // Read from m_at on: the bytes before it are consumed, dropped at the next pull.
            const std::string_view in = std::string_view(m_in).substr(m_at);
            if (in.size() >= 2) {
                const auto b = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
                std::size_t size = b(1) & 0x7f, at = 2;
                if (size == 126 && in.size() >= 4)
                    size = (std::size_t{b(2)} << 8) | b(3), at = 4;
                else if (size == 127 && in.size() >= 10) {
                    size = 0;
                    for (int i = 2; i < 10; ++i)
                        size = (size << 8) | b(static_cast<std::size_t>(i));
                    at = 10;
                } else if (size >= 126)
                    at = 0;
                if (at && in.size() >= at + size) {
                    const int opcode = b(0) & 0x0f;
                    std::string payload(in.substr(at, size));
                    m_at += at + size;
                    if (opcode == 8)
                        return {};
                    if (opcode == 1)
                        return payload;
                    continue;
                }
            }
            if (!pull(ms))
                return {};
        }
    }

private:
    bool pull(int ms) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return false;
        char buf[65536];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        m_in.erase(0, m_at);
        m_at = 0;
        m_in.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    int m_fd = -1;
    bool m_upgraded = false;
    std::string m_in;
    std::size_t m_at = 0;
};

inline Response request(int port, const std::string& method, const std::string& path, const std::string& body = {},
                        const std::string& extraHeaders = {}) {
    Call call(port, method, path, body, extraHeaders);
    return call.finish();
}

} // namespace httptest
