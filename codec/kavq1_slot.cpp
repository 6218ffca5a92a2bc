#include "codec/kavq1_slot.h"

#include <cstring>

#include "codec/kvq1_format.h"

namespace rk {

int AudioShareBytes(int rateCode, uint32_t frameNumber) {
    const KVQ1FrameRate* rate = FindFrameRate(rateCode);
    if (!rate) return 0;
    int share = kAudioBytesPerSecond / rate->nominal;
    // A fractional rate spreads what five frames lack on frames 2 and 4 of
    // every five: 24 bytes each at 29.97, 12 at 59.94.
    const uint32_t phase = frameNumber % 5;
    if (rate->denominator != 1 && (phase == 2 || phase == 4)) {
        const int64_t fiveFrames = int64_t(5) * kAudioBytesPerSecond * rate->denominator / rate->numerator;
        share += int((fiveFrames - 5 * share) / 2);
    }
    return share;
}

int AudioChunkLengthWords(int shareBytes) {
    if (shareBytes < 0) shareBytes = 0;
    return (shareBytes / 6 * 6 + kAudioChunkHeaderBytes) / 4;
}

void WriteAudioChunkHeader(uint8_t* head, uint32_t frameNumber, int shareBytes) {
    std::memset(head, 0, kAudioChunkHeaderBytes);
    std::memcpy(head, kAudioChunkMagic, 4);
    head[4] = 0x85;
    WriteBE32(head + 8, frameNumber);
    WriteBE16(head + 12, uint32_t(AudioChunkLengthWords(shareBytes)));
}

size_t RegroupAudioToStored(const uint8_t* in, uint8_t* out, size_t bytes) {
    const size_t groups = bytes / kAudioGroupBytes;
    for (size_t g = 0; g < groups; ++g, in += 12, out += 12) {
        // in: L0(lo,mid,hi) R0 L1 R1; out: high/middle words, then the low bytes.
        out[0] = in[2];  out[1] = in[1];
        out[2] = in[5];  out[3] = in[4];
        out[4] = in[8];  out[5] = in[7];
        out[6] = in[11]; out[7] = in[10];
        out[8] = in[0];  out[9] = in[3];  out[10] = in[6]; out[11] = in[9];
    }
    return groups * kAudioGroupBytes;
}

size_t RegroupAudioToInterleaved(const uint8_t* in, uint8_t* out, size_t bytes) {
    static constexpr uint8_t kFrom[12] = {8, 1, 0, 9, 3, 2, 10, 5, 4, 11, 7, 6};
    const size_t groups = bytes / kAudioGroupBytes;
    for (size_t g = 0; g < groups; ++g, in += 12, out += 12)
        for (int k = 0; k < 12; ++k) out[k] = in[kFrom[k]];
    return groups * kAudioGroupBytes;
}

int FillAudioChunk(uint8_t* head, uint32_t frameNumber, int rateCode, const uint8_t* audio,
                   size_t audioBytes) {
    std::memset(head, 0, kClusterBytes);
    const int share = AudioShareBytes(rateCode, frameNumber);
    WriteAudioChunkHeader(head, frameNumber, share);
    if (share <= 0 || audio == nullptr || audioBytes < size_t(share)) return 0;
    RegroupAudioToStored(audio, head + kAudioChunkHeaderBytes, size_t(share));
    return share;
}

int AudioChunkBytes(const uint8_t* head) {
    const int bytes = int(ReadBE16(head + 12)) * 4 - kAudioChunkHeaderBytes;
    if (bytes <= 0) return 0;
    return bytes > kMaxAudioChunkBytes ? kMaxAudioChunkBytes : bytes;
}

uint64_t KAVQ1FrameCount(uint64_t fileBytes, int slotBytes) {
    return slotBytes > 0 ? fileBytes / uint64_t(slotBytes) : 0;
}

KAVQ1Check CheckKAVQ1Slot(const uint8_t* slot, size_t bytes, int cardSizeClass, int cardRateCode,
                          int cardSlotBytes) {
    if (bytes < size_t(kClusterBytes) + 8) return KAVQ1Check::Invalid;
    const uint8_t* frame = slot + kClusterBytes;
    if (std::memcmp(frame, kKVQ1Magic, 4) != 0) return KAVQ1Check::Invalid;
    const int sizeClass = frame[4];
    if (sizeClass != 1 && sizeClass != 2) return KAVQ1Check::Invalid;
    if (sizeClass != cardSizeClass) return KAVQ1Check::Unsupported;
    if (NormaliseFrameRateCode(frame[5]) != NormaliseFrameRateCode(cardRateCode)) return KAVQ1Check::Unsupported;
    if (int64_t(ReadBE16(frame + 6)) * 512 + kClusterBytes != int64_t(cardSlotBytes)) return KAVQ1Check::Unsupported;
    return KAVQ1Check::Ok;
}

const char* KAVQ1SlotFault(const uint8_t* slot, size_t bytes, int cardSizeClass, int cardRateCode, int cardSlotBytes,
                           uint32_t expectedFrame, int chunkRateCode) {
    if (bytes < size_t(kClusterBytes) + 8) return "the slot is short";
    if (std::memcmp(slot, kAudioChunkMagic, 4) != 0 || slot[4] != 0x85) return "no sound chunk in the head cluster";
    if (ReadBE32(slot + 8) != expectedFrame) return "frame number out of sequence";
    const int share = AudioShareBytes(chunkRateCode != 0 ? chunkRateCode : cardRateCode, expectedFrame);
    if (int(ReadBE16(slot + 12)) != AudioChunkLengthWords(share)) return "sound chunk of the wrong length";
    switch (CheckKAVQ1Slot(slot, bytes, cardSizeClass, cardRateCode, cardSlotBytes)) {
    case KAVQ1Check::Ok: return nullptr;
    case KAVQ1Check::Invalid: return "no KVQ1 frame header";
    case KAVQ1Check::Unsupported: break;
    }
    // Which of the three the card does not share.
    const uint8_t* frame = slot + kClusterBytes;
    if (frame[4] != cardSizeClass) return "frame of another picture size than the card's";
    if (NormaliseFrameRateCode(frame[5]) != NormaliseFrameRateCode(cardRateCode))
        return "frame of another frame rate than the card's";
    return "frame of another frame budget than the card's";
}

bool ReadKAVQ1StreamInfo(const uint8_t* slot, size_t bytes, KAVQ1StreamInfo& info) {
    info = KAVQ1StreamInfo{};
    if (bytes < size_t(kClusterBytes) + 8) return false;
    const uint8_t* frame = slot + kClusterBytes;
    const int sizeClass = frame[4];
    if (sizeClass != 1 && sizeClass != 2) return false;
    info.sizeClass = sizeClass;
    info.rateCode = NormaliseFrameRateCode(frame[5]);
    info.budgetBytes = int(ReadBE16(frame + 6)) * 512;
    if (info.budgetBytes == 0) info.budgetBytes = sizeClass == 1 ? 600064 : 1200128;
    info.slotBytes = info.budgetBytes + kClusterBytes;
    return true;
}

}  // namespace rk
