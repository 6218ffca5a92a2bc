// The conventions every command of reelkeep-cli keeps, as tables: wrong usage
// exits 2, a failure names its file or card and the cause, the one message
// prefix, --json listings carry the tab-separated values, and an existing
// output is never overwritten without a Yes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "convert/tool_folder.h"
#include "media_fixture.h"
#include "support/cli_run.h"

namespace rk {
namespace {

using Result = test::CliResult;

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class CliConventions : public ::testing::Test {
protected:
    Result Cli(const std::string& args) {
        return test::RunCli(args, test::Stderr::kApart,
                            "REELKEEP_CARD_DIR='" + dir.Path() + "' REELKEEP_EXTRA_DEVICES=");
    }
    std::string Q(const std::string& name) { return "'" + dir.File(name) + "'"; }

    // A formatted 48 MB card with two videos.
    void MakeCard() {
        ASSERT_EQ(Cli("create-image " + Q("c.img") + " --size 48M").status, 0);
        ASSERT_EQ(Cli("format " + Q("c.img") + " --mode 0 --yes").status, 0);
        src = dir.File("clip.kavq1");
        ASSERT_TRUE(test::WriteSyntheticKAVQ1(src, 0, 4));
        ASSERT_EQ(Cli("-y add-video " + Q("c.img") + " '" + src + "'").status, 0);
        // Every add gives the new item's number on standard output, -q or not.
        Result second = Cli("add-video " + Q("c.img") + " '" + src + "' --name 'Two \"quoted\"' -y -q");
        ASSERT_EQ(second.status, 0);
        EXPECT_EQ(second.out, "2\n");
        EXPECT_EQ(second.err, "");
    }

    test::TempDir dir;
    std::string src;
};

TEST_F(CliConventions, EveryUsageErrorExitsTwo) {
    MakeCard();
    const std::vector<std::string> usage = {
        "",
        "no-such-command",
        "--no-such-option list",
        "list --no-such-option",
        "create-image " + Q("x.img") + " --size 12Q",        // bad size
        "create-image " + Q("x.img") + " --size 512001M",    // over the limit
        "create-image " + Q("x.img") + " --size 1K",         // under the directory
        "format " + Q("c.img") + " --mode 9 --yes",          // mode out of range
        "read-video " + Q("c.img") + " two " + Q("o.kavq1"), // bad number
        "read-video " + Q("c.img"),                          // missing arguments
        "add-video " + Q("c.img") + " x --range half",
        "videos " + Q("c.img") + " --no-json",
    };
    for (const auto& args : usage) {
        Result r = Cli(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("reelkeep-cli", 0), 0u) << args << "\n" << r.err;
    }
    Result unknown = Cli("no-such-command");
    EXPECT_NE(unknown.err.find("reelkeep-cli: unknown command 'no-such-command'"), std::string::npos) << unknown.err;
    EXPECT_EQ(Cli("create-image " + Q("x.img") + " --size 512001M").err.rfind("reelkeep-cli create-image: ", 0), 0u);
    EXPECT_FALSE(test::FileExists(dir.File("x.img")));
}

TEST_F(CliConventions, FailuresNameTheirFileOrCardAndCause) {
    MakeCard();
    ASSERT_EQ(Cli("create-image " + Q("blank.img") + " --size 64M").status, 0);
    struct Case {
        std::string args, prefix, named, cause;
    };
    const std::string missing = dir.File("clips/intro.mp4");
    const std::vector<Case> cases = {
        {"add-video " + Q("c.img") + " '" + missing + "' --yes", "reelkeep-cli add-video: error: ", missing,
         "No such file or directory"},
        {"read-video " + Q("c.img") + " 1 '" + dir.File("nofolder/out.kavq1") + "'", "reelkeep-cli read-video: error: ",
         dir.File("nofolder"), "No such file or directory"},
        {"export '" + src + "' '" + dir.File("nofolder/out.mov") + "'", "reelkeep-cli export: error: ",
         dir.File("nofolder"), "No such file or directory"},
        {"defrag " + Q("blank.img") + " --yes", "reelkeep-cli defrag: error: ", dir.File("blank.img"), "format it first"},
        {"videos " + Q("blank.img"), "reelkeep-cli videos: error: ", dir.File("blank.img"), "format it first"},
        {"info " + Q("none.img"), "reelkeep-cli info: error: ", dir.File("none.img"), "No such file or directory"},
        {"read-video " + Q("c.img") + " 7 " + Q("o.kavq1"), "reelkeep-cli read-video: error: ", dir.File("c.img"),
         "no video 7"},
        // Each cause is the one of its own failure, said once.
        {"add-video " + Q("c.img") + " " + Q("notes.mp4") + " --yes", "Can't open video file! (" + dir.File("notes.mp4"),
         "ffprobe cannot read it", "not a video"},
        {"info " + Q("six.img"), "reelkeep-cli info: error: ", dir.File("six.img") + ": 6 bytes, too small for a card",
         "36864 bytes"},
        {"restore " + Q("none.img") + " " + Q("c.img") + " -y", "reelkeep-cli restore: error: ",
         "(" + dir.File("none.img") + ": No such file or directory)", "No such"},
    };
    ASSERT_TRUE(test::WriteFile(dir.File("notes.mp4"), "not a video at all\n"));
    ASSERT_TRUE(test::WriteFile(dir.File("six.img"), "abcdef"));
    for (const auto& c : cases) {
        Result r = Cli(c.args);
        EXPECT_EQ(r.status, 1) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.prefix), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << c.args << "\n" << r.err;
        // No file named twice over, no error line without its cause.
        EXPECT_EQ(r.err.find(c.named + ": " + c.named), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("cause: "), std::string::npos) << r.err;
    }
}

TEST_F(CliConventions, ExistingOutputsAreOverwrittenOnlyAfterYes) {
    MakeCard();
    struct Case {
        std::string command, out;
    };
    const std::vector<Case> cases = {
        {"read-video " + Q("c.img") + " 1", "back.kavq1"},
        {"thumbnail " + Q("c.img") + " 1", "t.png"},
    };
    for (const auto& c : cases) {
        const std::string out = dir.File(c.out);
        { std::ofstream(out) << "keep me"; }
        Result no = Cli(c.command + " '" + out + "'");
        EXPECT_EQ(no.status, 1) << c.command << no.err;
        EXPECT_NE(no.err.find("exists"), std::string::npos) << no.err;
        EXPECT_EQ(Slurp(out), "keep me") << c.command;
        EXPECT_EQ(Cli(c.command + " '" + out + "' --yes").status, 0) << c.command;
        EXPECT_NE(Slurp(out), "keep me") << c.command;
    }
    EXPECT_EQ(test::ReadFileBytes(dir.File("back.kavq1")), test::ReadFileBytes(src));
    // decode keeps the same rule (it once replaced any file without asking).
    const std::string encoded = dir.File("enc.kavq1"), raw = dir.File("d.yuv");
    ASSERT_TRUE(test::WriteEncodedKAVQ1(encoded, 1));
    { std::ofstream(raw) << "keep me"; }
    EXPECT_EQ(Cli("decode '" + encoded + "' '" + raw + "'").status, 1);
    EXPECT_EQ(Slurp(raw), "keep me");
    EXPECT_EQ(Cli("decode '" + encoded + "' '" + raw + "' -y").status, 0);
    EXPECT_EQ(Slurp(raw).size(), 1920u * 1080 * 3 / 2);
    // The thumbnail is the 120 x 67 the maker made, without the filler row.
    auto png = test::ReadFileBytes(dir.File("t.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png[19], 120);
    EXPECT_EQ(png[23], 67);
}

// The values of a "key":value pair in a JSON text, in order.
std::vector<std::string> JsonValues(const std::string& json, const std::string& key) {
    std::vector<std::string> values;
    const std::string k = "\"" + key + "\":";
    for (size_t at = json.find(k); at != std::string::npos; at = json.find(k, at + 1)) {
        size_t v = at + k.size();
        if (json[v] == '"') {
            std::string s;
            for (size_t i = v + 1; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\') ++i;
                s += json[i];
            }
            values.push_back(s);
        } else {
            values.push_back(json.substr(v, json.find_first_of(",}", v) - v));
        }
    }
    return values;
}

std::vector<std::vector<std::string>> TabRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        std::vector<std::string> cols;
        size_t c = 0;
        for (size_t t; (t = line.find('\t', c)) != std::string::npos; c = t + 1) cols.push_back(line.substr(c, t - c));
        cols.push_back(line.substr(c));
        rows.push_back(cols);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return rows;
}

TEST_F(CliConventions, JsonListingsCarryTheTabSeparatedValues) {
    MakeCard();
    Result tsv = Cli("videos " + Q("c.img"));
    Result json = Cli("videos " + Q("c.img") + " --json");
    ASSERT_EQ(tsv.status, 0);
    ASSERT_EQ(json.status, 0);
    auto rows = TabRows(tsv.out);
    ASSERT_EQ(rows.size(), 2u) << tsv.out;
    // One value a column: number, entry, name, duration, bytes, start, frames.
    for (const auto& row : rows) ASSERT_EQ(row.size(), 7u) << tsv.out;
    EXPECT_EQ(rows[1][2], "Two \"quoted\"");
    EXPECT_EQ(rows[0][3], "0:00:00.04");
    const char* keys[] = {"number", "entry", "name", "duration", "bytes", "startCluster", "frames"};
    for (int k = 0; k < 7; ++k) {
        auto values = JsonValues(json.out, keys[k]);
        ASSERT_EQ(values.size(), 2u) << keys[k] << json.out;
        for (int r = 0; r < 2; ++r) EXPECT_EQ(values[r], rows[r][k]) << keys[k];
    }
    EXPECT_EQ(json.out.front(), '[');

    Result info = Cli("info " + Q("c.img") + " --json");
    ASSERT_EQ(info.status, 0);
    EXPECT_EQ(JsonValues(info.out, "videos"), std::vector<std::string>{"2"}) << info.out;
    EXPECT_EQ(JsonValues(info.out, "modeName"), std::vector<std::string>{"HD 1080p50"}) << info.out;
    EXPECT_EQ(JsonValues(info.out, "formatted"), std::vector<std::string>{"true"});

    Result list = Cli("list --json");
    ASSERT_EQ(list.status, 0);
    EXPECT_EQ(JsonValues(list.out, "path"), std::vector<std::string>{dir.File("c.img")}) << list.out;

    // An empty card: nothing on standard output, the reason on standard error, status 0.
    ASSERT_EQ(Cli("create-image " + Q("e.img") + " --size 48M").status, 0);
    ASSERT_EQ(Cli("format " + Q("e.img") + " --yes").status, 0);
    Result empty = Cli("videos " + Q("e.img"));
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
    EXPECT_NE(empty.err.find("reelkeep-cli videos: " + dir.File("e.img") + ": no videos"), std::string::npos)
        << empty.err;
    EXPECT_EQ(Cli("videos " + Q("e.img") + " --json").out, "[]\n");
}

TEST_F(CliConventions, SwitchesBeforeOrAfterAndTheCardNamedBeforeQuestions) {
    MakeCard();
    // The question about formatting names the card first; without a terminal it answers No.
    Result no = Cli("format " + Q("c.img"));
    EXPECT_EQ(no.status, 1);
    EXPECT_NE(no.err.find("c.img, 48 MB, HD 1080p50: 2 videos"), std::string::npos) << no.err;
    // -q leaves only errors; -y before or after the command.
    Result quiet = Cli("-q defrag " + Q("c.img") + " -y");
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    // Packed already: said so, exit 0, no bar.
    Result packed = Cli("defrag " + Q("c.img"));
    EXPECT_EQ(packed.status, 0);
    EXPECT_NE(packed.err.find("nothing to compact"), std::string::npos) << packed.err;
    EXPECT_EQ(packed.err.find("progress"), std::string::npos) << packed.err;
    // The switches stand after nested actions too, and an action has its own help.
    EXPECT_EQ(Cli("playlist " + Q("c.img") + " 1 add 1 -q").status, 0);
    Result clear = Cli("playlist " + Q("c.img") + " 1 clear -y");
    EXPECT_EQ(clear.status, 0) << clear.err;
    Result help = Cli("playlist add --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Video number"), std::string::npos) << help.out;
    EXPECT_EQ(Cli("playlist add 1").status, 2);
    // -q: errors only, also where questions are answered, the card is shown
    // before them, or a copy reports its progress.
    ASSERT_EQ(Cli("playlist " + Q("c.img") + " 2 add 1").status, 0);
    for (const std::string& args : {
             "-q playlist " + Q("c.img") + " 2 clear -y",
             "backup " + Q("c.img") + " " + Q("b.img") + " -q",
             "restore " + Q("b.img") + " " + Q("c.img") + " -q -y",
             "delete " + Q("c.img") + " video 2 -y -q",
             "format " + Q("c.img") + " -q --yes",
         }) {
        Result r = Cli(args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
        EXPECT_EQ(r.err, "") << args;
    }
    // -v puts the log's notable events on standard error, whatever the log's level.
    Result verbose = Cli("info " + Q("c.img") + " -v");
    EXPECT_EQ(verbose.status, 0);
    EXPECT_NE(verbose.err.find("log: "), std::string::npos) << verbose.err;
}

// The catalogue's commands keep the same conventions: numbers outside the
// layout's ranges are wrong usage, failures name the card, outputs are kept
// without a Yes, listings have a JSON form with the same values, and the
// card is described before a question that deletes.
TEST_F(CliConventions, CatalogueCommandsKeepTheConventions) {
    if (!test::ToolsAvailable()) GTEST_SKIP() << "the tools are not beside the test programs";
    MakeCard();
    const std::string pic = dir.File("p.png");
    ASSERT_EQ(std::system(("'" + ProgramFile("ffmpeg") + "' -v error -f lavfi -i smptebars=size=320x180 -frames:v 1 '" +
                           pic + "'")
                              .c_str()),
              0);
    ASSERT_EQ(Cli("add-still " + Q("c.img") + " '" + pic + "' --yes").status, 0);
    ASSERT_EQ(Cli("add-still " + Q("c.img") + " '" + pic + "' --yes").status, 0);
    // A really encoded clip, so that its title card decodes.
    const std::string encoded = dir.File("enc.kavq1");
    ASSERT_TRUE(test::WriteEncodedKAVQ1(encoded, 3));
    ASSERT_EQ(Cli("add-video " + Q("c.img") + " '" + encoded + "' --yes").status, 0);
    ASSERT_EQ(Cli("playlist " + Q("c.img") + " 3 add 3").status, 0);

    for (const std::string& args : {
             "read-still " + Q("c.img") + " 33 " + Q("s.png"),
             "read-still " + Q("c.img") + " 0 " + Q("s.png"),
             "playlist " + Q("c.img") + " 17 add 1",
             "playlist " + Q("c.img") + " 1 swap 0",
             "swap " + Q("c.img") + " logo 1 9",
             "delete " + Q("c.img") + " effect 17 --yes",
             "title-card " + Q("c.img") + " 17 " + Q("t.png"),
             "read-logo " + Q("c.img") + " 9 " + Q("l.animlogo"),
             "read-effect " + Q("c.img") + " 0 " + Q("e.effect"),
         }) {
        Result r = Cli(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("reelkeep-cli ", 0), 0u) << args << "\n" << r.err;
    }

    struct Case {
        std::string args, named;
    };
    for (const Case& c : std::vector<Case>{
             {"read-still " + Q("c.img") + " 5 " + Q("s.png"), "still 5 is free"},
             {"delete " + Q("c.img") + " still 7 --yes", "still 7 is free"},
             {"playlist " + Q("c.img") + " 1 remove 1", "no clip 1"},
             {"playlist " + Q("c.img") + " 3 swap-clips 1 4", "no clip 4"},
             {"playlist " + Q("c.img") + " 1 add 4", "no video 4"},
             {"swap " + Q("c.img") + " effect 1 2", "effects 1 and 2 are both free"},
             {"read-logo " + Q("c.img") + " 1 " + Q("l.animlogo"), "logo 1 is free"},
             {"stills " + Q("none.img"), "No such file or directory"},
         }) {
        Result r = Cli(c.args);
        EXPECT_EQ(r.status, 1) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("reelkeep-cli ", 0), 0u) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(dir.File(c.args.rfind("stills", 0) == 0 ? "none.img" : "c.img")), std::string::npos)
            << c.args << "\n" << r.err;
    }

