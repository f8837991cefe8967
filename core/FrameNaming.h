#pragma once
// How a morph run names what it writes: the save kinds, their names and
// extensions, the frame files and the dated frame folders. The run, the frame
// pipeline, the project file and everything that reads frame folders back
// share these, so a folder written by one is found by the others.
#include <ctime>
#include <string>
#include <string_view>

namespace tarnel {

enum SaveKindValue { kSaveBmp = 0, kSaveJpg = 1, kSaveGif = 2, kSavePng = 3 };

// "bmp", "jpg", "gif", "png"; empty for another value.
std::string SaveKindName(int saveKind);
// False for anything but those four names.
bool ParseSaveKindName(std::string_view name, int& saveKind);
// ".bmp", ".jpg", ".gif", ".png"; empty for another value.
std::string FrameExtension(int saveKind);

// "000.bmp", "012.jpg", "100.gif"; only the number for another kind.
std::string FrameFileName(int k, int saveKind);

// "yyyymmdd-hh-mm-ss"
std::string FrameFolderName(const std::tm& localTime);
// A name FrameFolderName gives, perhaps followed by "-2", "-3", ... as runs
// in the same second are told apart.
bool IsFrameFolderName(std::string_view name);

}  // namespace tarnel
