// Language packs: the embedded Russian pack, the document rules (keys,
// escapes, the 10-translation limit, missing attributes) and damaged input.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/dialog_texts.h"
#include "base/string_table.h"
#include "base/texts.h"
#include "base/translate.h"
#include "ui/scripted_operator.h"

using rk::CTranslate;

namespace {

class TranslateTest : public ::testing::Test {
protected:
    void TearDown() override { CTranslate::Instance().Clear(); }
    static bool Load(const std::string& xml) { return CTranslate::Instance().LoadFromMemory(xml.data(), xml.size()); }
    static std::string Pack(const std::string& translations) {
        return "<?xml version=\"1.0\"?><language_pack><original><strings/></original><translations>" +
               translations + "</translations></language_pack>";
    }
};

TEST_F(TranslateTest, KeysFollowTheDialogAndStringRules) {
    EXPECT_EQ(CTranslate::DialogKey(102, 0), 0x80660000u);
    EXPECT_EQ(CTranslate::DialogKey(102, 2012), 0x806607DCu);
    EXPECT_EQ(CTranslate::DialogKey(102, 2021), 0x806607E5u);
    EXPECT_EQ(CTranslate::DialogKey(135, 1002), 0x808703EAu);
    // Only 14 bits of the dialog id count.
    EXPECT_EQ(CTranslate::DialogKey(102 + 0x4000, 7), CTranslate::DialogKey(102, 7));
    EXPECT_EQ(CTranslate::StringKey(10013), 0xC000271Du);
}

TEST_F(TranslateTest, EmbeddedRussianPackTranslatesStringsAndDialogs) {
    CTranslate& t = CTranslate::Instance();
    ASSERT_TRUE(t.LoadPacks());
    ASSERT_EQ(t.Count(), 1u);
    EXPECT_EQ(t.At(0).name, "Russian");
    EXPECT_EQ(t.At(0).languageId, 1049);

    // Before a language is chosen, and for a language without a pack, English shows.
    EXPECT_EQ(rk::LoadText(rk::IDS_ACCESS_DENIED), "Access denied!");
    EXPECT_EQ(t.ChooseLanguage(1031), 0);
    EXPECT_EQ(rk::LoadText(rk::IDS_ACCESS_DENIED), "Access denied!");
    EXPECT_EQ(rk::DialogText(rk::IDD_MAIN, 2021), "Refresh");

    EXPECT_EQ(t.ChooseLanguage(1049), 1);
    std::string text;
    ASSERT_TRUE(t.FindCurrent(0xC000271D, text));
    EXPECT_EQ(text, "Доступ запрещён!");
    EXPECT_EQ(rk::LoadText(10013), "Доступ запрещён!");
    EXPECT_EQ(rk::DialogText(rk::IDD_MAIN, 2021), "Обновить");
    // A line feed written as backslash-n in the document is a real line feed.
    EXPECT_EQ(rk::LoadText(rk::IDS_MEDIA_WRITE_ERROR),
              "Ошибка записи на носитель!\nУбедитесь, что носитель не защищён от записи.");
    EXPECT_EQ(rk::FormatText(rk::IDS_CARD_LINE, "HD 1080p50", "1.2 GB", "7.4 GB", 16),
              "HD 1080p50, свободно 1.2 GB из 7.4 GB (16%)");

    // The access-denied error goes through the same lookup.
    rk::CScriptedOperator op;
    rk::ErrorById(op, rk::IDS_ACCESS_DENIED);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, "Доступ запрещён!");
    EXPECT_EQ(op.messages[0].icon, rk::kIconError);
}

TEST_F(TranslateTest, EmbeddedPackCoversEveryTextAndMatchesTheTables) {
    CTranslate& t = CTranslate::Instance();
    ASSERT_TRUE(t.LoadPacks());
    ASSERT_EQ(t.Count(), 1u);
    const rk::CTranslation& ru = t.At(0);
    std::string text;
    for (size_t i = 0; i < rk::kStringTableSize; ++i) {
        const rk::StringEntry& e = rk::kStringTable[i];
        EXPECT_TRUE(ru.Find(CTranslate::StringKey(e.id), text)) << "string " << e.id;
        EXPECT_FALSE(text.empty()) << e.id;
        if (i > 0) {
            EXPECT_LT(rk::kStringTable[i - 1].id, e.id) << "table out of order at " << e.id;
        }
    }
    std::set<std::pair<int, int>> keys;
    for (size_t i = 0; i < rk::kDialogTextsSize; ++i) {
        const rk::DialogTextEntry& e = rk::kDialogTexts[i];
        EXPECT_TRUE(keys.insert({e.dialog, e.control}).second) << e.dialog << "/" << e.control;
        EXPECT_TRUE(ru.Find(CTranslate::DialogKey(e.dialog, e.control), text)) << e.dialog << "/" << e.control;
    }
    // Every string id lies in the operation range (or is the title).
    for (size_t i = 0; i < rk::kStringTableSize; ++i) {
        int id = rk::kStringTable[i].id;
        EXPECT_TRUE((id >= rk::kFirstOperationStringId && id <= rk::kLastOperationStringId) || id == rk::IDS_APP_TITLE)
            << id;
    }
    // Translations take the same arguments as the English texts.
    t.ChooseLanguage(1049);
    EXPECT_EQ(rk::FormatText(rk::IDS_NOT_ENOUGH_SPACE, "12 MB"), "Недостаточно места на носителе!\nНужно ещё 12 MB.");
    EXPECT_EQ(rk::FormatText(rk::IDS_DELETE_VIDEO_USED, 3),
              "Это видео используется в списках воспроизведения: 3.\n\nУдалить видео?");
}

