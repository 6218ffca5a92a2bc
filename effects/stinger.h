#pragma once
// CStinger: one effect while it is being made. It holds a preview picture per
// frame (640 x 360, B G R T) and two sets of keys, position (0..2046) and
// fade (0..255), each a sorted map from frame to value: a frame without an
// entry has no key. Frames between keys take the straight line between the
// keys around them; the device reads the result from each frame's marks.
//
// The keys live beside the source pictures in a text file of the same name
// with the extension ".txt", so that making the effect again starts from the
// keys last edited.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "media/picture_array.h"
#include "ui/effect_keys.h"

namespace rk {

inline constexpr int kPreviewWidth = 640;
inline constexpr int kPreviewHeight = 360;
inline constexpr int kMaxPosition = 2046;   // the largest position a key holds
inline constexpr int kLastFramePosition = 2047;
inline constexpr int kMaxFade = 255;

// Transition kinds carried in byte 18 of every effect frame.
enum TransitionKind : int {
    kTransitionMix = 0,
    kTransitionWipe = 1,
    kTransitionVerticalWipe = 2,    // animated, measured by GetWipeWidth
    kTransitionHorizontalWipe = 3,  // animated, measured by GetWipeHeight
};

// Effect types as the person chooses them: 0 simple cut, 1 wipe, 2 mix,
// 3 vertical and 4 horizontal animated wipe.
inline constexpr int kEffectTypeCount = 5;
// The transition kind of an effect type (1, 1, 0, 2, 3); -1 outside 0..4.
int TransitionKindOfType(int effectType);
// Kinds 0 and 1 take their position and fade from keys.
inline bool IsKeyframedKind(int kind) { return kind == kTransitionMix || kind == kTransitionWipe; }

// The hue of an RGB colour on a 0..255 circle (red 0, green 85, blue 171);
// colours just below red come out negative, down to -43, unwrapped. Grey is 0.
int HueOf(int red, int green, int blue);

// "a/wipe_0001.png" gives "a/wipe_0001.txt"; a name without an extension
// gets ".txt" appended.
std::string KeyframeFilePath(std::string_view picturePath);

class CStinger : public IEffectKeys {
public:
    explicit CStinger(std::string picturePath);
    ~CStinger() override;
    CStinger(const CStinger&) = delete;
    CStinger& operator=(const CStinger&) = delete;
    CStinger(CStinger&&) noexcept = default;
    CStinger& operator=(CStinger&&) noexcept = default;

    const std::string& PicturePath() const { return picturePath_; }
    int TransitionKind() const override { return kind_; }
    void SetTransitionKind(int kind) { kind_ = kind; }
    int FrameCount() const override { return frames_; }
    int KeyHue() const { return keyHue_; }

    CPictureArray& Pictures() { return pictures_; }
    const CPictureArray& Pictures() const { return pictures_; }
    PreviewPixels Preview(int frame) const override;

    // Sizes the keys to the preview pictures and loads the keyframe file
    // (default keys when there is none). False only without pictures.
    bool ReadKeyframes();
    // The same for `frames` frames without pictures (checking keys before a
    // write, and tests). False when frames < 1.
    bool ReadKeyframesFor(int frames);
    // Loads keyframe file text for the current frame count; lines that are
    // not five integers separated by semicolons are skipped. Keys of frames
    // without a line are removed; values are limited to their ranges.
    void ParseKeyframes(std::string_view text);
    // Writes the keyframe file (CRLF lines); false when it cannot be
    // created or written (callers say nothing).
    bool WriteKeyframes() const;
    // Whether the keyframe file's name is the first picture itself (pictures
    // named ".txt"): then it is neither read nor written.
    bool KeyframeFileIsThePicture() const;
    // The file's text: "%4d;%3d;%4d;%3d;%d\r\n" per frame.
    std::string KeyframeText() const;

    // No keys but position 0 at the first frame and 2046 at the last.
    void ResetKeyframes() override;
    // Keeps a cut already present (position 0 followed by 2046); otherwise
    // the default keys with the cut at the middle frame.
    void SetDefaultCut();
    // "Set cut position": no position keys but 2046 at `frame` and 0 at the
    // frame before it, so the effect cuts at `frame`; fade keys stay.
    // Nothing for a frame outside the effect.
    void SetCutPosition(int frame) override;
    // The cut frame: the first frame whose position key is 2046, -1 for none.
    int CutFrame() const override;
    // The frame count alone (the key maps lose keys past the end).
    void SetFrameCount(int frames);

    int PositionKey(int frame) const override { return KeyOf(position_, frame); }
    int FadeKey(int frame) const override { return KeyOf(fade_, frame); }
    void SetPositionKey(int frame, int value) override;
    void SetFadeKey(int frame, int value) override;
    const KeyMap& PositionKeys() const override { return position_; }
    const KeyMap& FadeKeys() const override { return fade_; }

    // The position of a frame: 2047 on the last frame when `lastFrameRule`,
    // else its key or the interpolation between the keys around it.
    int PositionAt(int frame, bool lastFrameRule) const override;
    int FadeAt(int frame) const override;

    // Background test of the animated wipes: a column (row) of a frame's
    // preview is background when fewer than 20 of its pixels differ in hue
    // from the key hue by more than 5. False outside the pictures.
    bool IsKeyColumn(int frame, int x) const;
    bool IsKeyRow(int frame, int y) const;
    // Half extent about the centre of everything non-background in any
    // frame: 0..320 across, 0..180 down.
    int GetWipeWidth() const;
    int GetWipeHeight() const;

private:
    static int KeyOf(const KeyMap& keys, int frame);
    int Interpolate(const KeyMap& keys, int frame) const;

    std::string picturePath_;
    int kind_ = 0;
    int frames_ = 0;
    int keyHue_ = 0;
    CPictureArray pictures_;
    KeyMap position_;
    KeyMap fade_;
};

}  // namespace rk
