#include "ui/mDialogColor.h"

#include <optional>

#include "platform/Colors.h"

namespace tarnel {

namespace {

std::optional<CustomColors>& customColors() {
    static std::optional<CustomColors> colors;
    return colors;
}

CustomColors greyRamp() {
    CustomColors ramp{};
    for (int i = 0; i < 16; ++i) ramp[size_t(i)] = RGBColor(uint8_t(17 * i), uint8_t(17 * i), uint8_t(17 * i));
    return ramp;
}

}  // namespace

int32_t ShowColorDialog(QWidget*, uint32_t initial, bool fullOpen) {
    std::optional<CustomColors>& colors = customColors();
    if (!colors) colors = greyRamp();
    std::optional<ColorRef> chosen = Dialogs().chooseColor(TranslateColor(initial), &*colors, fullOpen);
    if (!chosen) return -1;
    return int32_t(*chosen & 0xFFFFFF);
}

CustomColors DialogCustomColors() {
    const std::optional<CustomColors>& colors = customColors();
    return colors ? *colors : greyRamp();
}

void ResetDialogCustomColors() { customColors().reset(); }

}  // namespace tarnel
