#pragma once
// What the folder chooser shows, without a window: the drives (the mounted
// file systems a user keeps pictures on), the folders of the current path,
// the images in it under the pattern "*.bmp;*.gif;*.jpg;*.png" in alphabetical
// order, their number, the preview size, and the check that a folder holds
// a frame sequence.
#include <string>
#include <vector>

#include "platform/PictureBox.h"

namespace tarnel {

inline constexpr const char* kFrameFilePattern = "*.bmp;*.gif;*.jpg;*.png";
inline constexpr const char* kNoFramesMessage = "ﾌｫﾙﾀﾞの中にﾓｰﾌ画像ﾃﾞｰﾀが見つかりません！";
inline constexpr int kPreviewSide = 93;

struct DriveEntry {
    std::string text;  // as the drive list shows it
    std::string path;  // its top folder
};

// The root, the home folder, then the file systems mounted under /media,
// /run/media and /mnt (removable media), from a mounts table in the format
// of /proc/self/mounts.
std::vector<DriveEntry> ListDrives(const std::string& mountsTable, const std::string& homeFolder);
// The same from /proc/self/mounts and $HOME.
std::vector<DriveEntry> ListDrives();
// The drive whose folder holds `path` (the deepest one); -1 when none does.
int DriveIndexOf(const std::vector<DriveEntry>& drives, const std::string& path);

// Why a folder could not be opened.
struct FolderError {
    bool notReady = false;  // the device is not there (media removed, stale mount)
    int number = 0;         // the system's error number
    std::string description;
};
// The folder can be listed; otherwise `error` says why.
bool CheckFolder(const std::string& path, FolderError* error = nullptr);
// "ﾄﾞﾗｲﾌﾞ" + the drive text + " は、準備されていません。" for a device that is not
// ready, else the source, ": &H", the number in hexadecimal, a line break and
// the description.
std::string DriveErrorMessage(const std::string& driveText, const FolderError& error);

// Folder names inside `path`, alphabetical without regard to case; hidden ones left out.
std::vector<std::string> ListSubfolders(const std::string& path);
// True when `name` matches one of the ';'-separated patterns "*.ext" (case-insensitive).
bool MatchesFilePattern(const std::string& name, const std::string& pattern);
// File names in `folder` matching the pattern, alphabetical without regard to
// case; the program's own files (sessions, marked temporaries) left out.
std::vector<std::string> ListPatternFiles(const std::string& folder, const std::string& pattern = kFrameFilePattern);
// folder + separator + name, without doubling a trailing separator.
std::string JoinFolder(const std::string& folder, const std::string& name);
// The folders from `top` down to `path`, each a full path; just {path} when
// `path` does not lie under `top`.
std::vector<std::string> FolderChain(const std::string& top, const std::string& path);

// The preview box for a picture of w x h: 93 on the longer side, the other
// side in proportion, rounded half to even (at least one pixel).
struct PreviewSize {
    int width = 0, height = 0;
};
PreviewSize PreviewSizeFor(int width, int height);
// Pic_Pre: sized to the preview, the whole picture stretched into it
// (nearest pixel), the raised edge drawn around it. False for an empty picture.
bool DrawPreview(const StdPicture& picture, PictureBox& preview);

// The folder chooser's state: the drive, the folder (dir1's path) and its
// images (File1). The window shows it and forwards its events here.
class FolderChooser {
public:
    explicit FolderChooser(std::vector<DriveEntry> drives);

    const std::vector<DriveEntry>& drives() const { return drives_; }
    int driveIndex() const { return drive_; }
    const std::string& folder() const { return folder_; }
    const std::vector<std::string>& subfolders() const { return subfolders_; }
    const std::vector<std::string>& files() const { return files_; }
    int fileCount() const { return int(files_.size()); }
    std::string filePath(int index) const;

    // dir1's path := path, and the lists follow it. False (nothing changes)
    // when the folder cannot be listed.
    bool setFolder(const std::string& path, FolderError* error = nullptr);
    // The drive list's choice: its top folder becomes the path. False with
    // the error when it cannot be listed; the drive stays as it was.
    bool setDrive(int index, FolderError* error = nullptr);
    // Re-reads the lists of the current folder.
    void refresh();

    // OK: the folder holds frame 000 as BMP, JPG or GIF.
    bool folderHoldsFrames() const;

private:
    std::vector<DriveEntry> drives_;
    int drive_ = -1;
    std::string folder_;
    std::vector<std::string> subfolders_, files_;
};

}  // namespace tarnel
