#pragma once
// KVQ1Encoder: one planar 8-bit 4:2:0 picture to one KVQ1 frame that fits a
// fixed byte budget (constant-size intra coding). One instance per thread; it
// carries its DC predictors from frame to frame, so encoding the same picture
// twice with one encoder can give different frames.
#include <cstdint>
#include <memory>

#include "codec/block_coder.h"
#include "codec/kvq1_format.h"
#include "codec/transforms.h"

namespace rk {

class KVQ1Encoder {
public:
    // sizeClass 1 (1920 x 1080, coded 1088 lines) or 2 (3840 x 2160);
    // budgetSectors is the frame budget in 512-byte sectors (768 for class 1
    // and 1536 for class 2 on a card: (clusters per frame - 1) x 24);
    // frameRateCode goes into byte 5 of every frame. The coefficient store
    // (6266880 or 24883200 bytes) is allocated here, once.
    KVQ1Encoder(int sizeClass, int budgetSectors, int frameRateCode);
    virtual ~KVQ1Encoder();
    KVQ1Encoder(const KVQ1Encoder&) = delete;
    KVQ1Encoder& operator=(const KVQ1Encoder&) = delete;

    // Encodes one picture. Planes: luma width x codedHeight (stride width),
    // Cb and Cr width/2 x codedHeight/2 (stride width/2); for size class 1 the
    // filler lines 1080..1087 (chroma 540..543) must be present (luma 0,
    // chroma 128). `output` must hold BudgetBytes() bytes; the frame is
    // written at its start and every byte behind it up to BudgetBytes() is
    // left zero, so a zeroed frame slot stays clean. Returns the frame length
    // in bytes (a multiple of 4, at most BudgetBytes() - 4), or 0 when the
    // encoder was made with an unusable size class or a budget too small for
    // even the all-empty frame.
    int Encode(uint32_t frameNumber, const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
               uint8_t* output);

    const KVQ1Geometry& Geometry() const { return geometry; }
    int BudgetBytes() const { return budgetBytes; }
    int BudgetSectors() const { return budgetSectors; }
    // The quantiser of the last frame (1 to 64, or 65 for an all-empty frame).
    int LastQuantiser() const { return quantiser; }
    // Final passes the last frame needed (1 when the searched quantiser fit).
    int LastPasses() const { return passes; }

    // Tests and benchmarks: use the kernels of another variant (false when the
    // processor cannot run it), or code through the plain CBitstream writer
    // instead of the word-at-a-time writer (the frames are identical).
    bool UseKernels(TransformVariant variant);
    void UseReferenceWriter(bool on) { referenceWriter = on; }

private:
    // A macroblock's DC differences (moving the predictors on) and levels.
    struct MacroblockLevels {
        alignas(64) int16_t levels[6][64];
        uint64_t mask[6];
        int dc[6];
    };
    // Everything codes at `quantiser` with `multipliers`. The trials of the
    // plain writer code the sample (CodeTrial), those of the word writer
    // only count its bits (CountTrial), for the same outcome.
    template <class Writer> bool CodeTrial(uint8_t* output);
    bool CountTrial();
    template <class Writer> int CodeFrame(uint32_t frameNumber, uint8_t* output);
    void QuantiseMacroblock(int macroblock, MacroblockLevels& out);
    template <class Writer> void CodeMacroblock(Writer& w, int macroblock);
    int MacroblockBits(int macroblock);
    template <class Writer> bool CodeRow(uint8_t* frame, int& used, int row);
    void WriteHeader(uint32_t frameNumber, uint8_t* frame) const;
    void SetRowEndPredictors(int row);
    // The coefficients of one macroblock, transformed on first use in a frame:
    // the trials need only their sample, and the final pass finds each row's
    // coefficients still in cache right after computing them.
    const int16_t* Coefficients(int macroblock);
    void TransformMacroblock(int macroblock);
    // Fills `multipliers` for the current `quantiser`.
    void SetMultipliers();

    KVQ1Geometry geometry;
    int frameRateCode = 0;
    int budgetSectors = 0;
    int budgetBytes = 0;
    std::unique_ptr<int16_t[]> coefficients;  // rows x columns x 6 x 64, natural order (8 v + u)
    std::unique_ptr<uint32_t[]> transformedIn;  // per macroblock: the frame epoch it was transformed in
    uint32_t epoch = 0;
    const uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    int quantiser = 0;
    int passes = 0;
    BlockCodeTables codeTables;
    int32_t dcPredictor[3] = {0, 0, 0};
    const TransformKernels* kernels = nullptr;
    bool referenceWriter = false;
    alignas(32) float multipliers[2][64] = {};  // of weight x quantiser: luma, chroma; natural order
};

}  // namespace rk
