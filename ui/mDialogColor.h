#pragma once
// The colour dialog of the composer's background colour. Its sixteen custom
// colours start as a grey ramp and keep the user's changes for the rest of
// the run.
#include <cstdint>

#include "platform/Dialogs.h"

class QWidget;

namespace tarnel {

// The chosen colour (0x00BBGGRR), or -1 when the user cancels. `initial` may
// be a system colour. The dialog service shows the dialog over the active
// window, which is the owner when a window calls it from its handlers.
int32_t ShowColorDialog(QWidget* owner, uint32_t initial, bool fullOpen);

// The custom colours as the next dialog offers them (the grey ramp before the first use).
CustomColors DialogCustomColors();
// Back to the state before the first use (tests).
void ResetDialogCustomColors();

}  // namespace tarnel
