// reelkeep-cli's codec commands: decode a KAVQ1 file to raw yuv420p.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/fd_io.h"
#include "base/log.h"
#include "base/safe_open.h"
#include "cli/cli_context.h"
#include "codec/kavq1_slot.h"
#include "codec/kvq1_decoder.h"
#include "codec/kvq1_format.h"

namespace rk::cli {

namespace {

struct DecodeArgs {
    std::string input;
    std::string output;
    int64_t first = 0;
    int64_t count = -1;  // all frames from `first`
};

bool WriteAll(std::FILE* f, const uint8_t* data, size_t bytes) { return std::fwrite(data, 1, bytes, f) == bytes; }

// Frames of the file as raw yuv420p of the picture size: the filler lines of
// size class 1 are dropped. Rows of empty slices keep the previous frame's
// samples, as on the playout device; the first frame starts from black.
int RunDecode(const DecodeArgs& a, Context& ctx) {
    std::string why;
    const CFileHandle file(OpenInputFile(a.input, &why));
    const int fd = file.fd;
    if (fd < 0) {
        std::fprintf(stderr, "reelkeep-cli decode: error: can't open %s\n", why.c_str());
        return kExitFailed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        std::fprintf(stderr, "reelkeep-cli decode: error: can't read %s\n", a.input.c_str());
        return kExitFailed;
    }

    std::vector<uint8_t> head(size_t(kClusterBytes) + kKVQ1HeaderBytes);
    KAVQ1StreamInfo info;
    if (uint64_t(st.st_size) < head.size() || ReadWholeAt(fd, 0, head.data(), head.size()) != 1 ||
        !ReadKAVQ1StreamInfo(head.data(), head.size(), info)) {
        std::fprintf(stderr, "reelkeep-cli decode: error: %s is not a KAVQ1 video file\n", a.input.c_str());
        return kExitFailed;
    }
    const uint64_t frames = KAVQ1FrameCount(uint64_t(st.st_size), info.slotBytes);
    const uint64_t first = uint64_t(a.first);
    uint64_t last = frames;
    if (a.count >= 0 && first + uint64_t(a.count) < last) last = first + uint64_t(a.count);
    if (first >= frames && frames > 0) {
        std::fprintf(stderr, "reelkeep-cli decode: error: the file has %llu frames; --first %lld is beyond them\n",
                     static_cast<unsigned long long>(frames), static_cast<long long>(a.first));
        return kExitFailed;
    }

    const KVQ1Geometry g = KVQ1GeometryFor(info.sizeClass);
    std::vector<uint8_t> luma(g.LumaBytes(), 0), cb(g.ChromaBytes(), 128), cr(g.ChromaBytes(), 128);
    std::vector<uint8_t> slot(size_t(info.slotBytes));

    // An output that exists is kept unless the person says Yes.
    if (!MayWriteOutput(ctx, a.output)) return kExitFailed;
    const int outFd = OpenOutputFile(a.output, &why);
    std::FILE* out = outFd >= 0 ? ::fdopen(outFd, "wb") : nullptr;
    if (!out) {
        if (outFd >= 0) {
            why = a.output + ": " + std::strerror(errno);
            ::close(outFd);
        }
        std::fprintf(stderr, "reelkeep-cli decode: error: can't create %s\n", why.c_str());
        return kExitFailed;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> outCloser(out, std::fclose);

    LogMessage(1, "reelkeep-cli decode: %s, size class %d, rate %d, frames %llu to %llu", a.input.c_str(),
               info.sizeClass, info.rateCode, static_cast<unsigned long long>(first),
               static_cast<unsigned long long>(last));
    KVQ1Decoder decoder;
    int failures = 0;
    const size_t lumaPicture = size_t(g.width) * g.height;
    const size_t chromaPicture = size_t(g.width / 2) * (g.height / 2);
    for (uint64_t i = first; i < last; ++i) {
        if (ctx.op && ctx.op->PumpMessages()) {
            std::fprintf(stderr, "reelkeep-cli decode: error: stopped at frame %llu\n", static_cast<unsigned long long>(i));
            return kExitFailed;
        }
        if (ReadWholeAt(fd, i * uint64_t(info.slotBytes), slot.data(), slot.size()) != 1) {
            std::fprintf(stderr, "reelkeep-cli decode: error: can't read frame %llu\n", static_cast<unsigned long long>(i));
            return kExitFailed;
        }
        if (!decoder.Decode(slot.data() + kClusterBytes, slot.size() - size_t(kClusterBytes), luma.data(),
                            cb.data(), cr.data())) {
            std::fprintf(stderr, "reelkeep-cli decode: error: frame %llu failed to decode (row %d)\n",
                         static_cast<unsigned long long>(i), decoder.FailedRow());
            ++failures;
        }
        if (!WriteAll(out, luma.data(), lumaPicture) || !WriteAll(out, cb.data(), chromaPicture) ||
            !WriteAll(out, cr.data(), chromaPicture)) {
            std::fprintf(stderr, "reelkeep-cli decode: error: can't write %s\n", a.output.c_str());
            return kExitFailed;
        }
    }
    if (std::fflush(out) != 0) {
        std::fprintf(stderr, "reelkeep-cli decode: error: can't write %s\n", a.output.c_str());
        return kExitFailed;
    }
    // The closing line is a notice, not an error (and -q leaves it out).
    if (!ctx.quiet)
        std::fprintf(stderr, "reelkeep-cli decode: %llu frames of %dx%d written to %s%s\n",
                     static_cast<unsigned long long>(last > first ? last - first : 0), g.width, g.height,
                     a.output.c_str(), failures ? " (some did not decode)" : "");
    return failures ? kExitFailed : kExitOk;
}

}  // namespace

void RegisterCodecCommands(CLI::App& app, Context& ctx) {
    auto args = std::make_shared<DecodeArgs>();
    CLI::App* decode = app.add_subcommand(
        "decode", "Decode the frames of a KAVQ1 file to raw yuv420p of the picture size");
    decode->add_option("IN", args->input, "KAVQ1 file (.kavq1)")->required();
    decode->add_option("OUT", args->output, "raw yuv420p output file")->required();
    decode->add_option("--first", args->first, "first frame to decode (from 0)")->check(CLI::NonNegativeNumber);
    decode->add_option("--count", args->count, "number of frames (default: to the end)")->check(CLI::NonNegativeNumber);
    decode->callback([args, &ctx] { ctx.exitCode = RunDecode(*args, ctx); });
}

}  // namespace rk::cli
