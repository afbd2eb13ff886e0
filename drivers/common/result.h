#pragma once
// A value or an error, for the plain C++ cores (C++20 has no std::expected).
#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tovik {

// The error every core reports: what went wrong and where.
struct Error {
    std::string message;   // short, readable text for the event log
    std::size_t offset = 0; // byte offset (binary input) or line (text input)
    bool fatal = false;     // the link must be dropped
};

template <class T> class Result {
public:
    Result(T value) : m_v(std::move(value)) {}
    Result(Error error) : m_v(std::move(error)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() {
        assert(ok());
        return std::get<0>(m_v);
    }
    const T& value() const {
        assert(ok());
        return std::get<0>(m_v);
    }
    const Error& error() const {
        assert(!ok());
        return std::get<1>(m_v);
    }

private:
    std::variant<T, Error> m_v;
};

} // namespace tovik
