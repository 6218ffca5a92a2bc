#include "effects/stinger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/path_util.h"
#include "base/safe_open.h"

namespace rk {

namespace {

// A keyframe file longer than this is read no further: 250 frames need a
// few kilobytes.
constexpr size_t kMaxKeyframeFileBytes = 1u << 20;
// Lines are taken in pieces of at most this many characters.
constexpr size_t kLinePiece = 255;
// Pixels of a column or row that may differ before it stops being background.
constexpr int kKeyTolerance = 20;
constexpr int kHueTolerance = 5;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%d" at `p`: leading white space, a sign, at least one digit; values
// beyond int saturate.
bool ScanInt(std::string_view s, size_t& p, int& value) {
    while (p < s.size() && IsSpace(s[p])) ++p;
    bool negative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
    if (p >= s.size() || s[p] < '0' || s[p] > '9') return false;
    long long v = 0;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        if (v <= INT_MAX) v = v * 10 + (s[p] - '0');
        ++p;
    }
    if (negative) v = -v;
    value = static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
    return true;
}

// "%d;%d;%d;%d;%d": true when all five integers are there.
bool ScanKeyLine(std::string_view line, int (&values)[5]) {
    size_t p = 0;
    for (int k = 0; k < 5; ++k) {
        if (k > 0) {
            if (p >= line.size() || line[p] != ';') return false;
            ++p;
        }
        if (!ScanInt(line, p, values[k])) return false;
    }
    return true;
}

}  // namespace

int TransitionKindOfType(int effectType) {
    static constexpr int kKinds[kEffectTypeCount] = {kTransitionWipe, kTransitionWipe, kTransitionMix,
                                                     kTransitionVerticalWipe, kTransitionHorizontalWipe};
    return effectType >= 0 && effectType < kEffectTypeCount ? kKinds[effectType] : -1;
}

int HueOf(int red, int green, int blue) {
    int mn = std::min({red, green, blue});
    int mx = std::max({red, green, blue});
    int range = mx - mn;
    if (range == 0) return 0;
    if (mx == red) return (green - blue) * 43 / range;
    if (mx == green) return (blue - red) * 43 / range + 85;
    return (red - green) * 43 / range + 171;
}

std::string KeyframeFilePath(std::string_view picturePath) {
    std::string ext = ExtensionOf(picturePath);
    std::string path(picturePath.substr(0, picturePath.size() - ext.size()));
    return path + ".txt";
}

CStinger::CStinger(std::string picturePath) : picturePath_(std::move(picturePath)) {}

CStinger::~CStinger() = default;

PreviewPixels CStinger::Preview(int frame) const {
    const CPicture* picture = frame >= 0 ? pictures_.At(size_t(frame)) : nullptr;
    if (!picture) return {};
    return PreviewPixels{picture->Bits(), picture->Width(), picture->Height()};
}

int CStinger::KeyOf(const KeyMap& keys, int frame) {
    auto it = keys.find(frame);
    return it == keys.end() ? -1 : it->second;
}

void CStinger::SetPositionKey(int frame, int value) {
    if (frame < 0 || frame >= frames_) return;
    if (value < 0) position_.erase(frame);
    else position_[frame] = std::min(value, kMaxPosition);
}

void CStinger::SetFadeKey(int frame, int value) {
    if (frame < 0 || frame >= frames_) return;
    if (value < 0) fade_.erase(frame);
    else fade_[frame] = std::min(value, kMaxFade);
}

void CStinger::SetFrameCount(int frames) {
    frames_ = std::max(frames, 0);
    position_.erase(position_.lower_bound(frames_), position_.end());
    fade_.erase(fade_.lower_bound(frames_), fade_.end());
}

void CStinger::ResetKeyframes() {
    position_.clear();
    fade_.clear();
    if (frames_ < 1) return;
    position_[0] = 0;
    position_[frames_ - 1] = kMaxPosition;  // on one frame this overwrites the 0
}

void CStinger::SetDefaultCut() {
    for (int i = 1; i < frames_; ++i)
        if (PositionKey(i - 1) == 0 && PositionKey(i) == kMaxPosition) return;
    ResetKeyframes();
    if (frames_ < 1) return;
    int middle = frames_ / 2;
    position_[middle] = kMaxPosition;
    if (middle >= 1) position_[middle - 1] = 0;
}

