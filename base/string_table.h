#pragma once
// The built-in English string table.
#include <cstddef>

namespace rk {

struct StringEntry {
    int id;
    const char* text;
};

// Every entry, ordered by id.
extern const StringEntry kStringTable[];
extern const std::size_t kStringTableSize;

// The English text of `id`, or nullptr when the table has no such id.
const char* BuiltInText(int id);

}  // namespace rk
