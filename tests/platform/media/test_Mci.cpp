// The MCI command strings of the player over a fake host: no windows, no clock.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/media/Mci.h"
#include "support/AviFiles.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace tarnel;
using namespace tarnel::test;

namespace {

constexpr uint64_t kParent = 4242;

class FakeWindow : public MciVideoWindow {
public:
    void Place(const Rect& rect) override { placed.push_back(rect); }
    void ShowFrame(const Bitmap& frame) override {
        shown.push_back(frame.width() > 0 ? frame.scanline(0)[0] : -1);  // blue of the first pixel
        sizes.push_back({frame.width(), frame.height()});
    }
    void Clear() override { ++cleared; }
    std::vector<Rect> placed;
    std::vector<int> shown;
    std::vector<std::pair<int, int>> sizes;
    int cleared = 0;
};

class FakeHost : public MciHost {
public:
    MciVideoWindow* WindowFor(uint64_t parentHandle) override { return parentHandle == kParent ? &window : nullptr; }
    bool WaitUntil(int64_t milliseconds) override {
        waits.push_back(milliseconds);
        return stopAfter < 0 || int(waits.size()) < stopAfter;
    }
    FakeWindow window;
    std::vector<int64_t> waits;
    int stopAfter = -1;  // WaitUntil answers false from this call on
};

class Mci : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg tool";
        AviRecipe recipe;
        recipe.width = 40;
        recipe.height = 30;
        recipe.frames = 5;
        recipe.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
        ASSERT_TRUE(makeAvi(path_, recipe));
    }
    std::string openCommand(const std::string& alias = "video") const {
        return "open \"" + path_ + "\" type avivideo alias " + alias + " parent " + std::to_string(kParent) +
               " Style 1073741824";
    }
    std::string where(uint32_t length = 64) {
        std::vector<char> reply(length + 1, 'x');
        last_ = devices_.SendString("Where video destination", reply.data(), length);
        EXPECT_EQ(reply[length], 'x') << "wrote past the reply buffer";
        return std::string(reply.data());
    }

    TempDir dir_;
    std::string path_ = dir_.file("with blank.avi");
    FakeHost host_;
    MciDevices devices_{host_};
    uint32_t last_ = 0;
};

TEST_F(Mci, ThePlayersSequence) {
    ASSERT_EQ(devices_.SendString(openCommand()), 0u);
    EXPECT_EQ(where(), "0 0 40 30");
    EXPECT_EQ(last_, 0u);
    ASSERT_EQ(devices_.SendString("put video window at 0 0 40 30"), 0u);
    ASSERT_EQ(host_.window.placed.size(), 1u);
    EXPECT_EQ(host_.window.placed[0].right, 40);
    EXPECT_EQ(host_.window.placed[0].bottom, 30);

    ASSERT_EQ(devices_.SendString("play video wait"), 0u);
    // Five frames at 10 per second, then the end of the last one.
    EXPECT_EQ(host_.waits, (std::vector<int64_t>{0, 100, 200, 300, 400, 500}));
    std::vector<int> firstBlues;
    for (int k = 0; k < 5; ++k) firstBlues.push_back(testFrameBgr(40, 30, k)[0]);
    EXPECT_EQ(host_.window.shown, firstBlues);
    EXPECT_EQ(host_.window.sizes.front(), std::make_pair(40, 30));

    ASSERT_EQ(devices_.SendString("close video"), 0u);
    EXPECT_EQ(host_.window.cleared, 1);
    EXPECT_EQ(devices_.SendString("close video"), MCIERR_INVALID_DEVICE_NAME);
    // The alias is free again.
    EXPECT_EQ(devices_.SendString(openCommand()), 0u);
}

TEST_F(Mci, KeywordsAndAliasesIgnoreCase) {
    ASSERT_EQ(devices_.SendString("OPEN \"" + path_ + "\" TYPE AviVideo ALIAS Video PARENT 4242 STYLE 1073741824"), 0u);
    EXPECT_EQ(where(), "0 0 40 30");
    EXPECT_EQ(devices_.SendString("CLOSE VIDEO"), 0u);
}

TEST_F(Mci, ReplyIsCutToTheBuffer) {
    ASSERT_EQ(devices_.SendString(openCommand()), 0u);
    EXPECT_EQ(where(5), "0 0 ");  // four characters and the terminator
    EXPECT_EQ(where(1), "");
    EXPECT_EQ(devices_.SendString("where video destination", nullptr, 0), 0u);
}

