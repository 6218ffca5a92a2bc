// The ".animlogo" header reader on arbitrary bytes: it must never read
// past what it is given, and a header it accepts must say what a file of it
// holds without overflowing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "effects/logo_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rk::AnimLogoHeader h;
    if (rk::ParseAnimLogoHeader(data, size, h) == rk::AnimLogoCheck::kOk) {
        if (h.numFrames == 0) std::abort();
        for (int cpf : {33, 65}) {
            if (rk::CheckAnimLogoHeader(h, cpf) == rk::AnimLogoCheck::kOk &&
                (h.width != 1920 || h.height != 1080 || h.clustersPerFrame != cpf))
                std::abort();
        }
        if (rk::AnimLogoFileBytes(h) < 32) std::abort();
        rk::EntryHead head;
        head.numFrames = h.numFrames;
        head.clustersPerFrame = h.clustersPerFrame;
        auto bytes = rk::MakeAnimLogoHeader(head);
        rk::AnimLogoHeader back;
        if (rk::ParseAnimLogoHeader(bytes.data(), bytes.size(), back) != rk::AnimLogoCheck::kOk ||
            back.numFrames != h.numFrames || back.clustersPerFrame != h.clustersPerFrame)
            std::abort();
    }
    return 0;
}