void CStinger::SetCutPosition(int frame) {
    if (frame < 0 || frame >= frames_) return;
    position_.clear();
    position_[frame] = kMaxPosition;
    if (frame > 0) position_[frame - 1] = 0;
}

int CStinger::CutFrame() const {
    for (const auto& [frame, value] : position_)
        if (value == kMaxPosition) return frame;
    return -1;
}

int CStinger::Interpolate(const KeyMap& keys, int f) const {
    if (f < 0 || f >= frames_) return 0;
    auto at = keys.find(f);
    if (at != keys.end()) return at->second;
    // The keys around f; without one before, frame 0 (which then has no key:
    // 0); without one after, the last frame (no key either: flat).
    auto after = keys.upper_bound(f);
    int i = 0, a = 0;
    if (after != keys.begin()) {
        auto before = std::prev(after);
        i = before->first;
        a = before->second;
    }
    int j = frames_ - 1, b = a;
    if (after != keys.end()) {
        j = after->first;
        b = after->second;
    }
    if (i == j) return a;
    double v = (static_cast<double>(b - a) / (j - i)) * (f - i) + a;
    return static_cast<int>(v);
}

int CStinger::PositionAt(int frame, bool lastFrameRule) const {
    if (lastFrameRule && frame == frames_ - 1) return kLastFramePosition;
    return Interpolate(position_, frame);
}

int CStinger::FadeAt(int frame) const { return Interpolate(fade_, frame); }

bool CStinger::ReadKeyframes() {
    if (pictures_.Empty()) return false;
    return ReadKeyframesFor(static_cast<int>(std::min<size_t>(pictures_.Size(), INT_MAX)));
}

bool CStinger::ReadKeyframesFor(int frames) {
    if (frames < 1) return false;
    SetFrameCount(frames);
    std::string text;
    {
        CFileHandle file(KeyframeFileIsThePicture() ? -1 : OpenInputFile(KeyframeFilePath(picturePath_)));
        if (file.fd < 0) {
            ResetKeyframes();
            return true;
        }
        char buf[4096];
        while (text.size() < kMaxKeyframeFileBytes) {
            ssize_t got = ::read(file.fd, buf, std::min(sizeof buf, kMaxKeyframeFileBytes - text.size()));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                ResetKeyframes();
                return true;
            }
            if (got == 0) break;
            text.append(buf, static_cast<size_t>(got));
        }
    }
    ParseKeyframes(text);
    return true;
}

void CStinger::ParseKeyframes(std::string_view text) {
    position_.clear();
    fade_.clear();
    int accepted = 0;
    size_t p = 0;
    while (accepted < frames_ && p < text.size()) {
        // One piece: through the line end, or 255 characters.
        size_t end = p;
        while (end < text.size() && end - p < kLinePiece) {
            if (text[end++] == '\n') break;
        }
        std::string_view piece = text.substr(p, end - p);
        p = end;
        int v[5];
        if (!ScanKeyLine(piece, v)) continue;
        int position = std::clamp(v[0], -1, kMaxPosition);
        int fade = std::clamp(v[1], -1, kMaxFade);
        if (position >= 0) position_[accepted] = position;
        if (fade >= 0) fade_[accepted] = fade;
        ++accepted;
    }
}

std::string CStinger::KeyframeText() const {
    std::string text;
    text.reserve(static_cast<size_t>(frames_) * 20);
    char line[64];
    for (int i = 0; i < frames_; ++i) {
        int n = std::snprintf(line, sizeof line, "%4d;%3d;%4d;%3d;%d\r\n", PositionKey(i), FadeKey(i), 0, 0, kind_);
        text.append(line, static_cast<size_t>(n));
    }
    return text;
}

