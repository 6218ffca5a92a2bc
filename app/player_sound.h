#pragma once
// Where the player's sound goes: 48000 Hz stereo, 24-bit samples
// left-justified in 32-bit words, interleaved (what the card's frames give
// and what Qt's Int32 sample format plays). The player writes each frame's
// samples as it takes the frame and, with a device, reads its clock from what
// the device has consumed. Without a device (a server, CI, the offscreen
// platform) the null sink takes the samples and the player keeps time on the
// system clock.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <memory>

class QAudioSink;
class QIODevice;

namespace rk {

inline constexpr int kPlayerSampleRate = 48000;
inline constexpr int kPlayerChannels = 2;

class IPlayerSound {
public:
    virtual ~IPlayerSound() = default;
    // True when the sound is heard and its clock can lead the pictures.
    virtual bool HasDevice() const = 0;
    // Starts (or resumes) taking sound.
    virtual void Start() = 0;
    virtual void Pause() = 0;
    // Drops whatever is queued and not yet heard (a seek, a stop); the clock
    // starts from 0 again.
    virtual void Reset() = 0;
    // How many more samples (single channel values) the sink takes now
    // without holding them past its buffer.
    virtual size_t Room() const = 0;
    // Queues `count` interleaved samples.
    virtual void Write(const int32_t* samples, size_t count) = 0;
    // Sample frames (one per channel pair) heard since the last Reset.
    virtual int64_t PlayedFrames() const = 0;
    virtual void SetMuted(bool muted) = 0;
};

// The peak of each channel of `count` interleaved stereo samples, 0..1 of
// full scale (what the level meter shows).
struct SoundPeaks {
    float left = 0;
    float right = 0;
};
SoundPeaks PeakLevels(const int32_t* samples, size_t count);

// No device: the samples are dropped, or with `capture` kept in Captured()
// (tests compare them with the card's). With `realTime` it stands in for a
// device (the sound-led road without a sound card): it holds a fifth of a
// second, plays 48000 sample frames a second on the system clock from
// Start, and its clock stops where the samples written end, as a device's
// does when it runs dry.
class CNullSound : public IPlayerSound {
public:
    explicit CNullSound(bool capture = false, bool realTime = false) : capture_(capture), realTime_(realTime) {}
    bool HasDevice() const override { return realTime_; }
    void Start() override;
    void Pause() override;
    void Reset() override;
    size_t Room() const override;
    void Write(const int32_t* samples, size_t count) override;
    int64_t PlayedFrames() const override;
    void SetMuted(bool) override {}
    // Everything written since the sink was made, Resets included.
    const QByteArray& Captured() const { return captured_; }

private:
    // Moves the real-time play on to now.
    void Advance() const;

    bool capture_;
    bool realTime_;
    QByteArray captured_;
    int64_t written_ = 0;          // sample frames since the last Reset
    mutable int64_t played_ = 0;   // of those, heard
    mutable int64_t playedAtNs_ = -1;  // when played_ was brought up to date; -1 paused
};

// The system's default output through QAudioSink, written in push mode; its
// clock is what the device has taken minus what still waits in its buffer.
class CDeviceSound : public IPlayerSound {
public:
    // Null when there is no output device or it refuses the format.
    static std::unique_ptr<CDeviceSound> OpenDefault();
    ~CDeviceSound() override;

    bool HasDevice() const override { return true; }
    void Start() override;
    void Pause() override;
    void Reset() override;
    size_t Room() const override;
    void Write(const int32_t* samples, size_t count) override;
    int64_t PlayedFrames() const override;
    void SetMuted(bool muted) override;

private:
    explicit CDeviceSound(std::unique_ptr<QAudioSink> sink);
    std::unique_ptr<QAudioSink> sink_;
    QIODevice* io_ = nullptr;  // the sink's push device while started
    int64_t written_ = 0;      // bytes written since the last Reset
    bool paused_ = false;
};

// The device when there is one, else the null sink.
std::unique_ptr<IPlayerSound> OpenPlayerSound();

}  // namespace rk
