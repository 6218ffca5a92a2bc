#include "media_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "card/card_directory.h"
#include "card/video_modes.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_encoder.h"
#include "codec/kvq1_format.h"
#include "convert/tool_folder.h"

namespace rk::test {

bool MakeFormattedImage(const std::string& path, uint64_t mib, int mode) {
    int error = 0;
    if (!CreateCardImage(path, mib * 1024 * 1024, error)) return false;
    CSDCard card;
    if (card.OpenPath(path) != kOpenOk) return false;
    return card.Format(mode);
}

bool OpenCard(CSDCard& card, const std::string& path, CFaultDevice** fault) {
    card.Close();  // an image is locked by whoever holds it open
    std::unique_ptr<ICardDevice> device;
    int error = 0;
    if (OpenCardDevice(path, device, error) != kOpenOk) return false;
    if (fault) {
        auto wrapped = std::make_unique<CFaultDevice>(std::move(device));
        *fault = wrapped.get();
        device = std::move(wrapped);
    }
    if (card.OpenDevice(std::move(device)) != kOpenOk) return false;
    return card.ReadDirectory();
}

std::vector<uint8_t> SyntheticSlot(int mode, uint32_t frame) {
    const VideoMode& m = VideoModeAt(mode);
    const size_t slotBytes = size_t(m.clustersPerFrame) * kClusterBytes;
    std::vector<uint8_t> slot(slotBytes, 0);
    WriteAudioChunkHeader(slot.data(), frame, AudioShareBytes(m.frameRate, frame));
    uint8_t* f = slot.data() + kClusterBytes;
    std::memcpy(f, "KVQ1", 4);
    f[4] = uint8_t(m.sizeClass);
    f[5] = uint8_t(m.frameRate);
    WriteBE16(f + 6, uint32_t(m.clustersPerFrame - 1) * 24);
    WriteBE32(f + 8, frame);
    // A pattern unique to the frame in the audio bytes and behind the header.
    for (size_t i = 32; i < 4096; ++i) slot[i] = uint8_t(frame * 31 + i);
    for (size_t i = 64; i < 8192; ++i) f[i] = uint8_t(frame * 7 + i * 13);
    return slot;
}

bool WriteSyntheticKAVQ1(const std::string& path, int mode, int frames, size_t tail) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < frames; ++i) {
        auto s = SyntheticSlot(mode, uint32_t(i));
        out.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
    }
    std::vector<char> extra(tail, 'x');
    out.write(extra.data(), std::streamsize(extra.size()));
    return bool(out);
}

std::vector<uint8_t> EncodedSlot(uint32_t frame, int rate, int look) {
    const uint32_t shade = look < 0 ? frame : uint32_t(look);
    const KVQ1Geometry g = KVQ1GeometryFor(1);
    std::vector<uint8_t> luma(g.LumaBytes()), cb(g.ChromaBytes(), 128), cr(g.ChromaBytes(), 128);
    // A horizontal ramp whose level rises with the frame number, a coloured
    // left half, and the filler lines as producers leave them.
    for (int y = 0; y < g.codedHeight; ++y)
        for (int x = 0; x < g.width; ++x)
            luma[size_t(y) * g.width + x] = y >= g.height ? 0 : uint8_t(16 + (x * 100) / g.width + shade * 20);
    for (int y = 0; y < g.ChromaCodedHeight(); ++y)
        for (int x = 0; x < g.ChromaWidth() / 2; ++x) cr[size_t(y) * g.ChromaWidth() + x] = 200;
    const size_t slotBytes = size_t(33) * kClusterBytes;
    std::vector<uint8_t> slot(slotBytes, 0);
    WriteAudioChunkHeader(slot.data(), frame, AudioShareBytes(rate, frame));
    KVQ1Encoder enc(1, 768, rate);
    if (enc.Encode(frame, luma.data(), cb.data(), cr.data(), slot.data() + kClusterBytes) <= 0) return {};
    return slot;
}

std::vector<uint8_t> TestSound(uint32_t frame, int rate) {
    uint64_t first = 0;  // sample frames before this one
    for (uint32_t f = 0; f < frame; ++f) first += uint64_t(AudioShareBytes(rate, f)) / 6;
    const size_t bytes = size_t(AudioShareBytes(rate, frame));
    std::vector<uint8_t> sound(bytes);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < bytes / 6; ++i) {
        const double t = double(first + i) / 48000.0;
        const int32_t v[2] = {int32_t(3145728.0 * std::sin(2 * pi * 440 * t)),
                              int32_t(3145728.0 * std::sin(2 * pi * 660 * t))};
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 3; ++k) sound[6 * i + 3 * size_t(c) + size_t(k)] = uint8_t(uint32_t(v[c]) >> (8 * k));
    }
    return sound;
}

