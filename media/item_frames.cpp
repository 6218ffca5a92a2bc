#include "media/item_frames.h"

#include <algorithm>
#include <cstring>

#include "card/card_device.h"
#include "card/sd_card.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"
#include "media/frame_rgb.h"

namespace rk {

namespace {

// Effects and logos are 1920 x 1080 frames coded at the HD slot's budget
// whatever the card; logos at rate code 50.
constexpr int kHdClusters = 33;
constexpr int kLogoRateCode = 50;
// An effect's luma 2 marks a pixel the device leaves transparent.
constexpr uint8_t kEffectTransparentLuma = 2;

std::string Numbered(const char* word, int index) { return std::string(word) + " " + std::to_string(index + 1); }

std::string VideoName(const CardDirectory& dir, int v) {
    std::string name = Numbered("video", v);
    const std::string title = dir.VideoNameUtf8(v);
    if (!title.empty()) name += " '" + title + "'";
    return name;
}

bool Fail(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
}

bool InRange(int n, int count, const char* word, std::string* why) {
    if (n >= 0 && n < count) return true;
    return Fail(why, std::string("there is no ") + word + " " + std::to_string(n + 1));
}

// A free entry, or one whose slots cannot hold a frame, has nothing to play.
bool HoldsFrames(const EntryHead& head, const std::string& name, std::string* why) {
    if (head.Used() && head.clustersPerFrame >= 2) return true;
    return Fail(why, name + " is empty");
}

// A logo's alpha is stored as grey: read back through the same step as
// every colour, its green is the alpha.
const uint8_t* GreyToAlpha() {
    static const struct Table {
        uint8_t v[256];
        Table() {
            for (int y = 0; y < 256; ++y) {
                uint8_t r, g, b;
                YCbCrToRgbPixel(y, 128, 128, r, g, b);
                v[y] = g;
            }
        }
    } table;
    return table.v;
}

}  // namespace

CItemFrames::CItemFrames(CSDCard& card) : card_(card) {}
CItemFrames::~CItemFrames() = default;

std::unique_ptr<CItemFrames> CItemFrames::Open(CSDCard& card, const PlayTarget& target, std::string* why) {
    if (!card.IsOpen() || !card.IsDirectoryValid()) {
        Fail(why, "the card holds no directory");
        return nullptr;
    }
    const CardDirectory& dir = card.Directory();
    const VideoMode& mode = VideoModeAt(card.VideoMode());
    std::unique_ptr<CItemFrames> f(new CItemFrames(card));
    f->target_ = target;
    f->sizeClass_ = mode.sizeClass;
    f->readClusters_ = mode.clustersPerFrame;
    const int n = target.number;
    bool found = false;
    switch (target.kind) {
    case PlayKind::kVideo:
        found = f->FindVideo(dir, n, why);
        break;
    case PlayKind::kStill:
        found = f->FindStill(dir, n, mode.clustersPerFrame, why);
        break;
    case PlayKind::kEffect:
    case PlayKind::kLogo:
        found = f->FindEffectOrLogo(dir, n, target.kind == PlayKind::kLogo, why);
        break;
    case PlayKind::kPlaylist:
        found = target.titleCard ? f->FindTitleCard(dir, n, mode.clustersPerFrame, why) : f->FindPlaylist(dir, n, why);
        break;
    }
    if (!found) return nullptr;
    f->PrepareReading(f->logo_ ? kLogoRateCode : mode.frameRate);
    if (target.kind == PlayKind::kEffect) f->ReadEffectMarks();
    return f;
}

void CItemFrames::AddSingle(const EntryHead& head, uint32_t start, uint32_t stride, const std::string& name) {
    sources_.push_back({start, stride, name});
    clips_.push_back({0, -1, 0, head.numFrames});
    name_ = name;
}

bool CItemFrames::FindVideo(const CardDirectory& dir, int n, std::string* why) {
    if (!InRange(n, kVideoCount, "video", why)) return false;
    const EntryHead head = dir.Video(n);
    if (!HoldsFrames(head, Numbered("video", n), why)) return false;
    AddSingle(head, head.startCluster, head.clustersPerFrame, VideoName(dir, n));
    clips_.back().video = n;
    readClusters_ = std::min<int>(head.clustersPerFrame, readClusters_);
    return true;
}

// A still is one frame in a slot of the card's size.
bool CItemFrames::FindStill(const CardDirectory& dir, int n, int slotClusters, std::string* why) {
    if (!InRange(n, kStillCount, "still", why)) return false;
    const EntryHead head = dir.Still(n);
    if (!HoldsFrames(head, Numbered("still", n), why)) return false;
    AddSingle(EntryHead{head.startCluster, 1, head.clustersPerFrame}, head.startCluster, uint32_t(slotClusters),
              Numbered("still", n));
    return true;
}

// Effects and logos are HD frames with alpha on every card.
bool CItemFrames::FindEffectOrLogo(const CardDirectory& dir, int n, bool logo, std::string* why) {
    const char* word = logo ? "logo" : "effect";
    if (!InRange(n, logo ? kLogoCount : kEffectCount, word, why)) return false;
    const EntryHead head = logo ? dir.Logo(n) : dir.Effect(n);
    if (!HoldsFrames(head, Numbered(word, n), why)) return false;
    AddSingle(head, head.startCluster, head.clustersPerFrame, Numbered(word, n));
    sizeClass_ = 1;
    hasAlpha_ = true;
    logo_ = logo;
    readClusters_ = std::min<int>(head.clustersPerFrame, kHdClusters);
    return true;
}

// A playlist's title card: one frame in its own region, there only while
// the playlist has clips.
bool CItemFrames::FindTitleCard(const CardDirectory& dir, int n, int slotClusters, std::string* why) {
    if (!InRange(n, kPlaylistCount, "playlist", why)) return false;
    if (std::min<int>(dir.ClipCount(n), kMaxClipsPerPlaylist) <= 0)
        return Fail(why, Numbered("playlist", n) + " has no title card");
    const uint32_t at = card_.Regions().TitleCluster(n);
    AddSingle(EntryHead{at, 1, uint16_t(slotClusters)}, at, uint32_t(slotClusters),
              "title card of " + Numbered("playlist", n));
    return true;
}

// A playlist's clips in order, one source each.
bool CItemFrames::FindPlaylist(const CardDirectory& dir, int n, std::string* why) {
    if (!InRange(n, kPlaylistCount, "playlist", why)) return false;
    const int clips = std::min<int>(dir.ClipCount(n), kMaxClipsPerPlaylist);
    name_ = Numbered("playlist", n);
    end_ = dir.Loops(n) ? PlayEnd::kRepeat : PlayEnd::kStop;
    int64_t first = 0;
    for (int i = 0; i < clips; ++i) {
        const int v = dir.Clip(n, i);
        if (v < 0 || v >= kVideoCount) continue;
        const EntryHead head = dir.Video(v);
        // A clip whose video is gone plays as nothing, as on the device.
        if (!head.Used() || head.clustersPerFrame < 2) continue;
        clips_.push_back({i, v, first, head.numFrames});
        sources_.push_back({head.startCluster, head.clustersPerFrame, VideoName(dir, v)});
        first += head.numFrames;
        readClusters_ = std::min<int>(readClusters_, head.clustersPerFrame);
    }
    if (first == 0) return Fail(why, name_ + " is empty");
    return true;
}

// The frame count, picture size and rate, and the buffers of the reads.
void CItemFrames::PrepareReading(int rateCode) {
    for (const ClipSpan& c : clips_) frameCount_ += c.frames;
    const KVQ1Geometry g = KVQ1GeometryFor(sizeClass_);
    width_ = logo_ ? g.width / 2 : g.width;
    height_ = logo_ ? g.height / 2 : g.height;
    if (!FrameRateFraction(NormaliseFrameRateCode(rateCode), rateNum_, rateDen_)) {
        rateNum_ = 50;
        rateDen_ = 1;
    }
    decoder_ = std::make_unique<KVQ1Decoder>();
    slot_.assign(size_t(readClusters_) * kClusterSize, 0);
    planes_.assign(g.LumaBytes() + 2 * g.ChromaBytes(), 0);
}

// The marks of every frame of an effect, from the frame headers (the first
// Cluster behind each slot's head), for the marks drawn over it.
void CItemFrames::ReadEffectMarks() {
    marks_.resize(size_t(frameCount_));
    std::vector<uint8_t> cluster(kClusterSize);
    const Source& s = sources_.front();
    for (int64_t i = 0; i < frameCount_; ++i) {
        EffectMarks& m = marks_[size_t(i)];
        int error = 0;
        const uint64_t at = (uint64_t(s.startCluster) + uint64_t(i) * s.strideClusters + 1) * kClusterSize;
        if (!card_.Device() || !card_.Device()->ReadAt(at, cluster.data(), kClusterSize, error) ||
            !GetEffectMarks(cluster.data(), m))
            m.kind = -1;
    }
}

const ClipSpan& CItemFrames::ClipAt(int64_t frame) const {
    for (const ClipSpan& c : clips_)
        if (frame < c.firstFrame + c.frames) return c;
    return clips_.back();
}

bool CItemFrames::Locate(int64_t n, const Source*& source, int64_t& local) const {
    if (n < 0 || n >= frameCount_) return false;
    for (size_t i = 0; i < clips_.size(); ++i) {
        const ClipSpan& c = clips_[i];
        if (n < c.firstFrame + c.frames) {
            source = &sources_[i];
            local = n - c.firstFrame;
            return true;
        }
    }
    return false;
}

void CItemFrames::SetDamage(const std::string& what) { damage_ = what; }

// Reads the slot of frame n into slot_, past the card's own error report:
// a reading thread shows no message, the frame is named damaged instead.
bool CItemFrames::ReadSlot(int64_t n) {
    if (slotFrame_ == n) return slotRead_;
    const Source* s = nullptr;
    int64_t local = 0;
    slotFrame_ = n;
    slotRead_ = false;
    planesFrame_ = -1;
    if (!Locate(n, s, local)) return false;
    int error = 0;
    const uint64_t at = (uint64_t(s->startCluster) + uint64_t(local) * s->strideClusters) * kClusterSize;
    ICardDevice* device = card_.Device();
    if (!device || !device->ReadAt(at, slot_.data(), slot_.size(), error)) {
        SetDamage(s->name + ": frame " + std::to_string(local) + " cannot be read" +
                  (error ? std::string(" (") + std::strerror(error) + ")" : std::string()));
        return false;
    }
    slotRead_ = true;
    return true;
}

CItemFrames::DecodedPlanes CItemFrames::Planes() {
    const KVQ1Geometry g = KVQ1GeometryFor(sizeClass_);
    uint8_t* y = planes_.data();
    uint8_t* cb = y + g.LumaBytes();
    return {y, cb, cb + g.ChromaBytes(), size_t(g.width), size_t(g.width / 2)};
}

FrameStatus CItemFrames::DecodeCurrent(int64_t n) {
    if (planesFrame_ == n && slotFrame_ == n) return planesOk_ ? FrameStatus::kOk : FrameStatus::kDamaged;
    planesOk_ = false;
    if (!ReadSlot(n)) {
        planesFrame_ = n;
        return FrameStatus::kDamaged;
    }
    planesFrame_ = n;
    const Source* s = nullptr;
    int64_t local = 0;
    Locate(n, s, local);
    const uint8_t* frame = slot_.data() + kClusterSize;
    // The planes are sized for the expected size class: a frame that claims
    // another is damaged, never decoded into them.
    if (std::memcmp(frame, kKVQ1Magic, 4) != 0 || frame[4] != sizeClass_) {
        SetDamage(s->name + ": frame " + std::to_string(local) + " has a damaged frame header");
        return FrameStatus::kDamaged;
    }
    const DecodedPlanes p = Planes();
    if (!decoder_->Decode(frame, slot_.size() - kClusterSize, p.y, p.cb, p.cr)) {
        SetDamage(s->name + ": frame " + std::to_string(local) + " does not decode (row " +
                  std::to_string(decoder_->FailedRow()) + ")");
        return FrameStatus::kDamaged;
    }
    planesOk_ = true;
    return FrameStatus::kOk;
}

FrameStatus CItemFrames::ReadFrame(int64_t n, RgbaFrame& out) {
    const FrameStatus status = DecodeCurrent(n);
    if (!out.Resize(width_, height_)) return FrameStatus::kDamaged;
    if (status != FrameStatus::kOk) {
        // Black and opaque.
        uint8_t* p = out.Bits();
        for (size_t i = 0; i < out.ByteSize(); i += 4) p[i] = p[i + 1] = p[i + 2] = 0, p[i + 3] = 255;
        return status;
    }
    const auto [y, cb, cr, lumaStride, chromaStride] = Planes();
    const uint8_t* alpha = GreyToAlpha();
    for (int row = 0; row < height_; ++row) {
        const uint8_t* ys = y + size_t(row) * lumaStride;
        uint8_t* d = out.Row(row);
        YCbCrRowToRgb(ys, cb + size_t(row / 2) * chromaStride, cr + size_t(row / 2) * chromaStride, width_, d,
                      RgbLayout::kRgba);
        if (logo_) {
            const uint8_t* as = ys + width_;  // the alpha quarter beside the colour
            for (int x = 0; x < width_; ++x) d[4 * x + 3] = alpha[as[x]];
        } else if (hasAlpha_) {
            for (int x = 0; x < width_; ++x)
                if (ys[x] == kEffectTransparentLuma) d[4 * x + 3] = 0;
        }
    }
    return FrameStatus::kOk;
}

FrameStatus CItemFrames::ReadYCbCr(int64_t n, YCbCrFrame& out) {
    const FrameStatus status = DecodeCurrent(n);
    const size_t luma = size_t(width_) * size_t(height_);
    const size_t chroma = luma / 4;
    out.width = width_;
    out.height = height_;
    out.y.resize(luma);
    out.cb.resize(chroma);
    out.cr.resize(chroma);
    out.a.resize(hasAlpha_ ? luma : 0);
    if (status != FrameStatus::kOk) {
        std::fill(out.y.begin(), out.y.end(), uint8_t(16));
        std::fill(out.cb.begin(), out.cb.end(), uint8_t(128));
        std::fill(out.cr.begin(), out.cr.end(), uint8_t(128));
        std::fill(out.a.begin(), out.a.end(), uint8_t(0));
        return status;
    }
    const auto [y, cb, cr, lumaStride, chromaStride] = Planes();
    const size_t cw = size_t(width_ / 2);
    const uint8_t* alpha = GreyToAlpha();
    for (int row = 0; row < height_; ++row) {
        const uint8_t* ys = y + size_t(row) * lumaStride;
        std::memcpy(out.y.data() + size_t(row) * size_t(width_), ys, size_t(width_));
        if (logo_) {
            uint8_t* a = out.a.data() + size_t(row) * size_t(width_);
            for (int x = 0; x < width_; ++x) a[x] = alpha[ys[width_ + x]];
        } else if (hasAlpha_) {
            uint8_t* a = out.a.data() + size_t(row) * size_t(width_);
            for (int x = 0; x < width_; ++x) a[x] = ys[x] == kEffectTransparentLuma ? 0 : 255;
        }
    }
    for (int row = 0; row < height_ / 2; ++row) {
        std::memcpy(out.cb.data() + size_t(row) * cw, cb + size_t(row) * chromaStride, cw);
        std::memcpy(out.cr.data() + size_t(row) * cw, cr + size_t(row) * chromaStride, cw);
    }
    return FrameStatus::kOk;
}

size_t CItemFrames::ReadSound(int64_t n, std::vector<int32_t>& interleaved) {
    interleaved.clear();
    const uint8_t* head = nullptr;
    if (slotFrame_ == n && slotRead_) {
        head = slot_.data();
    } else {
        const Source* s = nullptr;
        int64_t local = 0;
        if (!Locate(n, s, local)) return 0;
        soundScratch_.resize(kClusterSize);
        int error = 0;
        const uint64_t at = (uint64_t(s->startCluster) + uint64_t(local) * s->strideClusters) * kClusterSize;
        ICardDevice* device = card_.Device();
        if (!device || !device->ReadAt(at, soundScratch_.data(), kClusterSize, error)) return 0;
        head = soundScratch_.data();
    }
    if (std::memcmp(head, kAudioChunkMagic, 4) != 0) return 0;
    const size_t bytes = size_t(std::max(0, AudioChunkBytes(head)));
    const size_t frames = bytes / 6;  // 3 bytes a sample, two channels
    if (frames == 0) return 0;
    // Regrouped in whole 12-byte groups; a chunk ending inside a group is
    // completed with zeros rather than read past the head cluster.
    uint8_t le[kMaxAudioChunkBytes + kAudioGroupBytes] = {};
    const size_t whole = RegroupAudioToInterleaved(head + kAudioChunkHeaderBytes, le, bytes);
    if (whole < bytes) {
        uint8_t group[kAudioGroupBytes] = {};
        std::memcpy(group, head + kAudioChunkHeaderBytes + whole, bytes - whole);
        RegroupAudioToInterleaved(group, le + whole, kAudioGroupBytes);
    }
    interleaved.resize(frames * 2);
    for (size_t i = 0; i < frames * 2; ++i) {
        const uint8_t* p = le + 3 * i;
        interleaved[i] = int32_t((uint32_t(p[0]) << 8) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 24));
    }
    return frames;
}

}  // namespace rk
