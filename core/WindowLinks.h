#pragma once
// Values that link the windows of the program for as long as it runs: each is
// set by the window that opens another and read by the window opened.
#include <cstdint>
#include <string>

namespace tarnel {

struct WindowLinks {
    // Trimming window: which image is trimmed, and whether OK was pressed.
    int16_t TrimTarget = 0;
    bool TrimAccepted = false;
    // Viewer: opened by its command (true) or at the end of a run (false).
    bool ViewerFromEditor = false;
    // Export window: writing an AVI file (true) or choosing the viewer's folder.
    bool AviExportMode = false;
    bool FolderChoiceCancelled = false;
    // Composer and player inputs.
    std::string MediaFilePath;
    std::string MediaFolder;
    std::string PlayerFilePath;
};

WindowLinks& Links();

}  // namespace tarnel
