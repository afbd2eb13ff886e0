// Random bytes into the receive side of the SECS-I line core. The first byte
// picks master/slave and the continuous variant; 0xf0 followed by n moves the
// clock n*10 ms (so T1/T2/T4 fire), 0xf1 queues a small message to send;
// every other byte is a received character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "secsi_line.h"

using namespace tovik::secsi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    LineConfig cfg;
    cfg.master = data[0] & 1;
    cfg.msec = data[0] & 2;
    cfg.retryCount = data[0] >> 4;
    cfg.t1Ms = 50;
    cfg.t2Ms = 200;
    cfg.t4Ms = 500;
    LineCore core(cfg);
    Millis now = 0;
    for (size_t i = 1; i < size; ++i) {
        const uint8_t b = data[i];
        if (b == 0xf0 && i + 1 < size) {
            now += Millis{data[++i]} * 10;
            core.advance(now);
        } else if (b == 0xf1) {
            core.send({0, 1, 0x81, 1, 0, 0, 0, 0, 0, static_cast<uint8_t>(i)}, now);
        } else {
            core.receive(&b, 1, now);
        }
        // Only a queued message can put more than a handshake byte on the line.
        if (core.takeOutput().size() > 1 + kMaxBlockLength + 2 + 1)
            std::abort();
        for (const LineEvent& ev : core.takeEvents()) {
            if (ev.kind == LineEvent::Kind::MessageReceived &&
                (ev.message.size() < kHeaderSize || ev.message.size() > kMaxMessageSize))
                std::abort();
            if (ev.kind == LineEvent::Kind::Error && (ev.code < 1 || ev.code > 13))
                std::abort();
        }
        if (const auto due = core.nextDeadline(); due && *due < now - 1000000)
            std::abort();
    }
    return 0;
}
