// Filled length, rectangles, borders, orientation and the repaint rule of the progress bar.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ui/view/ProgressBarModel.h"

using namespace tarnel;

namespace {

bool sameRect(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string show(const Rect& r) {
    std::ostringstream os;
    os << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
    return os.str();
}

}  // namespace

TEST(ProgressBarModel, FillsTheLengthAlongItsOrientation) {
    struct Case {
        const char* name;
        int controlW, controlH, border, orientation, max, value;
        int filled;
        Rect bar, rest;
    };
    const Case cases[] = {
        {"half of 101 pixels", 101, 12, 0, 0, 100, 50, 50, {0, 0, 50, 12}, {50, 0, 101, 12}},
        {"the sunken border takes 2 a side", 105, 16, 2, 0, 100, 50, 50, {0, 0, 50, 12}, {50, 0, 101, 12}},
        {"thin border takes 1 a side", 103, 14, 1, 0, 3, 1, 33, {0, 0, 33, 12}, {33, 0, 101, 12}},
        {"vertical fills from the bottom", 20, 101, 0, 1, 100, 50, 50, {0, 51, 20, 101}, {0, 0, 20, 51}},
        {"full", 80, 10, 0, 0, 7, 7, 80, {0, 0, 80, 10}, {80, 0, 80, 10}},
        {"past Max stays full", 80, 10, 0, 0, 10, 25, 80, {0, 0, 80, 10}, {80, 0, 80, 10}},
        {"below 0 stays empty", 80, 10, 0, 0, 10, -3, 0, {0, 0, 0, 10}, {0, 0, 80, 10}},
        {"Max 0 is 1", 80, 10, 0, 0, 0, 1, 80, {0, 0, 80, 10}, {80, 0, 80, 10}},
        {"huge values do not overflow", 2000, 10, 0, 0, 2147483647, 2147483646, 1999, {0, 0, 1999, 10},
         {1999, 0, 2000, 10}},
        {"a border larger than the control", 3, 3, 2, 0, 100, 100, 0, {0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressBarModel m;
        m.SetOrientation(c.orientation);
        m.SetControlSize(c.controlW, c.controlH);
        m.SetBorderStyle(c.border);
        m.SetMax(c.max);
        m.SetValue(c.value);
        EXPECT_EQ(m.FilledLength(), c.filled);
        EXPECT_TRUE(sameRect(m.Bar(), c.bar)) << show(m.Bar());
        EXPECT_TRUE(sameRect(m.Rest(), c.rest)) << show(m.Rest());
    }
}

TEST(ProgressBarModel, ValueAsksForAPaintOnlyWhenTheLengthMoves) {
    ProgressBarModel m;
    m.SetBorderStyle(kProgressBorderNone);
    m.SetControlSize(50, 10);
    struct Step {
        int value;
        bool repaint;
        int filled;
    };
    // 50 pixels for 100: a pixel every second value.
    for (Step s : {Step{1, false, 0}, Step{0, false, 0}, Step{2, true, 1}, Step{3, false, 1}, Step{100, true, 50},
                   Step{250, false, 50}, Step{4, true, 2}}) {
        EXPECT_EQ(m.SetValue(s.value), s.repaint) << s.value;
        EXPECT_EQ(m.FilledLength(), s.filled) << s.value;
    }
    EXPECT_FALSE(m.SetMax(100));
    EXPECT_TRUE(m.SetMax(4));  // 4 of 4 now fills the bar
    EXPECT_EQ(m.FilledLength(), 50);
}

TEST(ProgressBarModel, MaxAtOrBelowZeroIsStoredAsOne) {
    for (int max : {0, -1, -2147483647 - 1}) {
        ProgressBarModel m;
        m.SetMax(max);
        EXPECT_EQ(m.Max(), 1) << max;
    }
}

TEST(ProgressBarModel, DefaultsAndOrientationSwapsTheControl) {
    ProgressBarModel m;
    EXPECT_EQ(m.BorderStyle(), kProgressBorderSunken);
    EXPECT_EQ(m.Orientation(), kProgressHorizontal);
    EXPECT_EQ(m.Max(), 100);
    EXPECT_EQ(m.BackColor(), 0x8000000Fu);
    EXPECT_EQ(m.ForeColor(), 0x8000000Du);
    m.SetControlSize(124, 14);
    m.SetValue(50);
    EXPECT_EQ(m.FilledLength(), 60);
    m.SetOrientation(kProgressVertical);
    EXPECT_EQ(m.ControlWidth(), 14);
    EXPECT_EQ(m.ControlHeight(), 124);
    EXPECT_EQ(m.FilledLength(), 60);
    m.SetOrientation(kProgressVertical);  // no change, no swap
    EXPECT_EQ(m.ControlWidth(), 14);
    m.SetOrientation(kProgressHorizontal);
    EXPECT_EQ(m.ControlWidth(), 124);
}
