// Codec throughput against memcpy of the same body bytes, on three payload
// shapes of about 1 MiB of body:
//   mixed - event reports of many small items (text, numbers, floats, binary,
//           booleans in lists), about 12 body bytes per item;
//   ascii - one ASCII recipe text of 1 MiB with line breaks;
//   u4    - one U4 array of 262,144 values.
// Every iteration copies the body with memcpy and then runs the operation, both
// timed on this thread's CPU clock, so the baseline sees the same machine load.
// Rates are body bytes per second for every operation (the hex paths handle
// twice as many text bytes). At the end the ratios of the medians are printed.
// The mixed payload averages about 12 body bytes per item, and every item
// costs a format check and an index entry of 16 bytes, so its decode stays
// well below the large-item shapes by nature.
#include "CVeltSecsII.h"
#include "message.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

using tovik::secs2::Message;

// One report of an event message: about 110 body bytes of every common kind.
std::string record(unsigned i) {
    std::string s = "{<u4 " + std::to_string(i) + "><a'LOT-" + std::to_string(i) +
                    "-WAFER-SLOT-STATUS-TEXT'><u2 1 2 3 4 5 6 7 8><f8 " +
                    std::to_string(i) + ".25 -0.001><f4 21.5><i2 -" +
                    std::to_string(i % 30000) + "><bool true false><b";
    for (int k = 0; k < 16; ++k)
        s += " 0x" + std::string(1, "0123456789abcdef"[(i + k) & 15]) + "f";
    return s + ">}";
}

std::string mixedSml() {
    std::string text = "s6f11w{";
    Message probe;
    for (unsigned i = 0;; ++i) {
        text += record(i);
        if (i % 512 == 511) { // enough records for 1 MiB of body?
            tovik::secs2::parseSml(text + "}", probe);
            if (tovik::secs2::encodedBodySize(probe) >= (1u << 20))
                return text + "}";
        }
    }
}

std::string asciiSml() {
    std::string recipe;
    for (unsigned step = 0; recipe.size() < (1u << 20) - 64; ++step)
        recipe += "STEP " + std::to_string(step) + " TEMP=" + std::to_string(400 + step % 50) +
                  " TIME=" + std::to_string(30 + step % 90) + " GAS=N2 FLOW=12.5\r\n";
    recipe.resize((1u << 20) - 4);
    return "s7f3{<a'RECIPE'><a'" + recipe + "'>}";
}

std::string u4Sml() {
    std::string text = "s6f11<u4";
    for (uint32_t i = 0; i < (1u << 18); ++i)
        text += ' ' + std::to_string(i * 2654435761u);
    return text + ">";
}

struct Shape {
    const char* name;
    Message msg;
    std::vector<uint8_t> body;
    std::string hex; // whole message
    std::string sml;

    Shape(const char* n, const std::string& source) : name(n) {
        if (!tovik::secs2::parseSml(source, msg))
            std::abort();
        tovik::secs2::encodeBody(msg, body);
        sml = tovik::secs2::printSml(msg);
        tovik::CVeltSecsII c;
        c.SetSmlText(sml);
        hex = c.GetHexMessage();
    }
};

std::vector<Shape>& shapes() {
    static std::vector<Shape> s = [] {
        std::vector<Shape> v;
        v.emplace_back("mixed", mixedSml());
        v.emplace_back("ascii", asciiSml());
        v.emplace_back("u4", u4Sml());
        return v;
    }();
    return s;
}

enum Op { Decode, Encode, HexLoad, HexSave, SmlPrint, SmlParse, OpCount };
const char* const kOpNames[] = {"decode bytes", "encode bytes", "SetHexMessage",
                                "GetHexMessage", "SML print", "SML parse"};

struct Samples {
    std::vector<double> op, memcpy; // body bytes per second
};
std::map<std::pair<int, int>, Samples> g_samples;

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_Codec(benchmark::State& state) {
    const int shapeIndex = static_cast<int>(state.range(0));
    const Op op = static_cast<Op>(state.range(1));
    Shape& s = shapes()[static_cast<std::size_t>(shapeIndex)];
    const double bytes = static_cast<double>(s.body.size());
    std::vector<uint8_t> copy(s.body.size());
    Message m;
    std::vector<uint8_t> out;
    tovik::CVeltSecsII codec;
    codec.SetHexMessage(s.hex);
    auto& samples = g_samples[{shapeIndex, op}];
    // memcpy of 1 MiB is a few tens of microseconds: repeat it so that reading
    // the clock costs little beside it.
    constexpr int kCopies = 16;

    for (auto _ : state) {
        const double t0 = threadSeconds();
        for (int k = 0; k < kCopies; ++k) {
            std::memcpy(copy.data(), s.body.data(), s.body.size());
            benchmark::DoNotOptimize(copy.data());
            benchmark::ClobberMemory();
        }
        const double t1 = threadSeconds();
        switch (op) {
        case Decode:
            benchmark::DoNotOptimize(tovik::secs2::decodeBody(s.body.data(), s.body.size(), m));
            break;
        case Encode:
            out.clear();
            tovik::secs2::encodeBody(s.msg, out);
            benchmark::DoNotOptimize(out.data());
            break;
        case HexLoad:
            codec.SetHexMessage(s.hex);
            benchmark::DoNotOptimize(codec.GetLastError().size());
            break;
        case HexSave: {
            std::string hex = codec.GetHexMessage();
            benchmark::DoNotOptimize(hex.data());
            break;
        }
        case SmlPrint: {
            std::string text = tovik::secs2::printSml(s.msg);
            benchmark::DoNotOptimize(text.data());
            break;
        }
        case SmlParse:
            benchmark::DoNotOptimize(tovik::secs2::parseSml(s.sml, m));
            break;
        case OpCount:
            break;
        }
        const double t2 = threadSeconds();
        state.SetIterationTime(t2 - t1);
        samples.memcpy.push_back(kCopies * bytes / (t1 - t0));
        samples.op.push_back(bytes / (t2 - t1));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(s.body.size()));
    state.SetLabel(std::string(s.name) + " / " + kOpNames[op]);
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

BENCHMARK(BM_Codec)
    ->ArgsProduct({{0, 1, 2}, {Decode, Encode, HexLoad, HexSave, SmlPrint, SmlParse}})
    ->UseManualTime()
    ->MinTime(0.2);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    shapes(); // build the payloads before any timing
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nmedians over all iterations, body bytes per second, against memcpy of the "
                "same body in the same iterations\n");
    std::printf("%-7s %-14s %12s %12s %8s\n", "payload", "operation", "MB/s", "memcpy MB/s",
                "ratio");
    for (const auto& [key, s] : g_samples) {
        if (s.op.empty())
            continue;
        const double op = median(s.op), base = median(s.memcpy);
        std::printf("%-7s %-14s %12.1f %12.1f %8.4f\n", shapes()[static_cast<std::size_t>(key.first)].name,
                    kOpNames[key.second], op / 1e6, base / 1e6, base > 0 ? op / base : 0.0);
    }
    return 0;
}
