// The player window's decode-and-show rate: a video of RK_BENCH_FRAMES
// frames (default 200) of one photograph (RK_BENCH_PICTURE, default
// licorice-l, from gnome-backgrounds) on a 1080p50 and a 2160p50 card image
// in RK_BENCH_DIR (default the temporary folder), played by CPlayerWindow
// with the display throttle off: every frame read ahead on the player's
// thread, decoded, turned into RGBA, taken with its sound (to the null
// sink) and painted into the view at the window's size. Prints frames shown
// a second of wall time and the CPU time a frame took, per card; then the
// same video played in real time on the system clock: frames shown and
// dropped, and the longest run of drops.
//
// Run on the offscreen platform (player_show.sh sets it): painting goes to
// the window's backing store as on a screen, without a display server.
#include <QApplication>
#include <QElapsedTimer>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/player_sound.h"
#include "app/player_view.h"
#include "app/player_window.h"
#include "card/card_device.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"
#include "codec_test_util.h"
#include "media/item_frames.h"

using namespace rk;

namespace {

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : fallback;
}

std::string EnvText(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// A card image of `mode` holding video 1: the photograph coded once and
// written `frames` times, each frame with a tone.
bool MakeCard(CSDCard& card, const std::string& path, int mode, int frames) {
    const int sizeClass = mode == 0 ? 1 : 2;
    const int cpf = sizeClass == 1 ? 33 : 65;
    test::Planes photo;
    std::string why;
    if (!test::LoadPhoto(EnvText("RK_BENCH_PICTURE", "licorice-l"), sizeClass, photo, &why)) {
        std::fprintf(stderr, "no picture: %s\n", why.c_str());
        return false;
    }
    std::vector<uint8_t> slot(size_t(cpf) * kClusterBytes, 0);
    KVQ1Encoder enc(sizeClass, FrameBudgetSectors(cpf), 50);
    if (enc.Encode(0, photo.y.data(), photo.cb.data(), photo.cr.data(), slot.data() + kClusterBytes) <= 0) return false;
    std::vector<uint8_t> sound(5760);
    for (size_t i = 0; i < sound.size(); ++i) sound[i] = uint8_t(std::lround(100 * std::sin(double(i) / 7)));
    ::unlink(path.c_str());
    int error = 0;
    const uint64_t bytes = uint64_t(frames + 200) * uint64_t(cpf) * kClusterBytes + (64ull << 20);
    if (!CreateCardImage(path, bytes, error) || card.OpenPath(path) != 0 || !card.Format(mode)) return false;
    const uint32_t start = uint32_t(card.FirstItemCluster());
    for (int f = 0; f < frames; ++f) {
        FillAudioChunk(slot.data(), uint32_t(f), 50, sound.data(), sound.size());
        if (!card.WriteClusters(start + uint32_t(f * cpf), slot.data(), uint32_t(cpf))) return false;
    }
    ItemEntry e;
    e.kind = CardItem::kVideo;
    e.index = 0;
    e.head = EntryHead{start, uint16_t(frames), uint16_t(cpf)};
    return card.CommitItem(e, nullptr);
}

// CPU seconds of this process so far, every thread's.
double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Plays the whole video unthrottled; frames shown a second of wall time,
// and the CPU time (both threads) a frame took.
double ShowRate(CSDCard& card, int& shown, QSize& viewSize, double& cpuMsPerFrame) {
    auto frames = CItemFrames::Open(card, {PlayKind::kVideo, 0});
    if (!frames) return 0;
    CPlayerWindow player(std::move(frames), std::make_unique<CNullSound>(), QStringLiteral("bench"));
    player.show();
    QCoreApplication::processEvents();
    player.SetThrottle(false);
    player.GoToStart();
    shown = 0;
    QObject::connect(&player, &CPlayerWindow::frameShown, &player, [&] { ++shown; });
    QElapsedTimer clock;
    clock.start();
    const double cpu0 = CpuSeconds();
    player.Play();
    while (player.Playing()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    cpuMsPerFrame = shown > 0 ? (CpuSeconds() - cpu0) * 1000 / shown : 0;
    viewSize = player.View()->size();
    return seconds > 0 ? shown / seconds : 0;
}

// Plays the whole video in real time on the system clock (the null sink has
// no device): frames shown and dropped, and the longest run of frames
// dropped one after another.
void RealTime(CSDCard& card, int& shown, int64_t& dropped, int64_t& longestRun) {
    auto frames = CItemFrames::Open(card, {PlayKind::kVideo, 0});
    if (!frames) return;
    CPlayerWindow player(std::move(frames), std::make_unique<CNullSound>(), QStringLiteral("bench"));
    player.show();
    QCoreApplication::processEvents();
    player.GoToStart();
    shown = 0;
    longestRun = 0;
    int64_t last = -1;
    QObject::connect(&player, &CPlayerWindow::frameShown, &player, [&](qint64 n) {
        ++shown;
        longestRun = std::max<int64_t>(longestRun, n - last - 1);
        last = n;
    });
    player.Play();
    while (player.Playing()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    dropped = player.FramesDropped();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int frames = EnvInt("RK_BENCH_FRAMES", 200);
    const std::string folder = EnvText("RK_BENCH_DIR", EnvText("TMPDIR", "/tmp").c_str());
    for (int mode : {0, 1}) {
        const std::string path = folder + "/player_show_bench_" + std::to_string(mode) + ".img";
        CSDCard card;
        if (!MakeCard(card, path, mode, frames)) {
            std::fprintf(stderr, "mode %d: the card image could not be made in %s\n", mode, folder.c_str());
            return 1;
        }
        int shown = 0;
        QSize view;
        double cpuMs = 0;
        const double rate = ShowRate(card, shown, view, cpuMs);
        std::printf("%s: %d frames shown at %.1f frames/s, %.1f ms of CPU a frame (view %dx%d, display throttle off)\n",
                    mode == 0 ? "1080p50" : "2160p50", shown, rate, cpuMs, view.width(), view.height());
        int64_t dropped = 0, longestRun = 0;
        RealTime(card, shown, dropped, longestRun);
        std::printf("%s in real time: %d frames shown, %lld dropped, at most %lld in a row\n",
                    mode == 0 ? "1080p50" : "2160p50", shown, static_cast<long long>(dropped),
                    static_cast<long long>(longestRun));
        card.Close();
        ::unlink(path.c_str());
    }
    return 0;
}
