#include "media/playlist_ops.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/safe_open.h"
#include "base/string_ids.h"
#include "card/card_directory.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/kvq1_format.h"
#include "convert/app_launch.h"
#include "convert/kavq1_file_encoder.h"
#include "convert/pipe_folder.h"
#include "convert/plane_memory.h"
#include "convert/rgb_to_frame.h"
#include "convert/tool_folder.h"
#include "media/frame_picture.h"
#include "media/item_writer.h"
#include "media/slot_buffer.h"
#include "media/slot_stream.h"
#include "ui/operator.h"

namespace rk {

namespace {

// The picture's drawing: band and duration, square and number. The loop
// mark follows for repeating playlists, then the output name.
constexpr const char* kTitleTemplateHD =
    "loop.png -composite 1.png -fill \"#0008\" -draw \"rectangle 200,840,1720,1060\" -gravity Center "
    "-font LCDM2B__.TTF -weight 700 -pointsize 200 -fill White -annotate +0+420 \"%s\" -fill \"#0008\" "
    "-draw \"rectangle 200,20,420,220\" -gravity Center -font LCDM2B__.TTF -weight 700 -pointsize 200 "
    "-fill White -annotate -650-410 \"%d\"";
constexpr const char* kTitleTemplate4K =
    "loop.png -composite 1.png -fill \"#0008\" -draw \"rectangle 400,1680,3440,2120\" -gravity Center "
    "-font LCDM2B__.TTF -weight 700 -pointsize 400 -fill White -annotate +0+840 \"%s\" -fill \"#0008\" "
    "-draw \"rectangle 400,40,840,440\" -gravity Center -font LCDM2B__.TTF -weight 700 -pointsize 400 "
    "-fill White -annotate -1300-820 \"%d\"";
constexpr const char* kLoopMarkHD = "-gravity NorthWest -draw \"image over 1578,944 0,0 'loop.png'\"";
constexpr const char* kLoopMark4K = "-gravity NorthWest -draw \"image over 3156,1964 0,0 'loop.png'\"";

// The working files of a title card, in its private folder.
constexpr const char* kFramePicture = "1.ppm";
constexpr const char* kCardPicture = "2.png";
constexpr const char* kCardRgba = "2.rgba";

bool ValidPlaylist(int p) { return p >= 0 && p < kPlaylistCount; }

}  // namespace

// ImageMagick writes the drawn picture as the smallest PNG that holds it: a
// grey one, a palette of up to 256 colours, or 8-bit RGBA, and ffmpeg
// converts each of them its own way. A frame with more than 256 colours and
// a colour that is not grey, both in rows the drawing never touches, can
// only become RGBA: then ImageMagick may write the bare RGBA rows, which
// ffmpeg reads as the same pixels in the same layout, without the PNG
// coding on either side. Any other frame keeps the PNG.
bool TitleCardBecomesRgba(const std::vector<uint8_t>& rgb, int width, int height) {
    if (width <= 0 || height <= 0 || rgb.size() < size_t(width) * size_t(height) * 3) return false;
    return TitleCardBecomesRgba(rgb.data(), width, height);
}

bool TitleCardBecomesRgba(const uint8_t* rgb, int width, int height) {
    // Between the number square (and its digit) and the band.
    const int top = height * 300 / 1080, bottom = height * 800 / 1080;
    std::vector<uint64_t> seen(size_t(1) << 18, 0);
    int colours = 0;
    bool coloured = false;
    for (int y = top; y < bottom; ++y) {
        const uint8_t* px = rgb + size_t(y) * size_t(width) * 3;
        for (int x = 0; x < width; ++x, px += 3) {
            if (px[0] != px[1] || px[1] != px[2]) coloured = true;
            const uint32_t c = (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2];
            uint64_t& word = seen[c >> 6];
            const uint64_t bit = uint64_t(1) << (c & 63);
            if (!(word & bit)) {
                word |= bit;
                ++colours;
            }
            if (coloured && colours > 256) return true;
        }
    }
    return false;
}

uint64_t PlaylistFrames(const CardDirectory& dir, int p) {
    uint64_t total = 0;
    const int n = dir.ClipCount(p);
    for (int i = 0; i < n && i < kMaxClipsPerPlaylist; ++i) {
        const int v = dir.Clip(p, i);
        if (v >= 0 && v < kVideoCount) total += dir.Video(v).numFrames;
    }
    return total;
}

std::string PlaylistDurationText(const CardDirectory& dir, int p, int displayRate) {
    return FramesDurationText(static_cast<int64_t>(PlaylistFrames(dir, p)), displayRate);
}

uint32_t TitleCardSourceFrame(uint32_t numFrames) { return numFrames / 2; }

int PlaylistsUsingVideo(const CardDirectory& dir, int v) {
    int count = 0;
    for (int p = 0; p < kPlaylistCount; ++p) {
        const int n = dir.ClipCount(p);
        for (int i = 0; i < n && i < kMaxClipsPerPlaylist; ++i)
            if (dir.Clip(p, i) == v) {
                ++count;
                break;
            }
    }
    return count;
}

int RemoveVideoFromPlaylists(CardDirectory& dir, int v, bool changed[16]) {
    int count = 0;
    for (int p = 0; p < kPlaylistCount; ++p) {
        changed[p] = false;
        int n = std::min<int>(dir.ClipCount(p), kMaxClipsPerPlaylist);
        int kept = 0;
        for (int i = 0; i < n; ++i) {
            const int c = dir.Clip(p, i);
            if (c == v) continue;
            dir.SetClip(p, kept++, c);
        }
        if (kept != n) {
            for (int i = kept; i < n; ++i) dir.SetClip(p, i, 0);
            dir.SetClipCount(p, kept);
            changed[p] = true;
            ++count;
        }
    }
    return count;
}

bool TitleCardWords(bool hd, const std::string& duration, int number, bool loops, const std::string& framePicture,
                    int pngLevel, const std::string& output, std::vector<std::string>& words) {
    words.clear();
    if (!BuildArguments(hd ? kTitleTemplateHD : kTitleTemplate4K, {duration, std::to_string(number)}, words))
        return false;
    // The frame picture's place in the template.
    for (std::string& w : words)
        if (w == "1.png") w = framePicture;
    if (loops) {
        std::vector<std::string> loopWords;
        if (!BuildArguments(hd ? kLoopMarkHD : kLoopMark4K, {}, loopWords)) return false;
        words.insert(words.end(), loopWords.begin(), loopWords.end());
    }
    words.insert(words.end(), {"-define", "png:compression-level=" + std::to_string(pngLevel), output});
    return true;
}

namespace {

// One title card on its way: what it is drawn from, read from the card by
// the calling thread; the slot made from it without touching the card (so
// several are made at once); then the slot written at the card's fixed
// place for it.
struct TitleCardJob {
    int p = -1;
    int sourceClusters = 0;        // of the source frame's slot
    std::vector<uint8_t> source;   // the middle frame of the first clip
    std::string duration;
    bool loops = false;
    std::vector<uint8_t> slot;     // the made title card, clustersPerFrame long
    const char* failure = nullptr; // why it was not made (logged)
};

bool FailJob(TitleCardJob& job, const char* why) {
    job.failure = why;
    LogMessage(2, "MakeTitleCard(): playlist %d: %s", job.p + 1, why);
    return false;
}

// Reads what playlist p's title card is drawn from (the middle frame of its
// first clip) and the texts drawn on it.
bool ReadTitleCardSource(CSDCard& card, int p, TitleCardJob& job) {
    job.p = p;
    const CardDirectory& dir = card.Directory();
    if (!ValidPlaylist(p) || dir.ClipCount(p) <= 0) return false;
    const int v = dir.Clip(p, 0);
    if (v < 0 || v >= kVideoCount) return false;
    const EntryHead head = dir.Video(v);
    if (!head.Used() || head.clustersPerFrame < 2) return false;
    job.sourceClusters = head.clustersPerFrame;
    job.source.assign(static_cast<size_t>(head.clustersPerFrame) * kClusterSize, 0);
    const uint64_t first =
        uint64_t(head.startCluster) + uint64_t(head.clustersPerFrame) * TitleCardSourceFrame(head.numFrames);
    if (!card.ReadClusters(static_cast<uint32_t>(first), job.source.data(), head.clustersPerFrame))
        return FailJob(job, "the first clip cannot be read");
    job.duration = PlaylistDurationText(dir, p, card.DisplayRate());
    job.loops = dir.Loops(p);
    return true;
}

// The bare RGBA rows ImageMagick wrote, made into the frame's planes and
// coded here, with the picture process's own steps for RGB pictures: the
// same slot as the import encoder gives, without the tool's start-up.
// False (nothing made) when the picture is not frame-sized or not all
// there; the caller then takes the tool's road.
bool OwnRgbaTitleCard(const std::string& path, int width, int height, const VideoMode& mode, int cpf,
                      std::vector<uint8_t>& slot) {
    const int frameWidth = mode.sizeClass == 1 ? 1920 : 3840, frameHeight = mode.sizeClass == 1 ? 1080 : 2160;
    if (width != frameWidth || height != frameHeight) return false;
    // Read a piece at a time straight into the converter's planes.
    const size_t pixels = size_t(width) * size_t(height);
    CRgbPlanes rgb;
    if (!rgb.Create(width, height)) return false;
    {
        CFileHandle file(OpenInputFile(path));
        if (file.fd < 0) return false;
        constexpr size_t kPiecePixels = 65536;
        std::unique_ptr<uint8_t[]> piece(new uint8_t[kPiecePixels * 4]);
        for (size_t at = 0; at < pixels; at += kPiecePixels) {
            const size_t n = std::min(kPiecePixels, pixels - at);
            if (ReadWholeAt(file.fd, at * 4, piece.get(), n * 4) != 1) return false;
            rgb.PutRgba(piece.get(), at, n);
        }
    }
    // The coded planes: luma, then Cb and Cr, each with the filler lines
    // below the picture of size class 1 (luma black, chroma neutral).
    const size_t codedLuma = size_t(width) * (mode.sizeClass == 1 ? 1088 : 2160), codedChroma = codedLuma / 4;
    const size_t chroma = pixels / 4;
    CPlaneMemory planes;
    if (!planes.Allocate(codedLuma + 2 * codedChroma)) return false;
    uint8_t* luma = planes.Data();
    uint8_t* cb = luma + codedLuma;
    uint8_t* cr = cb + codedChroma;
    std::memset(luma + pixels, 0, codedLuma - pixels);
    std::memset(cb + chroma, 128, codedChroma - chroma);
    std::memset(cr + chroma, 128, codedChroma - chroma);
    std::string why;
    if (!RgbPlanesToFramePlanes(rgb, true, luma, cb, cr, &why)) {
        LogMessage(2, "MakeTitleCard(): own conversion refused (%s)", why.c_str());
        return false;
    }
    slot.resize(static_cast<size_t>(cpf) * kClusterSize);
    if (EncodeStillPlanes(planes.Data(), mode.sizeClass, FrameBudgetSectors(cpf), mode.frameRate, slot.data(),
                          slot.size()))
        return true;
    slot.clear();
    return false;
}

// Draws and encodes the title card into job.slot. Touches neither the card
// nor the operator: safe on any thread, beside other jobs.
bool MakeTitleCardSlot(TitleCardJob& job, const VideoMode& mode, int cpf) {
    CPlaneMemory rgb;
    int width = 0, height = 0;
    if (!DecodeSlotToRGB(job.source.data(), job.sourceClusters, mode.sizeClass, rgb, width, height))
        return FailJob(job, "the first clip's frame does not decode");
    job.source.clear();
    job.source.shrink_to_fit();

    // The frame goes to ImageMagick as a PPM we write ourselves, and comes
    // back as an uncompressed PNG: the same pixels (and the same PNG colour
    // type, which decides ffmpeg's conversion) as the PNGs of the tools' own
    // steps, without the tool run and the compression.
    CPipeFolder folder;
    if (!folder.Create()) return FailJob(job, "no working folder (the temporary folder is not usable)");
    if (WriteRgbAsPpm(folder, rgb.Data(), width, height, kFramePicture).empty())
        return FailJob(job, "the frame cannot be written");
    if (!folder.Link(kLoopPicture, ProgramFile(kLoopPicture)) || !folder.Link(kTitleFont, ProgramFile(kTitleFont)))
        return FailJob(job, "the artwork cannot be linked");

    std::vector<std::string> words;
    const bool rgba = TitleCardBecomesRgba(rgb.Data(), width, height);
    if (!TitleCardWords(width == 1920, job.duration, job.p + 1, job.loops, kFramePicture, 0, kCardPicture, words))
        return FailJob(job, "template");
    if (rgba) {
        // The output name with the bare RGBA rows in its place.
        words.resize(words.size() - 3);
        words.insert(words.end(), {"-depth", "8", std::string("rgba:") + kCardRgba});
    }
    const std::string out = folder.AddFile(rgba ? kCardRgba : kCardPicture);
    {
        // ImageMagick 6 complains about the leading -composite and still
        // writes the picture: its exit code says nothing; the picture does.
        CAppLaunch convert(kToolImgConvert, words, false, folder.Path());
        if (!convert.started || !convert.Wait(-1)) return FailJob(job, "img_convert cannot run");
    }

    if (rgba && OwnRgbaTitleCard(out, width, height, mode, cpf, job.slot)) return true;

    // Our own picture: no probe, no sound process. Grey, palette or colour,
    // the PNG is RGB, converted as every RGB picture is.
    SourcePicture own;
    own.width = width;
    own.height = height;
    own.pixelFormat = rgba ? "rgba" : "rgb24";
    KAVQ1FileEncoder encoder(out, own, mode.sizeClass, FrameBudgetSectors(cpf),
                             mode.frameRate, true, false);
    if (!encoder.IsOpened()) return FailJob(job, "the picture cannot be encoded");
    job.slot.assign(static_cast<size_t>(cpf) * kClusterSize, 0);
    CEncoderSlotSource source(encoder);
    if (source.Next(job.slot.data(), job.slot.size()) != 1) {
        job.slot.clear();
        return FailJob(job, "the picture cannot be encoded");
    }
    return true;
}

// The one slot of a made title card.
class CMadeSlotSource : public ISlotSource {
public:
    explicit CMadeSlotSource(const std::vector<uint8_t>& slot) : slot_(slot) {}
    int Next(uint8_t* slot, size_t bytes) override {
        if (given_ || slot_.size() > bytes) return 0;
        std::memcpy(slot, slot_.data(), slot_.size());
        given_ = true;
        return 1;
    }

private:
    const std::vector<uint8_t>& slot_;
    bool given_ = false;
};

// Writes a made title card at its place. No Stop: once the pictures are
// made, the title cards and the directory after them are written whole.
bool WriteTitleCardSlot(IOperator& op, CSDCard& card, TitleCardJob& job) {
    CMadeSlotSource source(job.slot);
    ItemPlan plan;
    plan.kind = CardItem::kTitleCard;
    plan.index = job.p;
    plan.frames = 1;
    plan.clustersPerFrame = card.ClustersPerFrame();
    plan.sizeClass = VideoModeAt(card.VideoMode()).sizeClass;
    plan.placeAt = card.Regions().TitleCluster(job.p);
    plan.hasThumbnail = false;
    plan.reportDone = false;
    plan.ownProgress = false;
    plan.quietFailure = true;
    const ItemWriteOutcome w = WriteItem(op, card, source, plan);
    if (w.result != OpResult::kDone) return FailJob(job, "the title card was not written");
    return true;
}

// How many title cards are made at once: each is two tool runs and a
// little of our own work, mostly waiting, so a couple more than the
// processors keeps them busy.
int TitleCardWorkers(size_t jobs) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<int>(std::min<size_t>(jobs, std::max(4u, cores + 2)));
}

}  // namespace

