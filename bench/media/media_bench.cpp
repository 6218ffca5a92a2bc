// Adding a KAVQ1 file to a card image against `dd` with a final sync of the
// same bytes to the same image, measured in the same run; and the cost of
// one thumbnail.
//
// The image and the source file go to RK_BENCH_DIR (default: the current
// folder), which must be on a real disk for the sync to mean anything.
// RK_BENCH_FRAMES sets the length of the source (default 300 frames of
// 405504 bytes, 122 MB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "card/card_device.h"
#include "card/sd_card.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"
#include "convert/kavq1_file_encoder.h"
#include "convert/tool_folder.h"
#include "media/picture.h"
#include "media/thumbnail.h"
#include "media/video_ops.h"
#include "ui/scripted_operator.h"

namespace {

using namespace rk;

constexpr int kCpf = 33;
constexpr size_t kSlot = size_t(kCpf) * 12288;

std::string BenchDir() {
    const char* d = std::getenv("RK_BENCH_DIR");
    return d && *d ? d : ".";
}

int Frames() {
    const char* f = std::getenv("RK_BENCH_FRAMES");
    int n = f ? std::atoi(f) : 0;
    return n > 0 ? n : 300;
}

struct Files {
    std::string image, source;
    Files() {
        image = BenchDir() + "/media_bench_card.img";
        source = BenchDir() + "/media_bench_source.kavq1";
        ::unlink(image.c_str());
        int error = 0;
        // Room for the directory areas and the source, twice over.
        CreateCardImage(image, uint64_t(Frames()) * kSlot * 2 + (64ull << 20), error);
        CSDCard card;
        card.OpenPath(image);
        card.Format(0);
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        std::vector<uint8_t> slot(kSlot);
        for (int i = 0; i < Frames(); ++i) {
            std::memset(slot.data(), 0, slot.size());
            WriteAudioChunkHeader(slot.data(), uint32_t(i), 5760);
            uint8_t* f = slot.data() + 12288;
            std::memcpy(f, "KVQ1", 4);
            f[4] = 1;
            f[5] = 50;
            f[6] = 768 >> 8;
            f[7] = 768 & 255;
            for (size_t k = 32; k < 300000; ++k) f[k] = uint8_t(k * 7 + i);
            out.write(reinterpret_cast<const char*>(slot.data()), std::streamsize(slot.size()));
        }
    }
    ~Files() {
        ::unlink(image.c_str());
        ::unlink(source.c_str());
    }
};

Files& TheFiles() {
    static Files files;
    return files;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Empties the card image (directory only), syncs outside the timing, then
// times one add of `source` into entry 0; `r` receives its outcome.
double TimedAdd(const std::string& image, const std::string& source, const ImportOptions& options,
                AddVideoOutcome& r) {
    CScriptedOperator op;
    CSDCard card(&op);
    card.OpenPath(image);
    card.Format(0);
    ::sync();
    auto t0 = std::chrono::steady_clock::now();
    r = AddVideoFromPath(op, card, 0, source, options);
    return Seconds(t0);
}

// Adds the source into an empty card (flushed, directory written last) and,
// in the same iteration, copies the same bytes to the same place of the
// same image with dd and a final sync; the two alternate so that both see
// the same machine. The card is emptied (directory only) and everything
// synced outside the timing. Counters give the medians in MB/s and their
// ratio; the iteration time is the add's.
void BM_AddVersusDd(benchmark::State& state) {
    Files& f = TheFiles();
    const double mb = double(Frames()) * double(kSlot) / 1e6;
    const std::string dd = "dd if='" + f.source + "' of='" + f.image + "' bs=" + std::to_string(kSlot) +
                           " seek=" + std::to_string(1651 * 12288) +
                           " oflag=seek_bytes conv=notrunc,fsync status=none";
    std::vector<double> add, copy;
    for (auto _ : state) {
        AddVideoOutcome r;
        const double s = TimedAdd(f.image, f.source, ImportOptions{}, r);
        if (r.result != OpResult::kDone) state.SkipWithError("add failed");
        add.push_back(s);
        state.SetIterationTime(s);
        ::sync();
        auto t1 = std::chrono::steady_clock::now();
        if (std::system(dd.c_str()) != 0) state.SkipWithError("dd failed");
        copy.push_back(Seconds(t1));
    }
    const double addMBps = mb / Median(add), ddMBps = mb / Median(copy);
    state.counters["add_MBps"] = addMBps;
    state.counters["dd_MBps"] = ddMBps;
    state.counters["add_vs_dd"] = addMBps / ddMBps;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Frames()) * int64_t(kSlot));
}
BENCHMARK(BM_AddVersusDd)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

// Importing an H.264 source with sound: the whole add (encoder, card writes,
// directory) against pulling the same slots out of the encoder alone. The
// two alternate; the counters are the medians in frames per second.
void BM_ImportVersusEncoderAlone(benchmark::State& state) {
    Files& f = TheFiles();
    const std::string source = BenchDir() + "/media_bench_source.mp4";
    const std::string make = "'" + ProgramFile(kToolFfmpeg) +
                             "' -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440 "
                             "-t 2 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest -y '" + source + "'";
    if (std::system(make.c_str()) != 0) {
        state.SkipWithError("no ffmpeg beside the program");
        return;
    }
    std::vector<double> add, alone;
    int frames = 0;
    for (auto _ : state) {
        AddVideoOutcome r;
        const double s = TimedAdd(f.image, source, ImportOptions{false, false}, r);
        if (r.result != OpResult::kDone) state.SkipWithError("import failed");
        frames = r.framesWritten;
        add.push_back(s);
        state.SetIterationTime(s);
        auto t1 = std::chrono::steady_clock::now();
        {
            KAVQ1FileEncoder enc(source, 1, 768, 50, false, false);
            std::vector<uint8_t> slot(size_t(enc.SlotBytes()));
            for (int i = 0; i < enc.FrameCount(); ++i) {
                std::memset(slot.data(), 0, slot.size());
                if (!enc.GetNextFrame(slot.data())) break;
            }
        }
        alone.push_back(Seconds(t1));
    }
    ::unlink(source.c_str());
    state.counters["import_fps"] = frames / Median(add);
    state.counters["encoder_fps"] = frames / Median(alone);
    state.counters["import_vs_encoder"] = Median(alone) / Median(add);
}
BENCHMARK(BM_ImportVersusEncoderAlone)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// One thumbnail from a real 1920 x 1080 frame: decode, convert, four halvings, UYVY.
void BM_ThumbnailFullHd(benchmark::State& state) {
    const KVQ1Geometry g = KVQ1GeometryFor(1);
    std::vector<uint8_t> y(g.LumaBytes()), cb(g.ChromaBytes(), 110), cr(g.ChromaBytes(), 150);
    for (size_t i = 0; i < y.size(); ++i) y[i] = uint8_t(16 + (i % 1920) / 9);
    std::vector<uint8_t> slot(kSlot, 0);
    KVQ1Encoder enc(1, 768, 50);
    enc.Encode(0, y.data(), cb.data(), cr.data(), slot.data() + 12288);
    CThumbnailMaker maker(1);
    std::vector<uint8_t> block(kThumbBlockBytes);
    for (auto _ : state) benchmark::DoNotOptimize(maker.Make(slot.data(), kCpf, block.data()));
}
BENCHMARK(BM_ThumbnailFullHd)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
