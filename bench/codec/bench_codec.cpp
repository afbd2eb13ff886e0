// Codec throughput on a 1 MiB message of mixed items (lists of text, numbers,
// floats, binary and booleans), against memcpy of the same body bytes in the
// same run. Every rate is body bytes per second, so the ratios compare directly.
#include "CVeltSecsII.h"
#include "message.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using tovik::secs2::Message;

// One report of an event message: about 150 body bytes of every common kind.
std::string record(unsigned i) {
    std::string s = "{<u4 " + std::to_string(i) + "><a'LOT-" + std::to_string(i) +
                    "-WAFER-SLOT-STATUS-TEXT'><u2 1 2 3 4 5 6 7 8><f8 " +
                    std::to_string(i) + ".25 -0.001><f4 21.5><i2 -" +
                    std::to_string(i % 30000) + "><bool true false><b";
    for (int k = 0; k < 16; ++k)
        s += " 0x" + std::string(1, "0123456789abcdef"[(i + k) & 15]) + "f";
    return s + ">}";
}

struct Fixture {
    Message msg;
    std::vector<uint8_t> body;
    std::string sml;

    Fixture() {
        std::string text = "s6f11w{";
        Message probe;
        for (unsigned i = 0;; ++i) {
            text += record(i);
            if (text.size() > 2 * (1u << 20)) { // enough records for 1 MiB of body
                tovik::secs2::parseSml(text + "}", probe);
                if (tovik::secs2::encodedBodySize(probe) >= (1u << 20))
                    break;
            }
        }
        tovik::secs2::parseSml(text + "}", msg);
        tovik::secs2::encodeBody(msg, body);
        sml = tovik::secs2::printSml(msg);
    }
};

const Fixture& fixture() {
    static const Fixture f;
    return f;
}

void BM_Memcpy(benchmark::State& state) {
    const auto& f = fixture();
    std::vector<uint8_t> out(f.body.size());
    for (auto _ : state) {
        std::memcpy(out.data(), f.body.data(), f.body.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.body.size()));
}

void BM_Decode(benchmark::State& state) {
    const auto& f = fixture();
    Message m;
    for (auto _ : state) {
        auto r = tovik::secs2::decodeBody(f.body.data(), f.body.size(), m);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.body.size()));
}

void BM_Encode(benchmark::State& state) {
    const auto& f = fixture();
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        tovik::secs2::encodeBody(f.msg, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.body.size()));
}

void BM_SmlPrint(benchmark::State& state) {
    const auto& f = fixture();
    for (auto _ : state) {
        std::string text = tovik::secs2::printSml(f.msg);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.body.size()));
    state.counters["sml_bytes"] = static_cast<double>(f.sml.size());
}

void BM_SmlParse(benchmark::State& state) {
    const auto& f = fixture();
    Message m;
    for (auto _ : state) {
        auto r = tovik::secs2::parseSml(f.sml, m);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.body.size()));
}

// The whole public path a received message takes: hex text in, SML text out.
void BM_HexToSml(benchmark::State& state) {
    const auto& f = fixture();
    tovik::CVeltSecsII codec;
    std::string hex;
    {
        tovik::CVeltSecsII c;
        c.SetSmlText(f.sml);
        hex = c.GetHexMessage();
    }
    for (auto _ : state) {
        codec.SetHexMessage(hex);
        std::string text = codec.GetSmlText();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.body.size()));
}

} // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Decode);
BENCHMARK(BM_Encode);
BENCHMARK(BM_SmlPrint);
BENCHMARK(BM_SmlParse);
BENCHMARK(BM_HexToSml);
BENCHMARK_MAIN();
