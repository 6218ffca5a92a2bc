// The header readers on arbitrary bytes: the frame header parser, the first
// slot checks of the KAVQ1 readers and the audio chunk reader.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/kavq1_slot.h"
#include "codec/kvq1_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> exact(data, data + size);
    rk::KVQ1Parser parser(exact.data(), exact.size());
    const int sc = parser.SizeClass();
    if (sc != -1 && sc != 1 && sc != 2) __builtin_trap();
    if (!parser.Valid() && (parser.FrameBudgetBytes() != 0 || parser.FrameRate() != 0)) __builtin_trap();
    (void)parser.FrameNumber();

    // The input as the head of a slot: the first 32 bytes are the audio chunk
    // header, the next 32 the frame header at 12288.
    std::vector<uint8_t> slot(size_t(rk::kClusterBytes) + 32, 0);
    std::memcpy(slot.data(), data, size < 32 ? size : 32);
    if (size > 32) std::memcpy(slot.data() + rk::kClusterBytes, data + 32, size - 32 < 32 ? size - 32 : 32);
    (void)rk::CheckKAVQ1Slot(slot.data(), slot.size(), 1, 50, rk::SlotGeometryFor(1).slotBytes);
    rk::KAVQ1StreamInfo info;
    if (rk::ReadKAVQ1StreamInfo(slot.data(), slot.size(), info) && info.slotBytes <= rk::kClusterBytes) __builtin_trap();
    const int audio = rk::AudioChunkBytes(slot.data());
    if (audio < 0 || audio > rk::kMaxAudioChunkBytes) __builtin_trap();
    std::vector<uint8_t> head(size_t(rk::kClusterBytes), 0);
    std::vector<uint8_t> out(static_cast<size_t>(audio));
    std::memcpy(head.data(), slot.data(), 32);
    rk::RegroupAudioToInterleaved(head.data() + rk::kAudioChunkHeaderBytes, out.data(), size_t(audio));
    const uint32_t frame = parser.Valid() ? parser.FrameNumber() : 0;
    (void)rk::AudioShareBytes(data[0 % (size ? size : 1)] * (size ? 1 : 0), frame);
    return 0;
}