TitleCardsOutcome RemakeTitleCards(IOperator& op, CSDCard& card, const std::vector<int>& playlists) {
    TitleCardsOutcome out;
    std::vector<TitleCardJob> jobs;
    for (int p : playlists) {
        if (!ValidPlaylist(p) || card.Directory().ClipCount(p) <= 0) continue;
        TitleCardJob job;
        if (ReadTitleCardSource(card, p, job)) jobs.push_back(std::move(job));
        else ++out.failures;
    }
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    const int cpf = card.ClustersPerFrame();
    const size_t n = jobs.size();
    // Progress, with Stop, for more than one title card: one step a card.
    const bool shown = n > 1;
    if (shown) op.BeginProgress(static_cast<int64_t>(n), ProgressUnit::kItems);

    std::atomic<bool> stop{false};
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::condition_variable changed;
    size_t done = 0;
    int running = TitleCardWorkers(n);
    std::vector<std::thread> workers;
    for (int w = running; w > 0; --w)
        workers.emplace_back([&] {
            for (;;) {
                const size_t i = stop ? n : next++;
                if (i >= n) break;
                MakeTitleCardSlot(jobs[i], mode, cpf);
                std::lock_guard g(lock);
                ++done;
                changed.notify_all();
            }
            std::lock_guard g(lock);
            --running;
            changed.notify_all();
        });
    // Stop ends the making: the cards being drawn finish (a second or so),
    // no new one starts, and nothing is written.
    std::unique_lock g(lock);
    for (;;) {
        if (shown) op.SetProgress(static_cast<int64_t>(done), false);
        if (running == 0) break;
        g.unlock();
        if (!stop && op.PumpMessages()) stop = true;
        g.lock();
        changed.wait_for(g, std::chrono::milliseconds(50));
    }
    g.unlock();
    for (std::thread& t : workers) t.join();
    // A Stop asked for while the last card was drawn still counts.
    if (!stop && op.PumpMessages()) stop = true;
    if (shown) op.EndProgress();
    if (stop) {
        out.stopped = true;
        return out;
    }
    for (TitleCardJob& job : jobs)
        if (job.slot.empty() || !WriteTitleCardSlot(op, card, job)) ++out.failures;
    return out;
}