bool CStinger::KeyframeFileIsThePicture() const {
    const std::string path = KeyframeFilePath(picturePath_);
    if (path == picturePath_) return true;
    struct stat a {}, b {};
    return ::stat(path.c_str(), &a) == 0 && ::stat(picturePath_.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool CStinger::WriteKeyframes() const {
    // Pictures named ".txt": the keyframe file would be the first picture.
    if (KeyframeFileIsThePicture()) {
        LogMessage(2, "CStinger::WriteKeyframes(): %s is a picture of the sequence, not written",
                   KeyframeFilePath(picturePath_).c_str());
        return false;
    }
    const std::string path = KeyframeFilePath(picturePath_);
    struct stat there {};
    if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode) && !S_ISLNK(there.st_mode)) {
        LogMessage(2, "CStinger::WriteKeyframes(): %s is %s, not written", path.c_str(), FileKindText(there.st_mode));
        return false;
    }
    const std::string text = KeyframeText();
    // A new file beside the old one, then renamed over it: whatever stands
    // at the name (a link to another file, say) is replaced, never written
    // through, and a cut write leaves the old keys.
    const std::string folder = FolderOf(path);
    static std::atomic<int> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%d.%d.tmp", static_cast<int>(::getpid()), ++counter);
        temp = (folder.empty() ? std::string() : folder + "/") + "." + FileNameOf(path) + suffix;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        LogMessage(2, "CStinger::WriteKeyframes(): cannot write beside %s (%s)", path.c_str(), std::strerror(errno));
        return false;
    }
    CFileHandle file(fd);
    const bool ok = WriteWhole(file.fd, text.data(), text.size()) && ::fsync(file.fd) == 0;
    if (!file.Close() || !ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        LogMessage(2, "CStinger::WriteKeyframes(): %s not written (%s)", path.c_str(), std::strerror(errno));
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool CStinger::IsKeyColumn(int frame, int x) const {
    const CPicture* pic = pictures_.At(static_cast<size_t>(std::max(frame, 0)));
    if (frame < 0 || !pic || x < 0 || x >= pic->Width()) return false;
    int differing = 0;
    for (int y = 0; y < pic->Height(); ++y) {
        const uint8_t* px = pic->Row(y) + static_cast<size_t>(x) * 4;
        if (std::abs(keyHue_ - HueOf(px[2], px[1], px[0])) > kHueTolerance && ++differing == kKeyTolerance)
            return false;
    }
    return true;
}

bool CStinger::IsKeyRow(int frame, int y) const {
    const CPicture* pic = pictures_.At(static_cast<size_t>(std::max(frame, 0)));
    if (frame < 0 || !pic || y < 0 || y >= pic->Height()) return false;
    const uint8_t* row = pic->Row(y);
    int differing = 0;
    for (int x = 0; x < pic->Width(); ++x) {
        const uint8_t* px = row + static_cast<size_t>(x) * 4;
        if (std::abs(keyHue_ - HueOf(px[2], px[1], px[0])) > kHueTolerance && ++differing == kKeyTolerance)
            return false;
    }
    return true;
}

int CStinger::GetWipeWidth() const {
    int left = kPreviewWidth / 2, right = kPreviewWidth / 2;
    int count = static_cast<int>(std::min<size_t>(pictures_.Size(), INT_MAX));
    for (int f = 0; f < count; ++f) {
        for (int x = 0; x < left; ++x)
            if (!IsKeyColumn(f, x)) {
                left = x;
                break;
            }
        for (int x = kPreviewWidth - 1; x > right; --x)
            if (!IsKeyColumn(f, x)) {
                right = x;
                break;
            }
        LogMessage(1, "GetWipeWidth(%d) = %d:%d", f, left, right);
    }
    return std::max(right - kPreviewWidth / 2, kPreviewWidth / 2 - left);
}

int CStinger::GetWipeHeight() const {
    int top = kPreviewHeight / 2, bottom = kPreviewHeight / 2;
    int count = static_cast<int>(std::min<size_t>(pictures_.Size(), INT_MAX));
    for (int f = 0; f < count; ++f) {
        for (int y = 0; y < top; ++y)
            if (!IsKeyRow(f, y)) {
                top = y;
                break;
            }
        for (int y = kPreviewHeight - 1; y > bottom; --y)
            if (!IsKeyRow(f, y)) {
                bottom = y;
                break;
            }
        LogMessage(1, "GetWipeHeight(%d) = %d:%d", f, top, bottom);
    }
    return std::max(bottom - kPreviewHeight / 2, kPreviewHeight / 2 - top);
}

}  // namespace rk
