#include "base/translate.h"

#include <tinyxml2.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/locale.h"
#include "base/log.h"

namespace rk {
namespace {

// A missing or unreadable attribute counts as 0.
uint32_t HexAttribute(const tinyxml2::XMLElement* e, const char* name) {
    const char* s = e->Attribute(name);
    if (!s) return 0;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(s, &end, 16);
    if (end == s || errno == ERANGE || v > 0xFFFFFFFFull) return 0;
    return static_cast<uint32_t>(v);
}

int DecimalAttribute(const tinyxml2::XMLElement* e, const char* name) {
    const char* s = e->Attribute(name);
    if (!s) return 0;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s, &end, 10);
    if (end == s || errno == ERANGE || v < INT_MIN || v > INT_MAX) return 0;
    return static_cast<int>(v);
}

// Backslash-n becomes a line feed and backslash-t a tab; every other
// backslash stays as it is.
std::string Unescape(const char* s) {
    std::string out;
    for (; *s; ++s) {
        if (s[0] == '\\' && s[1] == 'n') {
            out.push_back('\n');
            ++s;
        } else if (s[0] == '\\' && s[1] == 't') {
            out.push_back('\t');
            ++s;
        } else {
            out.push_back(*s);
        }
    }
    return out;
}

template <typename F>
void ForEachChild(const tinyxml2::XMLElement* parent, const char* name, F f) {
    if (!parent) return;
    for (const tinyxml2::XMLElement* e = parent->FirstChildElement(name); e; e = e->NextSiblingElement(name)) f(e);
}

const tinyxml2::XMLElement* Child(const tinyxml2::XMLElement* parent, const char* name) {
    return parent ? parent->FirstChildElement(name) : nullptr;
}

}  // namespace

bool CTranslation::Find(uint32_t key, std::string& text) const {
    auto it = resources.find(key);
    if (it == resources.end()) return false;
    text = it->second;
    return true;
}

CTranslate& CTranslate::Instance() {
    static CTranslate instance;
    return instance;
}

void CTranslate::Clear() {
    translations_.clear();
    originalStrings_.clear();
    current_ = 0;
}

bool CTranslate::LoadPacks() {
    std::size_t size = 0;
    const char* data = EmbeddedDocument(size);
    if (!data || size == 0) {
        Clear();
        return false;
    }
    return LoadFromMemory(data, size);
}

bool CTranslate::LoadFromMemory(const char* data, std::size_t size) {
    Clear();
    if (!data || size == 0) return false;
    tinyxml2::XMLDocument doc;
    // Parse copies the buffer and terminates it itself.
    if (doc.Parse(data, size) != tinyxml2::XML_SUCCESS) {
        LogMessage(2, "CTranslate::LoadFromMemory(): XML error %d", static_cast<int>(doc.ErrorID()));
        return false;
    }
    const tinyxml2::XMLElement* pack = doc.FirstChildElement("language_pack");

    ForEachChild(Child(Child(pack, "original"), "strings"), "string", [&](const tinyxml2::XMLElement* e) {
        const char* text = e->GetText();
        originalStrings_[DecimalAttribute(e, "id")] = text ? text : "";
    });

    const tinyxml2::XMLElement* list = Child(pack, "translations");
    for (const tinyxml2::XMLElement* t = Child(list, "translation"); t; t = t->NextSiblingElement("translation")) {
        if (translations_.size() >= kMaxTranslations) break;
        CTranslation tr;
        const char* name = t->Attribute("name");
        tr.name = name ? name : "";
        tr.languageId = DecimalAttribute(t, "id");
        // A key without a text is left out, so that the built-in text shows.
        ForEachChild(Child(t, "resources"), "string", [&](const tinyxml2::XMLElement* e) {
            const char* text = e->GetText();
            if (text) tr.resources[HexAttribute(e, "id")] = Unescape(text);
        });
        ForEachChild(Child(t, "strings"), "string", [&](const tinyxml2::XMLElement* e) {
            const char* text = e->GetText();
            if (text) tr.strings[DecimalAttribute(e, "id")] = text;
        });
        translations_.push_back(std::move(tr));
    }
    LogMessage(3, "CTranslate::LoadFromMemory(): %d translations", static_cast<int>(translations_.size()));
    return true;
}

int CTranslate::ChooseLanguage(int languageId) {
    current_ = 0;
    for (std::size_t i = 0; i < translations_.size(); ++i) {
        if (translations_[i].languageId == languageId) {
            current_ = static_cast<int>(i) + 1;
            break;
        }
    }
    return current_;
}

void CTranslate::SetCurrent(int selection) {
    current_ = (selection > 0 && static_cast<std::size_t>(selection) <= translations_.size()) ? selection : 0;
}

const CTranslation* CTranslate::CurrentTranslation() const {
    if (current_ <= 0 || static_cast<std::size_t>(current_) > translations_.size()) return nullptr;
    return &translations_[static_cast<std::size_t>(current_) - 1];
}

bool CTranslate::FindCurrent(uint32_t key, std::string& text) const {
    const CTranslation* t = CurrentTranslation();
    return t && t->Find(key, text);
}

void LoadLanguagePacks() {
    CTranslate& t = CTranslate::Instance();
    t.LoadPacks();
    int language = UserLanguageId();
    int chosen = t.ChooseLanguage(language);
    LogMessage(2, "Language: %d, translation %d", language, chosen);
}

}  // namespace rk
