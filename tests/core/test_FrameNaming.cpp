#include <gtest/gtest.h>

#include <string>

#include "core/FrameNaming.h"

using namespace tarnel;

TEST(FrameNaming, NamesFoldersAndFrames) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    EXPECT_EQ(FrameFolderName(t), "20261206-09-05-07");
    EXPECT_EQ(FrameFileName(0, kSaveBmp), "000.bmp");
    EXPECT_EQ(FrameFileName(12, kSaveJpg), "012.jpg");
    EXPECT_EQ(FrameFileName(100, kSaveGif), "100.gif");
    EXPECT_EQ(FrameFileName(7, kSavePng), "007.png");
    EXPECT_EQ(FrameFileName(7, 4), "007");  // a kind that saves nothing
}

// Only folders a run made are searched for a killed run's files.
TEST(FrameNaming, RecognisesTheFoldersRunsMake) {
    const struct {
        const char* name;
        bool frameFolder;
    } cases[] = {
        {"20261206-09-05-07", true},     {"20261206-09-05-07-2", true},  {"20261206-09-05-07-12", true},
        {"20261206-09-05-07-", false},   {"20261206-09-05-07x", false},  {"20261206-09-05-07-2a", false},
        {"2026120-09-05-07", false},     {"20261206-09-05-0a", false},   {"20261206 09-05-07", false},
        {"photos", false},               {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsFrameFolderName(c.name), c.frameFolder) << c.name;
}

// The names a project file and --kind take; the frames carry them as extensions.
TEST(FrameNaming, KindNamesParseExactly) {
    const struct {
        const char* name;
        int kind;  // -1: refused
    } cases[] = {{"bmp", kSaveBmp}, {"jpg", kSaveJpg}, {"gif", kSaveGif}, {"png", kSavePng}, {"BMP", -1}, {"jpeg", -1}, {".gif", -1}, {"", -1}};
    for (const auto& c : cases) {
        int kind = 99;
        EXPECT_EQ(ParseSaveKindName(c.name, kind), c.kind >= 0) << c.name;
        EXPECT_EQ(kind, c.kind >= 0 ? c.kind : 99) << c.name;
        if (c.kind >= 0) {
            EXPECT_EQ(FrameFileName(1, c.kind), std::string("001.") + c.name);
        }
    }
    EXPECT_EQ(SaveKindName(4), "");
}
