#include "app/player_sound.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace rk {

namespace {

constexpr int kBytesPerFrame = kPlayerChannels * 4;
// Enough sound queued ahead to ride over a slow frame, little enough that a
// pause or a seek is heard at once: a fifth of a second.
constexpr int kBufferBytes = kPlayerSampleRate / 5 * kBytesPerFrame;

}  // namespace

SoundPeaks PeakLevels(const int32_t* samples, size_t count) {
    int64_t peak[2] = {0, 0};
    for (size_t i = 0; i < count; ++i) {
        const int64_t v = std::llabs(int64_t(samples[i]));
        peak[i & 1] = std::max(peak[i & 1], v);
    }
    constexpr float kFull = 2147483648.0f;
    return {float(peak[0]) / kFull, float(peak[1]) / kFull};
}

namespace {

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void CNullSound::Advance() const {
    if (playedAtNs_ < 0) return;
    const int64_t now = SteadyNs();
    const int64_t frames = (now - playedAtNs_) * kPlayerSampleRate / 1000000000;
    if (frames <= 0) return;
    played_ = std::min(written_, played_ + frames);
    playedAtNs_ += frames * 1000000000 / kPlayerSampleRate;
}

void CNullSound::Start() {
    if (realTime_ && playedAtNs_ < 0) playedAtNs_ = SteadyNs();
}

void CNullSound::Pause() {
    Advance();
    playedAtNs_ = -1;
}

void CNullSound::Reset() {
    written_ = played_ = 0;
    playedAtNs_ = -1;
}

size_t CNullSound::Room() const {
    if (!realTime_) return SIZE_MAX;
    Advance();
    const int64_t queued = written_ - played_;
    return size_t(std::max<int64_t>(0, kBufferBytes / kBytesPerFrame - queued)) * kPlayerChannels;
}

void CNullSound::Write(const int32_t* samples, size_t count) {
    if (capture_) captured_.append(reinterpret_cast<const char*>(samples), qsizetype(count * sizeof(int32_t)));
    // A device run dry plays on from where the new samples start.
    Advance();
    written_ += int64_t(count / kPlayerChannels);
}

int64_t CNullSound::PlayedFrames() const {
    if (!realTime_) return 0;
    Advance();
    return played_;
}

std::unique_ptr<CDeviceSound> CDeviceSound::OpenDefault() {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return nullptr;
    QAudioFormat format;
    format.setSampleRate(kPlayerSampleRate);
    format.setChannelCount(kPlayerChannels);
    format.setSampleFormat(QAudioFormat::Int32);
    if (!device.isFormatSupported(format)) return nullptr;
    auto sink = std::make_unique<QAudioSink>(device, format);
    sink->setBufferSize(kBufferBytes);
    return std::unique_ptr<CDeviceSound>(new CDeviceSound(std::move(sink)));
}

CDeviceSound::CDeviceSound(std::unique_ptr<QAudioSink> sink) : sink_(std::move(sink)) {}

CDeviceSound::~CDeviceSound() {
    if (sink_) sink_->stop();
}

void CDeviceSound::Start() {
    if (!io_) {
        io_ = sink_->start();
        paused_ = false;
    } else if (paused_) {
        sink_->resume();
        paused_ = false;
    }
}

void CDeviceSound::Pause() {
    if (io_ && !paused_) {
        sink_->suspend();
        paused_ = true;
    }
}

void CDeviceSound::Reset() {
    sink_->reset();
    io_ = nullptr;
    written_ = 0;
    paused_ = false;
}

size_t CDeviceSound::Room() const {
    if (!io_) return 0;
    return size_t(std::max<qsizetype>(0, sink_->bytesFree())) / sizeof(int32_t);
}

void CDeviceSound::Write(const int32_t* samples, size_t count) {
    if (!io_) return;
    const qint64 n = io_->write(reinterpret_cast<const char*>(samples), qint64(count * sizeof(int32_t)));
    if (n > 0) written_ += n;
}

int64_t CDeviceSound::PlayedFrames() const {
    if (!io_) return 0;
    const int64_t queued = std::max<int64_t>(0, sink_->bufferSize() - sink_->bytesFree());
    return std::max<int64_t>(0, written_ - queued) / kBytesPerFrame;
}

void CDeviceSound::SetMuted(bool muted) { sink_->setVolume(muted ? 0.0 : 1.0); }

std::unique_ptr<IPlayerSound> OpenPlayerSound() {
    if (auto device = CDeviceSound::OpenDefault()) return device;
    return std::make_unique<CNullSound>();
}

}  // namespace rk
