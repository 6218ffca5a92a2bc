#pragma once
// A formatted HD card image with items placed at chosen Clusters, each
// filled with its own byte pattern.
#include <gtest/gtest.h>

#include "card/allocator.h"
#include "card_test_util.h"
#include "ui/scripted_operator.h"

namespace rk::test {

class CardFixture {
public:
    // An HD card (X = 33) whose item area holds `itemClusters` Clusters.
    explicit CardFixture(int64_t itemClusters, bool faulty = false) : card(&op) {
        const uint64_t total = uint64_t(1651 + itemClusters) * kClusterSize;
        path = MakeImage(dir, "card.img", total);
        int answer = faulty ? OpenFaulty(card, path, fault) : card.OpenPath(path);
        EXPECT_EQ(answer, kOpenOk);
        EXPECT_TRUE(card.Format(0));
    }

    struct Item {
        ItemKind kind;
        int index;
        uint32_t tag;
    };

    // Writes the item's Clusters and sets its entry (the directory is not written).
    void Place(ItemKind kind, int index, uint32_t start, uint16_t frames, uint32_t tag = 0) {
        if (tag == 0) tag = uint32_t(kind * 1000 + index + 1);
        EntryHead h{start, frames, 33};
        std::vector<uint8_t> data(h.RunClusters() * kClusterSize);
        FillPattern(data.data(), h.RunClusters(), tag);
        ASSERT_TRUE(card.WriteClusters(start, data.data(), uint32_t(h.RunClusters())));
        card.Directory().SetItem(kind, index, h);
        items.push_back({kind, index, tag});
    }

    void Commit() { ASSERT_TRUE(card.WriteDirectory()); }

    // Every used entry's Clusters, read straight from the image, hold its pattern.
    int DamagedItems(const CardDirectory& d) const {
        int damaged = 0;
        for (const auto& it : items) {
            EntryHead h = d.Item(it.kind, it.index);
            if (h.Used() && !ItemIntact(path, h, it.tag)) ++damaged;
        }
        return damaged;
    }
    int DamagedItems() const { return DamagedItems(card.Directory()); }

    TempDir dir;
    std::string path;
    CScriptedOperator op;
    CSDCard card;
    CFaultDevice* fault = nullptr;
    std::vector<Item> items;
};

// Item lengths in Clusters for `frames` frames of 33 Clusters.
constexpr uint32_t Len(uint32_t frames) { return frames * 33 + 2; }

}  // namespace rk::test
