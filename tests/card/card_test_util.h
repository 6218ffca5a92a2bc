#pragma once
// Shared pieces of the card tests: a private folder, sparse card images,
// cards opened over a CFaultDevice, and item data with a recognisable pattern.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "card/card_device.h"
#include "card/fault_device.h"
#include "card/sd_card.h"
#include "support/test_files.h"

namespace rk::test {

// A sparse image of `bytes` bytes.
inline std::string MakeImage(const TempDir& dir, const std::string& name, uint64_t bytes) {
    std::string path = dir.File(name);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        if (::ftruncate(fd, off_t(bytes)) != 0) path.clear();
        ::close(fd);
    }
    return path;
}

// Opens `path` as a card through a CFaultDevice; `fault` points at it.
inline int OpenFaulty(CSDCard& card, const std::string& path, CFaultDevice*& fault) {
    std::unique_ptr<ICardDevice> dev;
    int error = 0;
    int answer = OpenCardDevice(path, dev, error);
    if (answer != kOpenOk) return answer;
    auto f = std::make_unique<CFaultDevice>(std::move(dev));
    fault = f.get();
    return card.OpenDevice(std::move(f), 1);
}

// The byte pattern of item `tag`: every Cluster different, every item different.
inline void FillPattern(uint8_t* data, uint64_t clusters, uint32_t tag) {
    for (uint64_t c = 0; c < clusters; ++c)
        for (uint32_t i = 0; i < kClusterSize; i += 4) {
            uint32_t v = tag * 0x9E3779B1u ^ uint32_t(c) * 0x85EBCA77u ^ i;
            std::memcpy(data + c * kClusterSize + i, &v, 4);
        }
}

// Reads the file bytes of Clusters [first, first + count) straight from the image.
inline std::vector<uint8_t> ReadImageClusters(const std::string& path, uint64_t first, uint64_t count) {
    std::vector<uint8_t> out(count * kClusterSize);
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    ssize_t n = ::pread(fd, out.data(), out.size(), off_t(first * kClusterSize));
    ::close(fd);
    if (n != ssize_t(out.size())) return {};
    return out;
}

inline bool ItemIntact(const std::string& path, const EntryHead& h, uint32_t tag) {
    uint64_t n = h.RunClusters();
    std::vector<uint8_t> want(n * kClusterSize);
    FillPattern(want.data(), n, tag);
    return ReadImageClusters(path, h.startCluster, n) == want;
}

}  // namespace rk::test
