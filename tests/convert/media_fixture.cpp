#include "convert/media_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"
#include "convert/app_launch.h"

namespace rk::test {

bool RunTool(const char* tool, const char* argTemplate, const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> words;
    if (!BuildArguments(argTemplate, args, words)) return false;
    CAppLaunch run(tool, words, output != nullptr);
    if (!run.started || !run.Wait(-1)) return false;
    if (output) ReadFile(run.capturePath, *output);
    return run.exitCode == 0;
}

bool MakeMedia(const std::string& argTemplate, const std::vector<std::string>& args) {
    return RunTool("ffmpeg", ("-v error -nostdin " + argTemplate).c_str(), args);
}

std::string ProbeValue(const std::string& text, const std::string& key) {
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return {};
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

DecodedSlot DecodeSlot(const uint8_t* slot, size_t bytes) {
    DecodedSlot d;
    if (bytes < static_cast<size_t>(kClusterBytes) + kKVQ1HeaderBytes) return d;
    const uint8_t* frame = slot + kClusterBytes;
    const KVQ1Geometry g = KVQ1GeometryFor(frame[4]);
    if (!g.Valid()) return d;
    std::vector<uint8_t> luma(g.LumaBytes()), cb(g.ChromaBytes()), cr(g.ChromaBytes());
    KVQ1Decoder decoder;
    d.ok = decoder.Decode(frame, bytes - kClusterBytes, luma.data(), cb.data(), cr.data());
    luma.resize(static_cast<size_t>(g.width) * g.height);
    d.luma = std::move(luma);
    d.videoFrameNumber = ReadBE32(frame + 8);
    d.audioFrameNumber = ReadBE32(slot + 8);
    d.chunkLengthWords = ReadBE16(slot + 12);
    int audioBytes = AudioChunkBytes(slot);
    d.audio.resize(static_cast<size_t>(audioBytes));
    RegroupAudioToInterleaved(slot + kAudioChunkHeaderBytes, d.audio.data(), d.audio.size());
    return d;
}

double LumaPsnr(const std::vector<uint8_t>& luma, const std::string& rawFile, int index, int width, int height) {
    const size_t lumaBytes = static_cast<size_t>(width) * height;
    const size_t frameBytes = lumaBytes * 3 / 2;
    if (luma.size() != lumaBytes) return 0;
    FILE* f = std::fopen(rawFile.c_str(), "rb");
    if (!f) return 0;
    std::vector<uint8_t> ref(lumaBytes);
    bool ok = std::fseek(f, static_cast<long>(frameBytes * index), SEEK_SET) == 0 &&
              std::fread(ref.data(), 1, lumaBytes, f) == lumaBytes;
    std::fclose(f);
    if (!ok) return 0;
    double se = 0;
    for (size_t i = 0; i < lumaBytes; ++i) {
        double e = double(luma[i]) - double(ref[i]);
        se += e * e;
    }
    double mse = se / double(lumaBytes);
    return mse <= 1e-9 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

int32_t Sample24(const std::vector<uint8_t>& audio, size_t frame, int channel) {
    size_t at = frame * 6 + static_cast<size_t>(channel) * 3;
    if (at + 3 > audio.size()) return 0;
    int32_t v = audio[at] | (audio[at + 1] << 8) | (audio[at + 2] << 16);
    if (v & 0x800000) v -= 0x1000000;
    return v;
}

}  // namespace rk::test
