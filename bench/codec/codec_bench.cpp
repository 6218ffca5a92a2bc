// Encode and Decode of one frame at 1920 x 1080 and 3840 x 2160 with the SSE,
// AVX, AVX2 and AVX-512 kernels (those this processor runs), on photographs from gnome-backgrounds converted by ffmpeg.
// Frames per second of process CPU time on one thread and bytes per frame; bench/codec/compare.sh
// runs the same pictures through ffmpeg's mjpeg and prores_ks beside it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec/transforms.h"
#include "codec_test_util.h"

using namespace rk;

namespace {

std::string Picture() {
    const char* p = std::getenv("RK_BENCH_PICTURE");
    return p && *p ? p : "licorice-l";
}

const test::Planes* Photo(int sizeClass) {
    static std::map<int, test::Planes> cache;
    auto it = cache.find(sizeClass);
    if (it != cache.end()) return &it->second;
    test::Planes p;
    if (!test::LoadPhoto(Picture(), sizeClass, p)) return nullptr;
    return &cache.emplace(sizeClass, std::move(p)).first->second;
}

void BM_Encode(benchmark::State& state) {
    const int sc = int(state.range(0));
    const auto variant = TransformVariant(state.range(1));
    const test::Planes* pic = Photo(sc);
    if (!pic) {
        state.SkipWithError("no picture (ffmpeg or gnome-backgrounds missing)");
        return;
    }
    KVQ1Encoder enc(sc, sc == 1 ? 768 : 1536, 50);
    if (!enc.UseKernels(variant)) {
        state.SkipWithError("variant not available on this processor");
        return;
    }
    std::vector<uint8_t> out(size_t(enc.BudgetBytes()));
    int bytes = 0;
    uint32_t n = 0;
    for (auto _ : state) {
        bytes = enc.Encode(n++, pic->y.data(), pic->cb.data(), pic->cr.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = bytes;
    state.counters["q"] = enc.LastQuantiser();
    state.counters["passes"] = enc.LastPasses();
    state.SetLabel(Picture() + " " + TransformVariantName(variant));
}

void BM_Decode(benchmark::State& state) {
    const int sc = int(state.range(0));
    const auto variant = TransformVariant(state.range(1));
    const test::Planes* pic = Photo(sc);
    if (!pic) {
        state.SkipWithError("no picture (ffmpeg or gnome-backgrounds missing)");
        return;
    }
    KVQ1Encoder enc(sc, sc == 1 ? 768 : 1536, 50);
    std::vector<uint8_t> frame(size_t(enc.BudgetBytes()));
    const int bytes = enc.Encode(0, pic->y.data(), pic->cb.data(), pic->cr.data(), frame.data());
    KVQ1Decoder dec;
    if (!dec.UseKernels(variant)) {
        state.SkipWithError("variant not available on this processor");
        return;
    }
    test::Planes out = test::MakePlanes(sc, 0, 128);
    for (auto _ : state) {
        if (!dec.Decode(frame.data(), frame.size(), out.y.data(), out.cb.data(), out.cr.data()))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.y.data());
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = bytes;
    state.SetLabel(Picture() + " " + TransformVariantName(variant));
}

void Args(benchmark::internal::Benchmark* b) {
    for (int sc : {1, 2})
        for (TransformVariant v : {TransformVariant::Sse, TransformVariant::Avx, TransformVariant::Avx2,
                                   TransformVariant::Avx512})
            b->Args({sc, int(v)});
    b->ArgNames({"class", "variant"})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
}

}  // namespace

BENCHMARK(BM_Encode)->Apply(Args);
BENCHMARK(BM_Decode)->Apply(Args);
BENCHMARK_MAIN();
