// Compaction throughput against a plain sequential copy of the same bytes in
// the same file, and against moving one Cluster per read and write.
//
// The card is an HD card image in $TMPDIR (default /tmp) with 16 items of
// 30 frames (992 Clusters, 11.6 MiB each), each one Cluster above where a
// packed card would have it, so every item moves down by a small gap (the
// overlapping case) and every moved item costs a directory write and two
// flushes. The plain copy moves the same byte ranges with 3 MiB pread/pwrite
// and one flush at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "card/allocator.h"
#include "card/sd_card.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

constexpr int kItems = 16;
constexpr uint16_t kFrames = 30;
constexpr uint32_t kItemClusters = kFrames * 33 + 2;
constexpr uint32_t kFirst = 1651;

std::string ImagePath() {
    const char* t = std::getenv("TMPDIR");
    return std::string(t && *t ? t : "/tmp") + "/rk-card-bench.img";
}

// Start of item i on the fragmented card: each one Cluster higher than packed.
uint32_t FragmentedStart(int i) { return kFirst + uint32_t(i) * (kItemClusters + 1) + 1; }

struct BenchCard {
    std::string path = ImagePath();
    CScriptedOperator op;
    CSDCard card{&op};

    BenchCard() {
        ::unlink(path.c_str());
        int error = 0;
        const uint64_t clusters = kFirst + uint64_t(kItems) * (kItemClusters + 1) + 64;
        CreateCardImage(path, clusters * kClusterSize, error);
        card.OpenPath(path);
        card.Format(0);
        // Real bytes everywhere the items lie, so that nothing reads holes.
        std::vector<uint8_t> data(size_t(kItemClusters + 1) * kClusterSize, 0x5A);
        for (int i = 0; i < kItems; ++i) card.WriteClusters(FragmentedStart(i) - 1, data.data(), kItemClusters + 1);
        card.Flush();
    }
    ~BenchCard() {
        card.Close();
        ::unlink(path.c_str());
    }
    void Fragment() {
        for (int i = 0; i < kItems; ++i) card.Directory().SetVideo(i, {FragmentedStart(i), kFrames, 33});
        card.WriteDirectory();
    }
};

constexpr int64_t kBytesPerRun = int64_t(kItems) * kItemClusters * kClusterSize;

void BM_Compaction(benchmark::State& state) {
    BenchCard b;
    for (auto _ : state) {
        state.PauseTiming();
        b.Fragment();
        state.ResumeTiming();
        CompactionResult r = CompactItemArea(b.card, b.op, 0);
        if (r.itemsMoved != kItems) state.SkipWithError("compaction did not move every item");
    }
    state.SetBytesProcessed(state.iterations() * kBytesPerRun);
}

void BM_PlainSequentialCopy(benchmark::State& state) {
    BenchCard b;
    b.card.Close();
    int fd = ::open(b.path.c_str(), O_RDWR);
    const size_t chunk = 256 * kClusterSize;
    std::vector<uint8_t> buf(chunk);
    for (auto _ : state) {
        for (int i = 0; i < kItems; ++i) {
            const uint64_t src = uint64_t(FragmentedStart(i)) * kClusterSize;
            const uint64_t dst = uint64_t(kFirst + uint32_t(i) * kItemClusters) * kClusterSize;
            const uint64_t len = uint64_t(kItemClusters) * kClusterSize;
            for (uint64_t k = 0; k < len; k += chunk) {
                size_t n = size_t(std::min<uint64_t>(chunk, len - k));
                if (::pread(fd, buf.data(), n, off_t(src + k)) != ssize_t(n) ||
                    ::pwrite(fd, buf.data(), n, off_t(dst + k)) != ssize_t(n))
                    state.SkipWithError("copy failed");
            }
        }
        ::fdatasync(fd);
    }
    ::close(fd);
    state.SetBytesProcessed(state.iterations() * kBytesPerRun);
}

void BM_OneClusterPerReadAndWrite(benchmark::State& state) {
    BenchCard b;
    std::vector<uint8_t> buf(kClusterSize);
    for (auto _ : state) {
        state.PauseTiming();
        b.Fragment();
        state.ResumeTiming();
        for (int i = 0; i < kItems; ++i) {
            const uint32_t f = FragmentedStart(i), d = kFirst + uint32_t(i) * kItemClusters;
            for (uint32_t k = 0; k < kItemClusters; ++k) {
                b.card.ReadCluster(f + k, buf.data());
                b.card.WriteCluster(d + k, buf.data());
            }
            b.card.Directory().SetVideo(i, {d, kFrames, 33});
            b.card.WriteDirectory();
        }
    }
    state.SetBytesProcessed(state.iterations() * kBytesPerRun);
}

BENCHMARK(BM_Compaction)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PlainSequentialCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OneClusterPerReadAndWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace rk

BENCHMARK_MAIN();
