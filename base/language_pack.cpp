// The compiled-in language pack document (generated from lang/language_pack.xml).
#include <cstddef>

#include "base/translate.h"

namespace rk {

extern const unsigned char kLanguagePackData[];
extern const std::size_t kLanguagePackSize;

const char* CTranslate::EmbeddedDocument(std::size_t& size) {
    size = kLanguagePackSize;
    return reinterpret_cast<const char*>(kLanguagePackData);
}

}  // namespace rk
