// Journal records from the user's state folder: any bytes must parse or be
// refused, never read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "card/directory_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string key;
    rk::CardDirectory previous, next;
    rk::ParseJournalRecord(data, size, key, previous, next);
    return 0;
}
