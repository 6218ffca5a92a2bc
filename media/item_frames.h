#pragma once
// CItemFrames: the pictures and sound of anything on a card, as the device
// will show it — a video, a still, an effect, a logo, a playlist (its clips
// in order, one pass) or a playlist's title card — decoded by our decoder
// and read through the one studio-range BT.709 step (media/frame_rgb.h).
// The window's player and the command line's render both take their frames
// from here, so what one shows the other writes.
//
// A frame whose slot cannot be read, or does not decode, reads as damaged
// (named as the card check names it: "frame 12 cannot be read") and the
// next frame reads as usual: playback goes on over a damaged card.
//
// One instance reads on one thread at a time (the read-ahead thread while it
// runs); the card must not be written while it is open.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/effect_marks.h"
#include "media/rgba_frame.h"

namespace rk {

class CardDirectory;
class CSDCard;
class KVQ1Decoder;
struct EntryHead;

// What is played. The card's own item kinds (card/card_item.h) have no
// playlist; a playlist's title card is kind kPlaylist with `titleCard`.
enum class PlayKind : int { kVideo = 0, kStill, kEffect, kLogo, kPlaylist };

struct PlayTarget {
    PlayKind kind = PlayKind::kVideo;
    int number = 0;          // the directory's entry number, from 0 (playlists 0..15)
    bool titleCard = false;  // with kPlaylist: the playlist's title card, one frame
};

enum class FrameStatus : int {
    kOk = 0,
    kDamaged,  // the slot could not be read or does not decode: see Damage()
};

// What a playlist does after its last clip; the player decides what to do
// with it (back to clip 1, or hold the last frame).
enum class PlayEnd : int {
    kNone = 0,  // not a playlist
    kRepeat,    // the playlist loops
    kStop,      // it stops on its last frame
};

// One clip of a playlist, or the whole item for anything else.
struct ClipSpan {
    int clip = -1;          // position in the playlist from 0; 0 for a single item
    int video = -1;         // the clip's video entry; -1 for anything not a video
    int64_t firstFrame = 0; // its first frame in FrameCount()'s numbering
    int64_t frames = 0;
};

// A frame as the decoder gives it, cut to the picture: Y' width x height,
// Cb and Cr (width / 2) x (height / 2), studio range; `a` (width x height,
// 0 transparent .. 255 opaque) only for items with alpha. The vectors keep
// their storage from frame to frame.
struct YCbCrFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, cb, cr, a;
};

// What the read-ahead reads: frames and their sound by number, at a rate.
// CItemFrames is the one a user runs; a test's slow machine wraps it.
class IFrameSource {
public:
    virtual ~IFrameSource() = default;
    virtual int64_t FrameCount() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual int RateNum() const = 0;
    virtual int RateDen() const = 0;
    virtual FrameStatus ReadFrame(int64_t n, RgbaFrame& out) = 0;
    virtual size_t ReadSound(int64_t n, std::vector<int32_t>& interleaved) = 0;
};

class CItemFrames : public IFrameSource {
public:
    // Opens `target` on `card` (open, with a valid directory). Null when the
    // entry is free, out of range or an empty playlist, or the frames have
    // no size this system knows; `why` (when given) then says so.
    static std::unique_ptr<CItemFrames> Open(CSDCard& card, const PlayTarget& target, std::string* why = nullptr);
    ~CItemFrames() override;
    CItemFrames(const CItemFrames&) = delete;
    CItemFrames& operator=(const CItemFrames&) = delete;

    const PlayTarget& Target() const { return target_; }
    // "video 3", "playlist 2", "title card of playlist 2" (numbers from 1).
    const std::string& Name() const { return name_; }
    int64_t FrameCount() const override { return frameCount_; }
    // The picture as shown: 1920 x 1080 or 3840 x 2160; logos 960 x 540
    // (their colour quarter).
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // The frame rate as a fraction (50/1, 30000/1001 ...).
    int RateNum() const override { return rateNum_; }
    int RateDen() const override { return rateDen_; }
    // Effects (luma 2 is transparent) and logos (their alpha quarter).
    bool HasAlpha() const { return hasAlpha_; }
    PlayEnd EndMode() const { return end_; }

