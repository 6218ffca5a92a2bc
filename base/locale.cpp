#include "base/locale.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace rk {
namespace {

struct LocaleId {
    const char* name;  // "ll" or "ll_TT"
    int id;
};

// Territory-specific identifiers first; a bare language gives its primary
// identifier (the one of its home country).
const LocaleId kLocaleIds[] = {
    {"en_GB", 2057}, {"en_AU", 3081}, {"en_CA", 4105}, {"en_IE", 6153}, {"en_NZ", 5129},
    {"de_AT", 3079}, {"de_CH", 2055}, {"de_LU", 4103},
    {"fr_BE", 2060}, {"fr_CA", 3084}, {"fr_CH", 4108}, {"fr_LU", 5132},
    {"es_MX", 2058}, {"es_AR", 11274}, {"es_US", 21514},
    {"pt_PT", 2070}, {"pt_BR", 1046},
    {"zh_CN", 2052}, {"zh_SG", 4100}, {"zh_TW", 1028}, {"zh_HK", 3076},
    {"nl_BE", 2067}, {"sv_FI", 2077}, {"it_CH", 2064}, {"ru_MD", 2073},
    {"en", 1033}, {"ru", 1049}, {"de", 1031}, {"fr", 1036}, {"es", 3082}, {"it", 1040},
    {"ja", 1041}, {"ko", 1042}, {"zh", 2052}, {"pt", 1046}, {"pl", 1045}, {"uk", 1058},
    {"be", 1059}, {"cs", 1029}, {"sk", 1051}, {"nl", 1043}, {"sv", 1053}, {"fi", 1035},
    {"da", 1030}, {"nb", 1044}, {"no", 1044}, {"nn", 2068}, {"tr", 1055}, {"hu", 1038},
    {"el", 1032}, {"bg", 1026}, {"ro", 1048}, {"hr", 1050}, {"sl", 1060}, {"sr", 3098},
    {"lt", 1063}, {"lv", 1062}, {"et", 1061}, {"he", 1037}, {"ar", 1025}, {"fa", 1065},
    {"hi", 1081}, {"th", 1054}, {"vi", 1066}, {"id", 1057}, {"ms", 1086}, {"kk", 1087},
    {"ka", 1079}, {"hy", 1067}, {"az", 1068}, {"uz", 1091}, {"is", 1039}, {"ca", 1027},
    {"eu", 1069}, {"gl", 1110},
};

int Lookup(const std::string& key) {
    for (const LocaleId& l : kLocaleIds)
        if (key == l.name) return l.id;
    return 0;
}

}  // namespace

int LanguageIdFromLocale(const std::string& locale) {
    // language[_territory][.codeset][@modifier]; "-" is accepted for "_".
    std::string language, territory;
    std::size_t i = 0;
    while (i < locale.size() && std::isalpha(static_cast<unsigned char>(locale[i])))
        language.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(locale[i++]))));
    if (language.size() < 2 || language.size() > 3) return 0;
    if (i < locale.size() && (locale[i] == '_' || locale[i] == '-')) {
        ++i;
        while (i < locale.size() && std::isalpha(static_cast<unsigned char>(locale[i])))
            territory.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(locale[i++]))));
    }
    if (i < locale.size() && locale[i] != '.' && locale[i] != '@') return 0;
    if (!territory.empty()) {
        if (int id = Lookup(language + "_" + territory)) return id;
    }
    return Lookup(language);
}

int UserLanguageId() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return LanguageIdFromLocale(v);
    }
    return 0;
}

}  // namespace rk
