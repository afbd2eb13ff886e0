// Loading and saving a document of 5,000 definitions (close to the read
// limit), side by side with a plain read and a plain write of the same file.
// Prints definitions per second and MB/s, and at the end the ratios of the
// medians: load / plain read and save / plain write.
#include "MsgFileFormat.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

using namespace tovik;

namespace {

constexpr int kDefinitions = 5000;

// Mostly SML replies with a comment, one in five a hex dump: ~200 bytes each.
CHOneMsgList makeDocument() {
    CHOneMsgList list;
    for (int i = 0; i < kDefinitions; ++i) {
        auto msg = std::make_unique<CHOneMsg>();
        msg->m_strName = "S6F11 Event Report " + std::to_string(i);
        if (i % 5 == 4) {
            msg->m_bStructure = false;
            msg->m_strText = "0000060b000000000000010341040000000101024104000000c80101410400000064";
        } else {
            msg->m_strComment = "Event " + std::to_string(i) + " with its report\r\n";
            msg->m_strText = "s6f11w\r\n{\r\n\t<u4 1>\r\n\t<u4 " + std::to_string(i) +
                             ">\r\n\t{\r\n\t\t{\r\n\t\t\t<u4 100>\r\n\t\t\t<a'IDLE'>\r\n\t\t}\r\n\t}\r\n}\r\n";
        }
        list.push_back(std::move(msg));
    }
    return list;
}

struct Files {
    std::filesystem::path path = std::filesystem::temp_directory_path() / "tovik_bench_5000.tvkm";
    std::filesystem::path out = std::filesystem::temp_directory_path() / "tovik_bench_5000_out.tvkm";
    CHOneMsgList list = makeDocument();
    std::string text = StoreMsgFile(list);
    Files() { writeFile(path, text); }
    ~Files() {
        std::filesystem::remove(path);
        std::filesystem::remove(out);
    }
    static void writeFile(const std::filesystem::path& p, const std::string& bytes) {
        std::FILE* f = std::fopen(p.c_str(), "wb");
        if (!f)
            return;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
};

Files& files() {
    static Files f;
    return f;
}

void setRates(benchmark::State& state, std::size_t bytes) {
    state.SetItemsProcessed(state.iterations() * kDefinitions);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void BM_PlainRead(benchmark::State& state) {
    std::string bytes, error;
    for (auto _ : state) {
        ReadMsgFile(files().path.string(), bytes, error);
        benchmark::DoNotOptimize(bytes.data());
    }
    setRates(state, files().text.size());
}

void BM_Load(benchmark::State& state) {
    std::string bytes, error;
    CHOneMsgList list;
    for (auto _ : state) {
        ReadMsgFile(files().path.string(), bytes, error);
        LoadMsgFileText(bytes, list);
        if (list.size() != kDefinitions)
            state.SkipWithError("definitions lost on loading");
    }
    setRates(state, files().text.size());
}

void BM_PlainWrite(benchmark::State& state) {
    for (auto _ : state)
        Files::writeFile(files().out, files().text);
    setRates(state, files().text.size());
}

void BM_Save(benchmark::State& state) {
    for (auto _ : state)
        Files::writeFile(files().out, StoreMsgFile(files().list));
    setRates(state, files().text.size());
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

// Keeps the median real time of every benchmark for the ratio lines.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("document: %d definitions, %zu bytes (read limit %zu)\n", kDefinitions, files().text.size(),
                kMsgFileReadLimit);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* a, const char* b) {
        if (reporter.medians.count(a) && reporter.medians.count(b) && reporter.medians[b] > 0)
            std::printf("%s / %s (medians): %.2f\n", a, b, reporter.medians[a] / reporter.medians[b]);
    };
    ratio("BM_Load", "BM_PlainRead");
    ratio("BM_Save", "BM_PlainWrite");
    benchmark::Shutdown();
    return 0;
}
