#pragma once
// Registers the editor's own child windows with the child-window openers.

namespace tarnel {

// ChildWindows().trimming: shows Tarnel_T modally over its owner.
void RegisterTrimmingWindow();

}  // namespace tarnel
