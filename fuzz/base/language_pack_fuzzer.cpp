// Language-pack documents from outside: parsed, chosen and used for every
// text and dialog text, formatted with the English texts' arguments.
//
// Inputs whose first byte is odd are edits of the compiled-in pack (so the
// fuzzer reaches deep into a valid document without seeds): each following
// 3 bytes set the byte at a 16-bit offset; even inputs are parsed as they are.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/dialog_texts.h"
#include "base/string_table.h"
#include "base/texts.h"
#include "base/translate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string doc;
    if (size > 0 && (data[0] & 1)) {
        size_t packSize = 0;
        const char* pack = rk::CTranslate::EmbeddedDocument(packSize);
        doc.assign(pack, packSize);
        for (size_t i = 1; i + 2 < size; i += 3) {
            size_t offset = (static_cast<size_t>(data[i]) << 8 | data[i + 1]) * 7 % doc.size();
            doc[offset] = static_cast<char>(data[i + 2]);
        }
    } else {
        doc.assign(reinterpret_cast<const char*>(data), size);
    }
    rk::CTranslate& t = rk::CTranslate::Instance();
    t.LoadFromMemory(doc.data(), doc.size());
    for (std::size_t i = 0; i < t.Count(); ++i) {
        t.SetCurrent(static_cast<int>(i) + 1);
        for (std::size_t k = 0; k < rk::kStringTableSize; ++k) {
            std::string s;
            rk::LoadText(rk::kStringTable[k].id, s);
        }
        for (std::size_t k = 0; k < rk::kDialogTextsSize; ++k)
            (void)rk::DialogText(rk::kDialogTexts[k].dialog, rk::kDialogTexts[k].control);
        // Whatever the translation says, the arguments are read as the English text wants.
        (void)rk::FormatText(rk::IDS_CARD_LINE, "HD 1080p50", "1.2 GB", "7.4 GB", 16);
        (void)rk::FormatText(rk::IDS_NOT_ENOUGH_SPACE, "12 MB");
        (void)rk::FormatText(rk::IDS_PLAYLIST_STATUS, 3, 4, "0:01:00.00");
        (void)rk::FormatText(rk::IDS_DURATION_SIZE, 1, 2, 3, 4, 5, 6);
    }
    t.ChooseLanguage(1049);
    t.Clear();
    return 0;
}
