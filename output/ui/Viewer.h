#pragma once
// How other windows open the frame viewer, the AVI export window and the AVI player.
class QWidget;

namespace tarnel {

// Shows Tarnel_V modally over `parent` and returns when it closes.
// fromEditor true: the editor's view command (the viewer opens empty and the
// user picks a folder with Cmd_File); false: the end of a morph run, which has
// put the new folder in SaveFolder and its kind in SaveKind. Sets
// Links().ViewerFromEditor accordingly.
void ShowFrameViewer(QWidget* parent, bool fromEditor);

// Shows the folder chooser (Tarnel_F in folder-choice mode) modally; on OK
// Links().FolderChoiceCancelled is false and SaveFolder holds the folder.
void ShowFolderChooser(QWidget* parent);

// Registers the viewer with the editor's child-window openers
// (ChildWindows().viewer), opening it with Links().ViewerFromEditor as the
// editor set it.
void RegisterFrameViewer();

// Shows Tarnel_F in its AVI mode modally (sets Links().AviExportMode).
void ShowAviExport(QWidget* parent);
// Shows the player Tarnel_A modally for Links().PlayerFilePath, playing it
// Settings().AviRepeat[0] times; returns when it closes.
void ShowAviPlayer(QWidget* parent);
// Registers both with the child-window openers (aviExport, aviPlayer).
void RegisterAviWindows();

}  // namespace tarnel