    int ClipCount() const { return int(clips_.size()); }
    const ClipSpan& Clip(int i) const { return clips_[size_t(i)]; }
    // The clip frame `frame` lies in (the last one for frames beyond the end).
    const ClipSpan& ClipAt(int64_t frame) const;

    // Effects: the marks of every frame as its header carries them (position,
    // fade, kind, frames after); empty for other items. A frame whose header
    // could not be read has kind -1.
    const std::vector<EffectMarks>& Marks() const { return marks_; }

    // Frame n (0 .. FrameCount() - 1) as RGBA: alpha 255 where opaque. A
    // damaged frame is black and opaque.
    FrameStatus ReadFrame(int64_t n, RgbaFrame& out) override;
    // Frame n as the decoder gives it (the same frame ReadFrame converts).
    // A damaged frame is black (and transparent where there is alpha).
    FrameStatus ReadYCbCr(int64_t n, YCbCrFrame& out);
    // The sound of frame n: 48000 Hz stereo, interleaved L, R, each 24-bit
    // sample left-justified in an int32 (QAudioFormat::Int32). Answers the
    // sample frames (pairs); `interleaved` holds twice that. A frame whose
    // head cannot be read gives none.
    size_t ReadSound(int64_t n, std::vector<int32_t>& interleaved) override;

    // What was wrong with the last damaged frame ("frame 12 cannot be read",
    // "frame 12 does not decode (row 3)"), numbered within its clip, with
    // the item first: "video 3: frame 12 cannot be read".
    const std::string& Damage() const { return damage_; }

private:
    struct Source {
        uint32_t startCluster = 0;
        uint32_t strideClusters = 0;
        std::string name;  // "video 3"
    };
    // The coded frame's planes in `planes_`, and their strides.
    struct DecodedPlanes {
        uint8_t* y;
        uint8_t* cb;
        uint8_t* cr;
        size_t lumaStride, chromaStride;
    };

    explicit CItemFrames(CSDCard& card);
    // The steps of Open: the item's slots (false, with `why`, when there is
    // nothing to play), then what reading them needs.
    void AddSingle(const EntryHead& head, uint32_t start, uint32_t stride, const std::string& name);
    bool FindVideo(const CardDirectory& dir, int n, std::string* why);
    bool FindStill(const CardDirectory& dir, int n, int slotClusters, std::string* why);
    bool FindEffectOrLogo(const CardDirectory& dir, int n, bool logo, std::string* why);
    bool FindTitleCard(const CardDirectory& dir, int n, int slotClusters, std::string* why);
    bool FindPlaylist(const CardDirectory& dir, int n, std::string* why);
    void PrepareReading(int rateCode);
    void ReadEffectMarks();
    DecodedPlanes Planes();
    bool Locate(int64_t n, const Source*& source, int64_t& local) const;
    bool ReadSlot(int64_t n);
    FrameStatus DecodeCurrent(int64_t n);
    void SetDamage(const std::string& what);

    CSDCard& card_;
    PlayTarget target_;
    std::string name_;
    int64_t frameCount_ = 0;
    int width_ = 0, height_ = 0;
    int rateNum_ = 50, rateDen_ = 1;
    bool hasAlpha_ = false;
    bool logo_ = false;
    PlayEnd end_ = PlayEnd::kNone;
    int sizeClass_ = 1;       // of the coded frames
    int readClusters_ = 0;    // Clusters read of every slot
    std::vector<ClipSpan> clips_;
    std::vector<Source> sources_;  // one per clip
    std::vector<EffectMarks> marks_;
    std::string damage_;

    std::unique_ptr<KVQ1Decoder> decoder_;
    std::vector<uint8_t> slot_;
    int64_t slotFrame_ = -1;   // the frame whose slot `slot_` holds
    bool slotRead_ = false;    // and whether it was read
    std::vector<uint8_t> planes_;  // Y, Cb, Cr of the coded frame
    int64_t planesFrame_ = -1;
    bool planesOk_ = false;
    std::vector<uint8_t> soundScratch_;
};

}  // namespace rk
