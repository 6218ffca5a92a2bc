// Round trips on real photographs at both sizes and with every kernel
// variant: budget kept, frames decode, luma PSNR recorded.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "codec/kvq1_decoder.h"
#include "codec/kvq1_encoder.h"
#include "codec/transforms.h"
#include "codec_test_util.h"

using namespace rk;
using namespace rk::test;

namespace {

struct Result {
    int length = 0;
    int quantiser = 0;
    double psnr = 0;
    Planes decoded;
};

bool RoundTrip(const Planes& pic, TransformVariant variant, Result& r) {
    const int sc = pic.g.sizeClass;
    KVQ1Encoder enc(sc, sc == 1 ? 768 : 1536, 50);
    if (!enc.UseKernels(variant)) return false;
    std::vector<uint8_t> out(enc.BudgetBytes());
    r.length = enc.Encode(0, pic.y.data(), pic.cb.data(), pic.cr.data(), out.data());
    r.quantiser = enc.LastQuantiser();
    EXPECT_GT(r.length, 0);
    EXPECT_LE(r.length, enc.BudgetBytes() - 4);
    EXPECT_EQ(r.length % 4, 0);
    r.decoded = MakePlanes(sc, 0, 0);
    // Every decoder variant gives the same samples.
    Planes other = MakePlanes(sc, 0, 0);
    KVQ1Decoder dec, portable;
    portable.UseKernels(TransformVariant::Portable);
    EXPECT_TRUE(dec.Decode(out.data(), out.size(), r.decoded.y.data(), r.decoded.cb.data(), r.decoded.cr.data()));
    EXPECT_TRUE(portable.Decode(out.data(), out.size(), other.y.data(), other.cb.data(), other.cr.data()));
    EXPECT_EQ(r.decoded.y, other.y);
    EXPECT_EQ(r.decoded.cr, other.cr);
    r.psnr = LumaPsnr(pic, r.decoded);
    return true;
}

}  // namespace

class PhotoRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(PhotoRoundTrip, EveryPhotoFitsDecodesAndLooksRight) {
    const int sc = GetParam();
    for (const std::string& name : PhotoNames()) {
        Planes pic;
        std::string why;
        if (!LoadPhoto(name, sc, pic, &why)) GTEST_SKIP() << why;
        Result sse, avx;
        ASSERT_TRUE(RoundTrip(pic, TransformVariant::Sse, sse));
        std::printf("[ psnr ] %s class %d SSE: %d bytes, quantiser %d, luma PSNR %.2f dB\n", name.c_str(), sc,
                    sse.length, sse.quantiser, sse.psnr);
        RecordProperty(name + "_class" + std::to_string(sc) + "_psnr", std::to_string(sse.psnr));
        // "pixels" is a dithered pixel-art texture rather than a photograph:
        // ffmpeg's mjpeg reaches 35.4 dB on it at this size per frame.
        EXPECT_GT(sse.psnr, name == "pixels-l" ? 30.0 : 40.0) << name;
        if (RoundTrip(pic, TransformVariant::Avx, avx)) {
            std::printf("[ psnr ] %s class %d AVX: %d bytes, quantiser %d, luma PSNR %.2f dB\n", name.c_str(),
                        sc, avx.length, avx.quantiser, avx.psnr);
            // Coefficients differ by at most one between the variants, so the
            // pictures are all but the same.
            EXPECT_NEAR(avx.psnr, sse.psnr, 0.5) << name;
            EXPECT_LE(std::abs(avx.quantiser - sse.quantiser), 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SizeClass, PhotoRoundTrip, ::testing::Values(1, 2));

TEST(RoundTrip, PortableEncoderMatchesSse) {
    Planes pic;
    std::string why;
    if (!LoadPhoto("licorice-l", 1, pic, &why)) GTEST_SKIP() << why;
    KVQ1Encoder a(1, 768, 50), b(1, 768, 50);
    ASSERT_TRUE(a.UseKernels(TransformVariant::Portable));
    ASSERT_TRUE(b.UseKernels(TransformVariant::Sse));
    std::vector<uint8_t> x(a.BudgetBytes()), y(b.BudgetBytes());
    ASSERT_EQ(a.Encode(3, pic.y.data(), pic.cb.data(), pic.cr.data(), x.data()),
              b.Encode(3, pic.y.data(), pic.cb.data(), pic.cr.data(), y.data()));
    EXPECT_EQ(x, y);
}
