// The player's frames: how many frames a second the card's frames are read,
// decoded and turned into RGBA (CItemFrames::ReadFrame, sound included) on
// one thread, and taken from the read-ahead queue (CFramePrefetcher), beside
// the decoder's own rate on the same frame and the colour step alone
// (vectorised and one pixel at a time). 1920 x 1080 and 3840 x 2160.
//
// The picture is a photograph from gnome-backgrounds (RK_BENCH_PICTURE,
// default licorice-l) as the codec benchmark takes it, coded once and
// written RK_BENCH_FRAMES times (default 100) as a video on a card image in
// RK_BENCH_DIR (default the temporary folder); the image is read through
// the page cache, as a card reader's reads would be after the first pass.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "card/card_device.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "media/frame_prefetch.h"
#include "media/frame_rgb.h"
#include "media/item_frames.h"
#include "codec_test_util.h"

using namespace rk;

namespace {

std::string Picture() {
    const char* p = std::getenv("RK_BENCH_PICTURE");
    return p && *p ? p : "licorice-l";
}

int Frames() {
    const char* f = std::getenv("RK_BENCH_FRAMES");
    const int n = f ? std::atoi(f) : 0;
    return n > 0 ? n : 100;
}

std::string Folder() {
    const char* d = std::getenv("RK_BENCH_DIR");
    if (d && *d) return d;
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

// One video of the photograph on a card of size class 1 (mode 0, 1080p50)
// or 2 (mode 1, 2160p50), made once per run.
struct BenchCard {
    std::string path;
    CSDCard card;
    std::vector<uint8_t> slot;
    test::Planes photo;
    bool ok = false;

    explicit BenchCard(int sizeClass) {
        if (!test::LoadPhoto(Picture(), sizeClass, photo)) return;
        const int cpf = sizeClass == 1 ? 33 : 65;
        slot.assign(size_t(cpf) * kClusterBytes, 0);
        KVQ1Encoder enc(sizeClass, FrameBudgetSectors(cpf), 50);
        if (enc.Encode(0, photo.y.data(), photo.cb.data(), photo.cr.data(), slot.data() + kClusterBytes) <= 0) return;
        // A tone in every frame's head, as a video's sound.
        std::vector<uint8_t> sound(5760);
        for (size_t i = 0; i < sound.size(); ++i) sound[i] = uint8_t(std::lround(100 * std::sin(double(i))));
        path = Folder() + "/player_bench_" + std::to_string(sizeClass) + ".img";
        ::unlink(path.c_str());
        int error = 0;
        const uint64_t bytes = uint64_t(Frames() + 200) * uint64_t(cpf) * kClusterBytes + (64ull << 20);
        if (!CreateCardImage(path, bytes, error) || card.OpenPath(path) != 0 || !card.Format(sizeClass == 1 ? 0 : 1))
            return;
        const uint32_t start = uint32_t(card.FirstItemCluster());
        for (int f = 0; f < Frames(); ++f) {
            FillAudioChunk(slot.data(), uint32_t(f), 50, sound.data(), sound.size());
            if (!card.WriteClusters(start + uint32_t(f * cpf), slot.data(), uint32_t(cpf))) return;
        }
        ItemEntry e;
        e.kind = CardItem::kVideo;
        e.index = 0;
        e.head = EntryHead{start, uint16_t(Frames()), uint16_t(cpf)};
        ok = card.CommitItem(e, nullptr);
    }
    ~BenchCard() {
        card.Close();
        if (!path.empty()) ::unlink(path.c_str());
    }
};

BenchCard* CardOf(int sizeClass) {
    static std::map<int, std::unique_ptr<BenchCard>> cards;
    auto& c = cards[sizeClass];
    if (!c) c = std::make_unique<BenchCard>(sizeClass);
    return c->ok ? c.get() : nullptr;
}

void Label(benchmark::State& state, int sizeClass) {
    state.SetLabel(std::string(sizeClass == 1 ? "1080p " : "2160p ") + Picture() + " rgb:" + RgbRowVariant());
    // Frames a second of real time: what a viewer gets on the machine as
    // loaded. The CPU column is this thread's time alone (for the read-ahead
    // queue, the work is on its own thread).
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The decoder alone, from memory.
void BM_Decoder(benchmark::State& state) {
    const int sc = int(state.range(0));
    BenchCard* c = CardOf(sc);
    if (!c) return state.SkipWithError("no picture or no card image (ffmpeg, gnome-backgrounds, RK_BENCH_DIR)");
    const KVQ1Geometry g = KVQ1GeometryFor(sc);
    std::vector<uint8_t> y(g.LumaBytes()), cb(g.ChromaBytes()), cr(g.ChromaBytes());
    KVQ1Decoder decoder;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            decoder.Decode(c->slot.data() + kClusterBytes, c->slot.size() - kClusterBytes, y.data(), cb.data(), cr.data()));
    Label(state, sc);
}

// The colour step alone over a whole frame: range(1) 2 the widest body this
// processor runs, 1 SSE2, 0 one pixel at a time.
void BM_ColourStep(benchmark::State& state) {
    const int sc = int(state.range(0));
    BenchCard* c = CardOf(sc);
    if (!c) return state.SkipWithError("no picture or no card image");
    const KVQ1Geometry g = KVQ1GeometryFor(sc);
    RgbaFrame out;
    out.Resize(g.width, g.height);
    const auto row = state.range(1) == 2 ? YCbCrRowToRgb : state.range(1) == 1 ? YCbCrRowToRgbSse2 : YCbCrRowToRgbScalar;
    const size_t cw = size_t(g.width / 2);
    for (auto _ : state) {
        for (int r = 0; r < g.height; ++r)
            row(c->photo.y.data() + size_t(r) * size_t(g.width), c->photo.cb.data() + size_t(r / 2) * cw,
                c->photo.cr.data() + size_t(r / 2) * cw, g.width, out.Row(r), RgbLayout::kRgba);
        benchmark::DoNotOptimize(out.Bits());
    }
    Label(state, sc);
    if (state.range(1) < 2)
        state.SetLabel(std::string(sc == 1 ? "1080p" : "2160p") + (state.range(1) ? " sse2" : " one pixel at a time"));
}

// Read, decode, colour and sound of frame after frame on this thread.
void BM_ReadFrame(benchmark::State& state) {
    const int sc = int(state.range(0));
    BenchCard* c = CardOf(sc);
    if (!c) return state.SkipWithError("no picture or no card image");
    auto frames = CItemFrames::Open(c->card, {PlayKind::kVideo, 0});
    RgbaFrame out;
    std::vector<int32_t> sound;
    int64_t n = 0;
    frames->ReadFrame(n, out);  // the picture's storage, once
    for (auto _ : state) {
        frames->ReadFrame(n, out);
        frames->ReadSound(n, sound);
        n = (n + 1) % frames->FrameCount();
    }
    Label(state, sc);
}

// Frames taken from the read-ahead queue (depth 4) as fast as it gives them:
// the reading thread's rate with the taker on another core.
void BM_Prefetched(benchmark::State& state) {
    const int sc = int(state.range(0));
    BenchCard* c = CardOf(sc);
    if (!c) return state.SkipWithError("no picture or no card image");
    auto frames = CItemFrames::Open(c->card, {PlayKind::kVideo, 0});
    CFramePrefetcher ahead(*frames, 4);
    ahead.SetWrap(true);
    ahead.Start(0);
    PrefetchedFrame got;
    // Warmed: every entry of the ring and ours has its storage.
    for (int i = 0; i < 6; ++i) ahead.Take(got, -1);
    for (auto _ : state) ahead.Take(got, -1);
    ahead.Stop();
    Label(state, sc);
}

}  // namespace

BENCHMARK(BM_Decoder)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColourStep)->Args({1, 2})->Args({1, 1})->Args({1, 0})->Args({2, 2})->Args({2, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Prefetched)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

BENCHMARK_MAIN();