    for (const std::string& command : {"read-still " + Q("c.img") + " 2", "title-card " + Q("c.img") + " 3"}) {
        const std::string out = dir.File("kept.png");
        { std::ofstream(out) << "keep me"; }
        Result no = Cli(command + " '" + out + "'");
        EXPECT_EQ(no.status, 1) << command << no.err;
        EXPECT_EQ(Slurp(out), "keep me") << command;
        EXPECT_EQ(Cli(command + " '" + out + "' --yes").status, 0) << command;
        EXPECT_EQ(Slurp(out).substr(1, 3), "PNG") << command;
    }

    // Listings: the JSON form carries the tab-separated values.
    Result stills = Cli("stills " + Q("c.img")), stillsJson = Cli("stills " + Q("c.img") + " --json");
    auto rows = TabRows(stills.out);
    ASSERT_EQ(rows.size(), 2u) << stills.out;
    EXPECT_EQ(JsonValues(stillsJson.out, "number"), (std::vector<std::string>{rows[0][0], rows[1][0]}));
    EXPECT_EQ(JsonValues(stillsJson.out, "startCluster"), (std::vector<std::string>{rows[0][1], rows[1][1]}));
    Result lists = Cli("playlists " + Q("c.img")), listsJson = Cli("playlists " + Q("c.img") + " --json");
    rows = TabRows(lists.out);
    ASSERT_EQ(rows.size(), 16u) << lists.out;
    EXPECT_EQ(JsonValues(listsJson.out, "clips")[2], rows[2][1]);
    EXPECT_EQ(JsonValues(listsJson.out, "duration")[2], rows[2][2]);
    EXPECT_EQ(JsonValues(listsJson.out, "endMode")[2], rows[2][3]);
    EXPECT_NE(listsJson.out.find("\"videos\":[3]"), std::string::npos) << listsJson.out;
    for (const char* listing : {"logos", "effects"}) {
        Result empty = Cli(std::string(listing) + " " + Q("c.img"));
        EXPECT_EQ(empty.status, 0);
        EXPECT_EQ(empty.out, "");
        EXPECT_NE(empty.err.find(std::string("no ") + listing + " on the card"), std::string::npos) << empty.err;
        EXPECT_EQ(Cli(std::string(listing) + " " + Q("c.img") + " --json").out, "[]\n");
    }

    // A delete shows the card before its question (answered No here).
    Result del = Cli("delete " + Q("c.img") + " still 1");
    EXPECT_EQ(del.status, 1);
    EXPECT_NE(del.err.find("c.img, 48 MB, HD 1080p50: 3 videos, 2 stills, 1 playlist"), std::string::npos) << del.err;
    EXPECT_EQ(TabRows(Cli("stills " + Q("c.img")).out).size(), 2u);
}

}  // namespace
}  // namespace rk