bool MakeTitleCard(IOperator& op, CSDCard& card, int p) {
    TitleCardJob job;
    if (!ReadTitleCardSource(card, p, job)) return false;
    if (!MakeTitleCardSlot(job, VideoModeAt(card.VideoMode()), card.ClustersPerFrame())) return false;
    return WriteTitleCardSlot(op, card, job);
}

PlaylistEdit CommitPlaylistEdit(IOperator& op, CSDCard& card, const CardDirectory& before,
                                const std::vector<int>& playlists) {
    PlaylistEdit e;
    // The title cards are drawn by the tools in a working folder: when none
    // can be made (the temporary folder is missing, full or read-only) the
    // edit would leave every title card of it stale, so nothing is changed.
    const bool drawsTitleCards = std::any_of(playlists.begin(), playlists.end(), [&](int p) {
        return ValidPlaylist(p) && card.Directory().ClipCount(p) > 0;
    });
    if (drawsTitleCards) {
        CPipeFolder probe;
        if (!probe.Create()) {
            card.Directory() = before;
            ErrorWithDetail(op, IDS_TITLE_CARDS_NOT_MADE, probe.Cause());
            op.Refresh(kRefreshLists | kRefreshCardLine);
            return e;
        }
    }
    const TitleCardsOutcome t = RemakeTitleCards(op, card, playlists);
    if (t.stopped) {
        // Nothing of the edit reached the card: the directory goes back.
        card.Directory() = before;
        e.stopped = true;
        MessageById(op, kMsgNotice, kIconWarning, IDS_OPERATION_ABORTED);
        op.Refresh(kRefreshLists | kRefreshCardLine);
        return e;
    }
    e.done = true;
    e.titleCardFailures = t.failures;
    e.written = card.CommitDirectory(before);
    op.Refresh(kRefreshLists | kRefreshCardLine);
    return e;
}

