#pragma once
// Language packs: translations of the string table and of the dialog
// templates, read from the XML document compiled into the program.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace rk {

// One language of the pack.
class CTranslation {
public:
    std::string name;   // the "name" attribute ("Russian")
    int languageId = 0; // the "id" attribute, a Windows language identifier (1049)
    std::unordered_map<uint32_t, std::string> resources;  // by 32-bit key
    std::unordered_map<int, std::string> strings;         // by decimal id

    // The resource text under `key`; false when the translation lacks it.
    bool Find(uint32_t key, std::string& text) const;
};

// The process-wide translation manager.
class CTranslate {
public:
    static constexpr std::size_t kMaxTranslations = 10;

    static CTranslate& Instance();

    // Reads the document compiled into the program. Never fails loudly: a
    // missing or broken document leaves no translation. Answers whether a
    // document was parsed.
    bool LoadPacks();
    // Reads a document from memory (tests, and LoadPacks itself). Replaces
    // whatever was loaded before and resets the selection to none.
    bool LoadFromMemory(const char* data, std::size_t size);
    // Forgets every translation and the selection.
    void Clear();

    // Chooses the first translation, in document order, whose language id is
    // `languageId`; none when no translation matches. Answers the selection
    // (0 none, n for translation n-1).
    int ChooseLanguage(int languageId);
    int Current() const { return current_; }
    // Sets the selection directly (0 none); out-of-range values select none.
    void SetCurrent(int selection);

    std::size_t Count() const { return translations_.size(); }
    const CTranslation& At(std::size_t i) const { return translations_[i]; }
    const CTranslation* CurrentTranslation() const;

    // The texts of "original"/"strings", by decimal id.
    const std::map<int, std::string>& OriginalStrings() const { return originalStrings_; }

    // The current translation's text under `key`; false without a current
    // translation or without that key.
    bool FindCurrent(uint32_t key, std::string& text) const;

    // Key of a string-table text: 0xC0000000 | id.
    static uint32_t StringKey(int id) { return 0xC0000000u | static_cast<uint32_t>(id); }
    // Key of a dialog caption (control 0) or control text: the dialog id
    // masked to 14 bits, minus 0x8000, as 16 bits in the upper half; the
    // control id in the lower half.
    static uint32_t DialogKey(int dialog, int control) {
        uint32_t high = (static_cast<uint32_t>(dialog & 0x3FFF) - 0x8000u) & 0xFFFFu;
        return (high << 16) | (static_cast<uint32_t>(control) & 0xFFFFu);
    }

    // The compiled-in document (for tests and tools).
    static const char* EmbeddedDocument(std::size_t& size);

private:
    CTranslate() = default;
    std::vector<CTranslation> translations_;
    std::map<int, std::string> originalStrings_;
    int current_ = 0;
};

// Loads the compiled-in packs and chooses the language of the user's locale;
// both front-ends call this once at start-up.
void LoadLanguagePacks();

}  // namespace rk