TEST_F(TranslateTest, BackslashEscapesBecomeLineFeedsAndTabs) {
    ASSERT_TRUE(Load(Pack(R"(<translation name="X" id="7"><resources>
        <string id="C0002775">one\ntwo</string>
        <string id="C0002776">a\tb \\ c\x</string>
      </resources></translation>)")));
    CTranslate::Instance().ChooseLanguage(7);
    EXPECT_EQ(rk::LoadText(10101), "one\ntwo");
    // Only \n and \t are special; other backslashes stay.
    EXPECT_EQ(rk::LoadText(10102), "a\tb \\\\ c\\x");
}

TEST_F(TranslateTest, EleventhTranslationIsIgnoredAndTheFirstMatchWins) {
    std::string xml;
    for (int i = 1; i <= 11; ++i)
        xml += "<translation name=\"L" + std::to_string(i) + "\" id=\"" + std::to_string(i == 11 ? 1049 : 1000 + i) +
               "\"><resources><string id=\"C000271D\">t" + std::to_string(i) + "</string></resources></translation>";
    xml += "<translation name=\"dup\" id=\"1003\"/>";
    ASSERT_TRUE(Load(Pack(xml)));
    CTranslate& t = CTranslate::Instance();
    EXPECT_EQ(t.Count(), 10u);
    EXPECT_EQ(t.ChooseLanguage(1049), 0);  // only the 11th had it
    EXPECT_EQ(rk::LoadText(10013), "Access denied!");
    EXPECT_EQ(t.ChooseLanguage(1003), 3);
    EXPECT_EQ(rk::LoadText(10013), "t3");
}

TEST_F(TranslateTest, MissingAttributesCountAsZeroOrEmpty) {
    ASSERT_TRUE(Load(Pack(R"(<translation><resources>
        <string>no id</string>
        <string id="C000271D"/>
        <string id="zz">bad hex</string>
        <string id="c0002775">lower case hex</string>
      </resources><strings><string>numbered</string><string id="12">twelve</string></strings></translation>)")));
    CTranslate& t = CTranslate::Instance();
    ASSERT_EQ(t.Count(), 1u);
    EXPECT_EQ(t.At(0).name, "");
    EXPECT_EQ(t.At(0).languageId, 0);
    std::string text;
    EXPECT_TRUE(t.At(0).Find(0, text));  // both "no id" and "bad hex" land under key 0; the later wins
    EXPECT_EQ(text, "bad hex");
    EXPECT_EQ(t.At(0).strings.at(0), "numbered");
    EXPECT_EQ(t.At(0).strings.at(12), "twelve");
    // A translation with id 0 is chosen only for language 0 (an unknown locale).
    EXPECT_EQ(t.ChooseLanguage(0), 1);
    // A key without a text keeps the built-in text.
    EXPECT_EQ(rk::LoadText(10013), "Access denied!");
    EXPECT_EQ(rk::LoadText(10101), "lower case hex");
}

TEST_F(TranslateTest, LaterStringWithTheSameKeyReplacesTheEarlier) {
    ASSERT_TRUE(Load(Pack(R"(<translation name="X" id="5"><resources>
        <string id="806607E5">first</string><string id="806607E5">second</string>
      </resources></translation>)")));
    CTranslate::Instance().ChooseLanguage(5);
    EXPECT_EQ(rk::DialogText(102, 2021), "second");
    // A control without a translation keeps its template text.
    std::string text;
    EXPECT_FALSE(rk::TranslatedDialogText(102, 2002, text));
    EXPECT_EQ(rk::DialogText(102, 2002), "Format");
    EXPECT_EQ(rk::DialogText(102, 9999), "");
}

TEST_F(TranslateTest, OriginalNumberedStringsAreLoaded) {
    ASSERT_TRUE(Load(R"(<language_pack><original><strings>
        <string id="100">hundred</string><string id="-3">minus</string></strings></original></language_pack>)"));
    EXPECT_EQ(CTranslate::Instance().OriginalStrings().at(100), "hundred");
    EXPECT_EQ(CTranslate::Instance().OriginalStrings().at(-3), "minus");
    EXPECT_EQ(CTranslate::Instance().Count(), 0u);
}

TEST_F(TranslateTest, TranslationWithOtherPlaceholdersFallsBackToEnglish) {
    ASSERT_TRUE(Load(Pack(R"(<translation name="X" id="5"><resources>
        <string id="C0002725">Нужно %s %s %n</string>
        <string id="C000273F">пусто %s</string>
        <string id="C000277B">%s/%s/%s %d%%</string>
      </resources></translation>)")));
    CTranslate::Instance().ChooseLanguage(5);
    EXPECT_EQ(rk::FormatText(rk::IDS_NOT_ENOUGH_SPACE, "5 MB"), "Not enough space on media!\n5 MB more needed.");
    EXPECT_EQ(rk::FormatText(rk::IDS_PLAYLIST_EMPTY, 4), "Playlist 4 - empty");
    EXPECT_EQ(rk::FormatText(rk::IDS_CARD_LINE, "a", "b", "c", 5), "a/b/c 5%");
    // LoadText itself still answers the translation.
    EXPECT_EQ(rk::LoadText(rk::IDS_PLAYLIST_EMPTY), "пусто %s");
}

TEST_F(TranslateTest, DamagedDocumentsLoadNothingAndNeverFail) {
    const char* bad[] = {
        "",
        "<language_pack>",
        "<language_pack><translations><translation id=\"1049\"></translations></language_pack>",
        "not xml at all",
        "<?xml version=\"1.0\"?><a><b></a>",
        "\xEF\xBB\xBF<language_pack><translations><translation id=\"1049\"><resources>"
        "<string id=\"C000271D\">x</string></resources></translation></translations></language_pack><trailing",
    };
    for (const char* doc : bad) {
        EXPECT_FALSE(Load(doc)) << doc;
        EXPECT_EQ(CTranslate::Instance().Count(), 0u);
        EXPECT_EQ(CTranslate::Instance().ChooseLanguage(1049), 0);
        EXPECT_EQ(rk::LoadText(10013), "Access denied!");
    }
    EXPECT_FALSE(CTranslate::Instance().LoadFromMemory(nullptr, 0));
    // A well-formed document of another shape loads nothing.
    EXPECT_TRUE(Load("<other><translations><translation id=\"1049\"/></translations></other>"));
    EXPECT_EQ(CTranslate::Instance().Count(), 0u);
}

TEST_F(TranslateTest, EveryTruncationOfTheEmbeddedDocumentIsSafe) {
    size_t size = 0;
    const char* doc = CTranslate::EmbeddedDocument(size);
    ASSERT_GT(size, 1000u);
    for (size_t n = 0; n < size; n += 131) {
        std::string part(doc, n);
        Load(part);  // either loads something or nothing; never crashes
        CTranslate::Instance().ChooseLanguage(1049);
        std::string s = rk::LoadText(10013);
        EXPECT_FALSE(s.empty());
    }
    // Flipped bytes too.
    std::string copy(doc, size);
    for (size_t i = 0; i < size; i += 257) {
        std::string damaged = copy;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
        Load(damaged);
        CTranslate::Instance().ChooseLanguage(1049);
        EXPECT_FALSE(rk::LoadText(10013).empty());
    }
}

TEST_F(TranslateTest, UnknownIdIsEmptyAndFalse) {
    std::string text = "junk";
    EXPECT_FALSE(rk::LoadText(4242, text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(rk::FormatText(4242, 1), "");
    EXPECT_EQ(rk::LoadText(rk::IDS_APP_TITLE), "Reelkeep");
    EXPECT_EQ(rk::LoadText(rk::IDS_YUV_FULL), "Full");
    EXPECT_EQ(rk::LoadText(rk::IDS_SPEED_SLOW5), "Slow x5");
}

TEST_F(TranslateTest, MessageByIdFormatsTheLoadedText) {
    rk::CScriptedOperator op;
    op.answers = {rk::kResultNo};
    rk::MsgResult r = rk::MessageById(op, rk::kMsgQuestion, rk::kIconQuestion, rk::IDS_CLEAR_PLAYLIST_QUESTION, 3);
    EXPECT_EQ(r, rk::kResultNo);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, "Clear playlist 3?");
    EXPECT_EQ(op.messages[0].kind, rk::kMsgQuestion);
}

}  // namespace