PlaylistEdit AddClip(IOperator& op, CSDCard& card, int p, int video, int at) {
    CardDirectory& dir = card.Directory();
    if (!ValidPlaylist(p) || video < 0 || video >= kVideoCount || !dir.Video(video).Used()) return {};
    const int n = std::max(0, std::min<int>(dir.ClipCount(p), kMaxClipsPerPlaylist));
    if (n >= kMaxClipsPerPlaylist) return {};
    if (at < 0 || at > n) at = n;
    const CardDirectory before = dir;
    for (int i = n; i > at; --i) dir.SetClip(p, i, dir.Clip(p, i - 1));
    dir.SetClip(p, at, video);
    dir.SetClipCount(p, n + 1);
    return CommitPlaylistEdit(op, card, before, {p});
}

PlaylistEdit RemoveClip(IOperator& op, CSDCard& card, int p, int k) {
    CardDirectory& dir = card.Directory();
    if (!ValidPlaylist(p)) return {};
    const int n = std::min<int>(dir.ClipCount(p), kMaxClipsPerPlaylist);
    if (k < 0 || k >= n) return {};
    const CardDirectory before = dir;
    for (int i = k; i + 1 < n; ++i) dir.SetClip(p, i, dir.Clip(p, i + 1));
    dir.SetClip(p, n - 1, 0);
    dir.SetClipCount(p, n - 1);
    return CommitPlaylistEdit(op, card, before, {p});
}