TEST_F(Mci, PlayStopsWhenTheHostSaysSoAndEndsAtTheEnd) {
    ASSERT_EQ(devices_.SendString(openCommand()), 0u);
    host_.stopAfter = 3;
    EXPECT_EQ(devices_.SendString("play video wait"), 0u);
    EXPECT_EQ(host_.window.shown.size(), 2u);
    // Playing again goes on from where it stopped.
    host_.stopAfter = -1;
    host_.waits.clear();
    EXPECT_EQ(devices_.SendString("play video wait"), 0u);
    EXPECT_EQ(host_.window.shown.size(), 5u);
    EXPECT_EQ(host_.waits.front(), 0);
    // At the end a play shows nothing more.
    EXPECT_EQ(devices_.SendString("play video wait"), 0u);
    EXPECT_EQ(host_.window.shown.size(), 5u);
}

struct BadCommand {
    const char* command;  // "$PATH" stands for the test video, "$OTHER" for a file that is no video
    uint32_t error;
};

TEST_F(Mci, BadCommandsAnswerAnErrorAndChangeNothing) {
    const std::string other = dir_.file("notes.avi");
    writeText(other, "this is not a video");
    const BadCommand cases[] = {
        {"", MCIERR_UNRECOGNIZED_COMMAND},
        {"stop video", MCIERR_UNRECOGNIZED_COMMAND},
        {"open \"$PATH\" type avivideo alias video parent 4242 Style 1073741824", MCIERR_DEVICE_OPEN},
        {"open \"$PATH\" type avivideo alias second parent 4242 colour 7", MCIERR_UNRECOGNIZED_KEYWORD},
        {"open \"$PATH\" type avivideo parent 4242", MCIERR_MISSING_PARAMETER},
        {"open \"$PATH\" type avivideo alias second parent", MCIERR_MISSING_PARAMETER},
        {"open \"$PATH\" alias second parent 4242", MCIERR_MISSING_PARAMETER},
        {"open \"$PATH\" type waveaudio alias second parent 4242", MCIERR_INVALID_DEVICE_NAME},
        {"open \"$PATH\" type avivideo alias second parent four", MCIERR_BAD_INTEGER},
        {"open \"$PATH\" type avivideo alias second parent 99", MCIERR_NO_WINDOW},
        {"open \"$PATH type avivideo alias second parent 4242", MCIERR_MISSING_PARAMETER},
        {"open \"/no/such/file.avi\" type avivideo alias second parent 4242", MCIERR_FILE_NOT_FOUND},
        {"open \"$OTHER\" type avivideo alias second parent 4242", MCIERR_INVALID_FILE},
        {"open", MCIERR_MISSING_PARAMETER},
        {"where second destination", MCIERR_INVALID_DEVICE_NAME},
        {"where video", MCIERR_MISSING_PARAMETER},
        {"where video source", MCIERR_UNRECOGNIZED_KEYWORD},
        {"put video window at 0 0 40", MCIERR_MISSING_PARAMETER},
        {"put video window at 0 0 40 x", MCIERR_BAD_INTEGER},
        {"put video window at 0 0 -4 30", MCIERR_BAD_INTEGER},
        {"put video destination at 0 0 40 30", MCIERR_UNRECOGNIZED_KEYWORD},
        {"play video", MCIERR_MISSING_PARAMETER},
        {"play video notify", MCIERR_UNRECOGNIZED_KEYWORD},
        {"play", MCIERR_MISSING_PARAMETER},
        {"close video now", MCIERR_UNRECOGNIZED_KEYWORD},
    };
    ASSERT_EQ(devices_.SendString(openCommand()), 0u);
    for (const BadCommand& c : cases) {
        std::string command = c.command;
        for (auto [key, value] : {std::pair<std::string, std::string>{"$PATH", path_}, {"$OTHER", other}})
            if (auto at = command.find(key); at != std::string::npos) command.replace(at, key.size(), value);
        SCOPED_TRACE(command);
        char reply[32] = "unchanged?";
        EXPECT_EQ(devices_.SendString(command, reply, sizeof reply), c.error);
        EXPECT_STREQ(reply, "");
    }
    // Nothing was placed, shown or closed, no second device came into being,
    // and the first still answers.
    EXPECT_TRUE(host_.window.placed.empty());
    EXPECT_TRUE(host_.window.shown.empty());
    EXPECT_EQ(host_.window.cleared, 0);
    EXPECT_EQ(devices_.SendString("close second"), MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(where(), "0 0 40 30");
}

}  // namespace
