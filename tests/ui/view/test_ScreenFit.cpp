// Where windows built around a picture go on a screen.
#include <gtest/gtest.h>

#include "ui/view/ScreenFit.h"

namespace tarnel {
namespace {

// The viewer's margins: 26 across, 36 for the path and controls plus the
// 20-pixel title strip, at least 269 wide.
constexpr WindowMargins kViewer{26, 56, 269, 0};
constexpr ScreenRect kScreen{0, 0, 1600, 1000};

struct FitCase {
    const char* name;
    int pictureW, pictureH;
    ScreenRect available;
    int shownW, shownH;
    ScreenRect window;
};

class FitPicture : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitPicture, ShownSizeAndWindow) {
    const FitCase& c = GetParam();
    const FittedWindow fit = FitPictureWindow(c.pictureW, c.pictureH, kViewer, kScreen, c.available);
    EXPECT_EQ(fit.pictureWidth, c.shownW);
    EXPECT_EQ(fit.pictureHeight, c.shownH);
    EXPECT_EQ(fit.window, c.window);
    EXPECT_EQ(fit.scale == 1.0, c.shownW == c.pictureW && c.shownH == c.pictureH);
    if (c.window.width <= c.available.width && c.window.height <= c.available.height) {
        EXPECT_TRUE(c.available.contains(fit.window));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitPicture,
    ::testing::Values(
        FitCase{"small", 200, 150, kScreen, 200, 150, {665, 397, 269, 206}},
        FitCase{"fits_exactly", 1574, 944, kScreen, 1574, 944, {0, 0, 1600, 1000}},
        FitCase{"one_pixel_too_wide", 1575, 944, kScreen, 1574, 943, {0, 0, 1600, 999}},
        FitCase{"one_pixel_too_tall", 1574, 945, kScreen, 1572, 944, {1, 0, 1598, 1000}},
        FitCase{"hd_frame", 1920, 1080, kScreen, 1574, 885, {0, 29, 1600, 941}},
        FitCase{"photo_4000x3000", 4000, 3000, kScreen, 1258, 944, {158, 0, 1284, 1000}},
        // A top panel of 32 pixels: the window is centred in what is left.
        FitCase{"hd_frame_under_a_panel", 1920, 1080, {0, 32, 1600, 968}, 1574, 885, {0, 45, 1600, 941}},
        // Fits the free area but the screen's centre would put it under the panel.
        FitCase{"fits_but_pushed_below_panel", 1574, 904, {0, 40, 1600, 960}, 1574, 904, {0, 40, 1600, 960}},
        // Too small for even the least window: the title's corner stays on screen.
        FitCase{"tiny_screen", 1920, 1080, {0, 0, 200, 100}, 78, 44, {0, 0, 269, 100}},
        FitCase{"smaller_than_the_margins", 1920, 1080, {0, 0, 20, 20}, 1, 1, {0, 0, 269, 57}}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

TEST(FitPicture, PlayerWindowIsTheVideoItself) {
    const FittedWindow fit = FitPictureWindow(320, 240, {}, kScreen, kScreen);
    EXPECT_EQ(fit.window, (ScreenRect{640, 380, 320, 240}));
    const FittedWindow big = FitPictureWindow(3840, 2160, {}, kScreen, kScreen);
    EXPECT_EQ(big.window, (ScreenRect{0, 50, 1600, 900}));
    EXPECT_DOUBLE_EQ(big.scale, 1600.0 / 3840.0);
}

struct PlaceCase {
    const char* name;
    int w, h;
    ScreenRect screen, available;
    ScreenRect window;
};

class Place : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(Place, CentredOnTheScreenAndKeptInItsFreeArea) {
    const PlaceCase& c = GetParam();
    EXPECT_EQ(PlaceWindow(c.w, c.h, c.screen, c.available), c.window);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Place,
    ::testing::Values(
        PlaceCase{"centred_halves_truncated", 269, 207, kScreen, kScreen, {665, 396, 269, 207}},
        PlaceCase{"second_screen", 100, 100, {1600, 0, 1280, 1024}, {1600, 0, 1280, 1024}, {2190, 462, 100, 100}},
        PlaceCase{"left_dock", 1500, 400, kScreen, {80, 0, 1520, 1000}, {80, 300, 1500, 400}},
        PlaceCase{"bottom_panel", 400, 980, kScreen, {0, 0, 1600, 960}, {600, 0, 400, 980}},
        PlaceCase{"larger_than_the_free_area", 1700, 1100, kScreen, {0, 30, 1600, 970}, {0, 30, 1700, 1100}}),
    [](const ::testing::TestParamInfo<PlaceCase>& info) { return std::string(info.param.name); });

// The editor (757 x 509) centred on 1600 x 1000, and elsewhere.
TEST(PlaceBeside, LargestFreePartAndMovingTheOwnerWhenItIsTooNarrow) {
    struct Case {
        const char* name;
        ScreenRect owner;
        int want;
        BesidePlacement expected;
    } cases[] = {
        {"room_enough_to_the_right", {421, 245, 757, 509}, 400, {{1178, 0, 422, 1000}, {421, 245, 757, 509}}},
        {"owner_moves_left", {421, 245, 757, 509}, 640, {{757, 0, 843, 1000}, {0, 245, 757, 509}}},
        {"left_is_larger", {900, 245, 600, 509}, 400, {{0, 0, 900, 1000}, {900, 245, 600, 509}}},
        {"below_a_wide_owner", {0, 0, 1600, 300}, 640, {{0, 300, 1600, 700}, {0, 0, 1600, 300}}},
        {"owner_covers_all", {0, 0, 1600, 1000}, 640, {{}, {0, 0, 1600, 1000}}},
    };
    for (const Case& c : cases) {
        const BesidePlacement p = PlaceBeside(c.owner, kScreen, c.want);
        EXPECT_EQ(p.region, c.expected.region) << c.name;
        EXPECT_EQ(p.ownerAt, c.expected.ownerAt) << c.name;
    }
}

}  // namespace
}  // namespace tarnel
