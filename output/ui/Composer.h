#pragma once
// How the editor opens the animated GIF composer.
class QWidget;

namespace tarnel {

// Shows Tarnel_G modally over `owner` on Links().MediaFilePath and returns when it closes.
void ShowGifComposer(QWidget* owner);

// Registers the composer with the editor's child-window openers (ChildWindows().gifComposer).
void RegisterGifComposer();

}  // namespace tarnel