PlaylistEdit ClearPlaylist(IOperator& op, CSDCard& card, int p) {
    CardDirectory& dir = card.Directory();
    if (!ValidPlaylist(p) || dir.ClipCount(p) <= 0) return {};
    if (MessageById(op, kMsgQuestion, kIconQuestion, IDS_CLEAR_PLAYLIST_QUESTION, p + 1) != kResultYes) return {};
    const CardDirectory before = dir;
    // The whole record, end mode included; the title card keeps its picture.
    std::memset(dir.Bytes() + kOffPlaylistRecords + size_t(p) * kPlaylistRecordSize, 0, kPlaylistRecordSize);
    return CommitPlaylistEdit(op, card, before, {});
}

PlaylistEdit SwapPlaylists(IOperator& op, CSDCard& card, int a, int b) {
    CardDirectory& dir = card.Directory();
    if (!ValidPlaylist(a) || !ValidPlaylist(b) || a == b) return {};
    const CardDirectory before = dir;
    uint8_t* ra = dir.Bytes() + kOffPlaylistRecords + size_t(a) * kPlaylistRecordSize;
    uint8_t* rb = dir.Bytes() + kOffPlaylistRecords + size_t(b) * kPlaylistRecordSize;
    uint8_t tmp[kPlaylistRecordSize];
    std::memcpy(tmp, ra, sizeof tmp);
    std::memcpy(ra, rb, sizeof tmp);
    std::memcpy(rb, tmp, sizeof tmp);
    // The title card belongs to the position: both are redrawn.
    return CommitPlaylistEdit(op, card, before, {a, b});
}

PlaylistEdit SwapClips(IOperator& op, CSDCard& card, int p, int i, int j) {
    CardDirectory& dir = card.Directory();
    if (!ValidPlaylist(p)) return {};
    const int n = std::min<int>(dir.ClipCount(p), kMaxClipsPerPlaylist);
    if (i < 0 || j < 0 || i >= n || j >= n || i == j) return {};
    const CardDirectory before = dir;
    const int32_t ci = dir.Clip(p, i);
    dir.SetClip(p, i, dir.Clip(p, j));
    dir.SetClip(p, j, ci);
    return CommitPlaylistEdit(op, card, before, {p});
}

PlaylistEdit SetEndMode(IOperator& op, CSDCard& card, int p, bool repeat) {
    CardDirectory& dir = card.Directory();
    if (!ValidPlaylist(p) || dir.Loops(p) == repeat) return {};
    const CardDirectory before = dir;
    dir.SetLoopFlag(p, repeat ? 1 : 0);
    return CommitPlaylistEdit(op, card, before, {p});
}

}  // namespace rk
