#pragma once
// The effect a keyframe edit works on, as the operator seam sees it: its
// frames, its transition kind, its two sets of keys (position 0..2046, fade
// 0..255, each a sorted map from frame to value) and a preview picture per
// frame. The effect being made implements it; the window's editor, the
// terminal and the test script edit through it alone.
#include <cstdint>
#include <map>

namespace rk {

// A frame's preview: B, G, R, T bytes per pixel, rows of width x 4 bytes.
// `bits` is null for a frame without a picture.
struct PreviewPixels {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
};

class IEffectKeys {
public:
    using KeyMap = std::map<int, int>;

    virtual ~IEffectKeys() = default;

    virtual int FrameCount() const = 0;
    virtual int TransitionKind() const = 0;
    virtual PreviewPixels Preview(int frame) const = 0;

    // -1 when the frame has no key.
    virtual int PositionKey(int frame) const = 0;
    virtual int FadeKey(int frame) const = 0;
    // Sets a key, limited to its range; -1 removes it. Frames outside the
    // effect are ignored.
    virtual void SetPositionKey(int frame, int value) = 0;
    virtual void SetFadeKey(int frame, int value) = 0;
    virtual const KeyMap& PositionKeys() const = 0;
    virtual const KeyMap& FadeKeys() const = 0;

    // A frame's value: its key or the straight line between the keys around
    // it (position: 2047 on the last frame when `lastFrameRule`).
    virtual int PositionAt(int frame, bool lastFrameRule) const = 0;
    virtual int FadeAt(int frame) const = 0;

    // No keys but position 0 at the first frame and 2046 at the last.
    virtual void ResetKeyframes() = 0;
    // The cut at `frame`: position 2046 there and 0 on the frame before.
    virtual void SetCutPosition(int frame) = 0;
    // The first frame whose position key is 2046, -1 for none.
    virtual int CutFrame() const = 0;
};

}  // namespace rk