bool WriteEncodedKAVQ1WithSound(const std::string& path, int frames, int firstLook, int rate) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < frames; ++i) {
        auto s = EncodedSlot(uint32_t(i), rate, firstLook + i);
        if (s.empty()) return false;
        const std::vector<uint8_t> sound = TestSound(uint32_t(i), rate);
        if (FillAudioChunk(s.data(), uint32_t(i), rate, sound.data(), sound.size()) != int(sound.size())) return false;
        out.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
    }
    return bool(out);
}

std::vector<uint8_t> LogoSlot(uint32_t frame) {
    const KVQ1Geometry g = KVQ1GeometryFor(1);
    std::vector<uint8_t> luma(g.LumaBytes(), 16), cb(g.ChromaBytes(), 128), cr(g.ChromaBytes(), 128);
    // Colour in the top-left quarter, its mask (an opaque disc) as grey in
    // the top-right quarter, black below.
    for (int y = 0; y < g.height / 2; ++y)
        for (int x = 0; x < g.width / 2; ++x) {
            const int dx = x - g.width / 4, dy = y - g.height / 4;
            const bool inside = dx * dx + dy * dy < 200 * 200;
            luma[size_t(y) * g.width + x] = inside ? uint8_t(120 + frame * 10) : 16;
            luma[size_t(y) * g.width + x + g.width / 2] = inside ? 235 : 16;
        }
    for (int y = 0; y < g.height / 4; ++y)
        for (int x = 0; x < g.ChromaWidth() / 2; ++x) cb[size_t(y) * g.ChromaWidth() + x] = 60;
    std::vector<uint8_t> slot(size_t(33) * kClusterBytes, 0);
    WriteAudioChunkHeader(slot.data(), frame, AudioShareBytes(50, frame));
    KVQ1Encoder enc(1, 768, 50);
    if (enc.Encode(frame, luma.data(), cb.data(), cr.data(), slot.data() + kClusterBytes) <= 0) return {};
    return slot;
}

bool WriteEncodedKAVQ1(const std::string& path, int frames, int rate) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < frames; ++i) {
        auto s = EncodedSlot(uint32_t(i), rate);
        if (s.empty()) return false;
        out.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
    }
    return bool(out);
}

std::string CheckCardConsistent(const std::string& image) {
    std::vector<uint8_t> block = ReadImageClusters(image, 0, 3);
    if (block.size() != kDirectorySize) return "directory unreadable";
    CardDirectory dir;
    std::memcpy(dir.Bytes(), block.data(), kDirectorySize);
    if (!dir.IsValid()) return "directory not valid";
    const int mode = int(dir.StoredVideoMode());
    const int cpf = ClustersPerFrameOfMode(mode);
    const CardRegions regions = CardRegions::For(mode, int64_t(std::filesystem::file_size(image) / 512));
    struct Run { uint64_t start, end; };
    std::vector<Run> runs;
    for (int v = 0; v < kVideoCount; ++v) {
        EntryHead h = dir.Video(v);
        if (!h.Used()) continue;
        if (h.clustersPerFrame != cpf) return "entry " + std::to_string(v) + " has another slot size";
        uint64_t start = h.startCluster, end = start + h.RunClusters();
        if (start < uint64_t(regions.firstItemCluster) || end > uint64_t(regions.totalClusters))
            return "entry " + std::to_string(v) + " lies outside the item area";
        for (const Run& r : runs)
            if (start < r.end && r.start < end) return "entry " + std::to_string(v) + " overlaps another";
        runs.push_back({start, end});
        // Every frame slot must hold a frame, the thumbnail block a picture.
        for (uint32_t f = 0; f < h.numFrames; ++f) {
            auto head = ReadImageClusters(image, start + uint64_t(f) * cpf + 1, 1);
            if (head.size() < 4 || std::memcmp(head.data(), "KVQ1", 4) != 0)
                return "entry " + std::to_string(v) + " frame " + std::to_string(f) + " is missing";
        }
        auto thumb = ReadImageClusters(image, h.ThumbnailCluster(), 1);
        if (thumb.size() < 2 || thumb[1] < 16) return "entry " + std::to_string(v) + " has no thumbnail";
    }
    return {};
}

bool ToolsAvailable() {
    return ::access(ProgramFile(kToolFfmpeg).c_str(), X_OK) == 0 &&
           ::access(ProgramFile(kToolFfprobe).c_str(), X_OK) == 0;
}

}  // namespace rk::test
