// The user's language from the locale.
#include <gtest/gtest.h>

#include <cstdlib>

#include "base/locale.h"

namespace {

TEST(Locale, NamesMapToWindowsLanguageIds) {
    EXPECT_EQ(rk::LanguageIdFromLocale("ru_RU.UTF-8"), 1049);
    EXPECT_EQ(rk::LanguageIdFromLocale("ru_RU"), 1049);
    EXPECT_EQ(rk::LanguageIdFromLocale("ru"), 1049);
    EXPECT_EQ(rk::LanguageIdFromLocale("ru_UA.UTF-8"), 1049);  // territory unknown: the language's own id
    EXPECT_EQ(rk::LanguageIdFromLocale("ru-RU"), 1049);
    EXPECT_EQ(rk::LanguageIdFromLocale("RU_ru.utf8"), 1049);
    EXPECT_EQ(rk::LanguageIdFromLocale("en_US.UTF-8"), 1033);
    EXPECT_EQ(rk::LanguageIdFromLocale("en_GB.UTF-8"), 2057);
    EXPECT_EQ(rk::LanguageIdFromLocale("de_DE@euro"), 1031);
    EXPECT_EQ(rk::LanguageIdFromLocale("de_AT.ISO-8859-1@euro"), 3079);
    EXPECT_EQ(rk::LanguageIdFromLocale("pt_BR"), 1046);
    EXPECT_EQ(rk::LanguageIdFromLocale("pt_PT"), 2070);
    EXPECT_EQ(rk::LanguageIdFromLocale("uk_UA.UTF-8"), 1058);
}

TEST(Locale, UnknownAndOddNamesGiveNoLanguage) {
    for (const char* name : {"", "C", "POSIX", "C.UTF-8", "xx_YY", "r", "russian", "ru_RU;rm -rf", "ru RU",
                             "12_34", "\xD1\x80\xD1\x83"})
        EXPECT_EQ(rk::LanguageIdFromLocale(name), 0) << name;
}

TEST(Locale, LcAllThenLcMessagesThenLang) {
    auto set = [](const char* all, const char* messages, const char* lang) {
        auto put = [](const char* var, const char* v) { v ? setenv(var, v, 1) : unsetenv(var); };
        put("LC_ALL", all);
        put("LC_MESSAGES", messages);
        put("LANG", lang);
    };
    set(nullptr, nullptr, "ru_RU.UTF-8");
    EXPECT_EQ(rk::UserLanguageId(), 1049);
    set(nullptr, "de_DE.UTF-8", "ru_RU.UTF-8");
    EXPECT_EQ(rk::UserLanguageId(), 1031);
    set("en_US.UTF-8", "de_DE.UTF-8", "ru_RU.UTF-8");
    EXPECT_EQ(rk::UserLanguageId(), 1033);
    set("", "", "ru_RU.UTF-8");  // empty values do not count
    EXPECT_EQ(rk::UserLanguageId(), 1049);
    set(nullptr, nullptr, nullptr);
    EXPECT_EQ(rk::UserLanguageId(), 0);
}

}  // namespace
