// Frame reader and link state over arbitrary bytes. The first byte picks a
// small maximum length and a chunk size, so splits and caps vary too; the same
// input fed whole must give the same messages and the same fault.
#include "HsmsFrameReader.h"
#include "HsmsSession.h"

#include <cstdlib>
#include <vector>

using namespace tovik::hsms;

namespace {
struct Run {
    std::vector<std::vector<std::uint8_t>> frames;
    bool failed = false;
};

Run feed(const std::uint8_t* data, std::size_t size, std::size_t chunk, std::uint32_t max) {
    FrameReader reader(max);
    Session session;
    session.setTimeouts({100, 100, 100});
    session.connected(0);
    Run run;
    std::int64_t now = 0;
    for (std::size_t pos = 0; pos < size; pos += chunk) {
        const std::size_t before = run.frames.size();
        const auto error = reader.feed(data + pos, std::min(chunk, size - pos), run.frames);
        for (std::size_t i = before; i < run.frames.size(); ++i) {
            if (run.frames[i].size() < kHeaderLength || run.frames[i].size() > max)
                std::abort();
            session.received(run.frames[i].data(), run.frames[i].size(), now);
            session.sent(run.frames[i].data(), run.frames[i].size(), now);
        }
        session.bytesArrived(++now, reader.midFrame());
        (void)session.expired(now + 50);
        if (error) {
            run.failed = true;
            break;
        }
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
    if (split.frames != whole.frames || split.failed != whole.failed)
        std::abort();
    return 0;
}
