// A directory block read from a hostile card: validation, every query, the
// dump, and allocation with compaction on a small card held in memory. The
// first input byte picks whether the block is stamped valid; the rest is the
// block (zero-padded).
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "card/allocator.h"
#include "card/sd_card.h"
#include "ui/scripted_operator.h"

namespace {

// An HD card with a small item area (1651 to 1799).
constexpr uint64_t kClusters = 1800;

// One card's bytes for the whole run: mapping them afresh every input would
// cost more than the input itself.
std::vector<uint8_t>& CardBytes() {
    static std::vector<uint8_t> bytes(kClusters * rk::kClusterSize);
    return bytes;
}

class CMemoryCard : public rk::ICardDevice {
public:
    std::vector<uint8_t>& bytes = CardBytes();
    bool QuerySize(uint64_t& b) override {
        b = bytes.size();
        return true;
    }
    bool ReadAt(uint64_t off, void* buf, size_t n, int& e) override {
        if (off > bytes.size() || n > bytes.size() - off) return e = 5, false;
        std::memcpy(buf, bytes.data() + off, n);
        return true;
    }
    bool WriteAt(uint64_t off, const void* buf, size_t n, int& e) override {
        if (off > bytes.size() || n > bytes.size() - off) return e = 28, false;
        std::memcpy(bytes.data() + off, buf, n);
        return true;
    }
    bool Flush(int&) override { return true; }
    void UnmountVolumes() override {}
    rk::DeviceKind Kind() const override { return rk::DeviceKind::kOther; }
    std::string Path() const override { return "memory"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::memset(CardBytes().data(), 0, CardBytes().size());
    auto dev = std::make_unique<CMemoryCard>();
    rk::CardDirectory block;
    std::memcpy(block.Bytes(), data + 1, std::min<size_t>(size - 1, rk::kDirectorySize));
    if (data[0] & 1) {
        static const uint32_t kHdModes[] = {0, 3, 6};
        block.StampMagicAndMode(kHdModes[(data[0] >> 1 & 7) % 3]);
        block.StoreChecksum();
    }
    std::memcpy(dev->bytes.data(), block.Bytes(), rk::kDirectorySize);
    rk::CScriptedOperator op;
    op.defaultAnswer = rk::kResultYes;
    op.stopAtPump = (data[0] & 0x80) ? 3 : 0;
    rk::CSDCard card(&op);
    if (card.OpenDevice(std::move(dev)) != rk::kOpenOk) return 0;
    if (!card.ReadDirectory()) return 0;
    for (int v = -1; v < rk::kVideoCount; ++v) {
        card.VideoText(v < 0 ? 0 : v);
        card.ListPositionOfVideo(v);
        card.VideoOfListPosition(v);
    }
    for (int e = 0; e < rk::kEffectCount; ++e) card.EffectThumbnailCluster(e);
    rk::DirectoryDumpLines(card.Directory(), uint32_t(card.VideoMode()), card.FreeClusters(), card.ItemAreaClusters());
    rk::CardLineText(card);
    int32_t n = 1 + int32_t(data[size - 1]) % 64;
    if (n <= card.FreeClusters()) {
        int32_t at = rk::AllocateClusters(card, op, n);
        if (at >= 0 && (at < card.FirstItemCluster() || int64_t(at) + n > card.TotalClusters())) __builtin_trap();
    }
    rk::DefragmentCard(card, op, false);
    return 0;
}
