#pragma once
// CPictureArray: an array that owns its pictures (one preview picture per
// frame of an effect, in frame order). Destroying or clearing the array
// destroys every picture in it.
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "media/picture.h"

namespace rk {

class CPictureArray {
public:
    CPictureArray() = default;
    CPictureArray(const CPictureArray&) = delete;
    CPictureArray& operator=(const CPictureArray&) = delete;
    CPictureArray(CPictureArray&&) noexcept = default;
    CPictureArray& operator=(CPictureArray&&) noexcept = default;

    // Takes ownership; answers the new picture's index.
    size_t Add(std::unique_ptr<CPicture> picture) {
        pictures_.push_back(std::move(picture));
        return pictures_.size() - 1;
    }
    // A new empty picture at the end, owned by the array.
    CPicture& AddNew() {
        pictures_.push_back(std::make_unique<CPicture>());
        return *pictures_.back();
    }
    size_t Size() const { return pictures_.size(); }
    bool Empty() const { return pictures_.empty(); }
    CPicture* At(size_t i) { return i < pictures_.size() ? pictures_[i].get() : nullptr; }
    const CPicture* At(size_t i) const { return i < pictures_.size() ? pictures_[i].get() : nullptr; }
    void Clear() { pictures_.clear(); }
    void Reserve(size_t n) { pictures_.reserve(n); }

private:
    std::vector<std::unique_ptr<CPicture>> pictures_;
};

}  // namespace rk
