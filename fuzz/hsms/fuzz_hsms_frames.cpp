// One HSMS link over arbitrary bytes. The first byte picks a small maximum
// length and a chunk size, so splits and caps vary too; the same input fed
// whole must give the same messages and the same fault. Every message is
// also sent back, so the link's own bookkeeping of requests runs as well.
#include "hsms_link.h"

#include <cstdlib>
#include <vector>

using namespace tovik::hsms;

namespace {
struct Run {
    std::vector<std::vector<std::uint8_t>> messages;
    bool failed = false;
};

Run feed(const std::uint8_t* data, std::size_t size, std::size_t chunk, std::uint32_t max) {
    LinkCore link({{100, 100, 100, 100}, max, true}, 0);
    Run run;
    Millis now = 0;
    for (std::size_t pos = 0; pos < size && !run.failed; pos += chunk) {
        link.receive(data + pos, std::min(chunk, size - pos), ++now);
        while (auto ev = link.poll(now)) {
            if (ev->kind == LinkEvent::Kind::Failed) {
                run.failed = ev->failure == LinkEvent::Failure::TooLong;
                break;
            }
            if (ev->message.size() < kHeaderLength || ev->message.size() > max)
                std::abort();
            link.send(ev->message.data(), ev->message.size(), now);
            run.messages.push_back(std::move(ev->message));
        }
        link.takeOutput();
    }
    // Timers only ever fail the link; they never touch what was delivered.
    link.advance(now + 50);
    while (link.poll(now + 50)) {
    }
    return run;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t chunk = 1 + (data[0] & 0x0f);
    const std::uint32_t max = 10 + (data[0] >> 4) * 64u;
    const Run split = feed(data + 1, size - 1, chunk, max);
    const Run whole = feed(data + 1, size - 1, size, max);
    if (split.messages != whole.messages || split.failed != whole.failed)
        std::abort();
    return 0;
}
