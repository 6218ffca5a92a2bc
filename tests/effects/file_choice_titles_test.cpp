// Every file an operation asks for is asked with a title that says what the
// choice is for, so the window's dialog can be titled by it ("Add video",
// "Read video to file") and a script can tell one question from the next.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "card/card_directory.h"
#include "convert/tool_folder.h"
#include "effects/effect_ops.h"
#include "effects/logo_ops.h"
#include "media/still_ops.h"
#include "media/video_ops.h"
#include "media/media_fixture.h"
#include "ui/scripted_operator.h"

namespace rk {
namespace {

TEST(FileChoiceTitles, EachOperationNamesItsFileChoice) {
    test::TempDir dir("rk-titles");
    const std::string image = dir.File("card.img");
    ASSERT_TRUE(test::MakeFormattedImage(image, 64, 0));
    CSDCard card;
    CScriptedOperator op;  // no files queued: every choice is cancelled
    card.SetOperator(&op);
    ASSERT_TRUE(test::OpenCard(card, image));
    // Entries to read back (their data is never reached: the choice is cancelled).
    const uint32_t first = uint32_t(card.FirstItemCluster());
    const uint16_t x = uint16_t(card.ClustersPerFrame());
    card.Directory().SetVideo(0, EntryHead{first, 1, x});
    card.Directory().SetLogo(0, EntryHead{first + 100, 1, x});
    card.Directory().SetEffect(1, EntryHead{first + 200, 1, x});
    card.Directory().SetStill(2, EntryHead{uint32_t(card.Regions().StillCluster(2)), 1, x});

    std::string remembered;
    struct Row {
        const char* what;
        std::function<void()> run;
        bool save;
        const char* title;
    };
    const Row rows[] = {
        {"add video", [&] { AddVideo(op, card, 1, remembered, {}); }, false, "Add video"},
        {"read video", [&] { ReadVideo(op, card, 0); }, true, "Read video to file"},
        {"add still", [&] { AddStill(op, card, remembered, {}); }, false, "Add still image"},
        {"add effect", [&] { AddEffect(op, card, 0, remembered); }, false, "Add effect"},
        {"add logo", [&] { AddLogo(op, card, 1, remembered, {}); }, false, "Add logo"},
        {"read logo", [&] { ReadLogo(op, card, 0); }, true, "Read logo to file"},
        {"read effect", [&] { ReadEffect(op, card, 1); }, true, "Read effect to file"},
        {"read still", [&] { ReadStill(op, card, 2); }, true, "Read still image to file"},
    };
    for (const Row& r : rows) {
        op.openChoices.clear();
        op.saveChoices.clear();
        r.run();
        const auto& choices = r.save ? op.saveChoices : op.openChoices;
        ASSERT_EQ(choices.size(), 1u) << r.what;
        EXPECT_EQ(choices[0].title, r.title) << r.what;
        EXPECT_FALSE(choices[0].filter.empty()) << r.what;
    }

    // The effect's sound is a choice of its own, asked once the pictures
    // have loaded and a type with sound was chosen.
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    const std::string picture = dir.File("sting_1.png");
    ASSERT_EQ(std::system(("'" + ProgramFile("ffmpeg") + "' -v error -nostdin -f lavfi -i color=c=red:s=64x36 "
                           "-vf format=rgba -frames:v 3 -start_number 1 '" + dir.File("sting_%d.png") + "'")
                              .c_str()),
              0);
    op.effectTypeAnswers = {CScriptedOperator::EffectTypeAnswer{true, 0, true}};  // a simple cut, with sound
    op.openChoices.clear();
    AddEffectFromPictures(op, card, 0, picture);  // no WAV is chosen: the sound is left out
    std::string said;
    for (const Message& m : op.messages) said += m.text + "\n";
    ASSERT_GE(op.openChoices.size(), 1u) << said;
    EXPECT_EQ(op.openChoices[0].title, "Add sound to the effect");
}

}  // namespace
}  // namespace rk
