#pragma once
// The program's folder: where the settings file, the working copies of the
// source images and the frame folders live.
#include <string>
#include <string_view>

namespace tarnel {

// The folder of the running executable, or $XDG_DATA_HOME/tarnel (by default
// ~/.local/share/tarnel), created as needed, when that folder cannot be written
// or belongs to an installation (see InstalledDataFolder). An override set with
// SetProgramFolderOverride, or else the environment variable
// TARNEL_PROGRAM_FOLDER, takes the place of both (tests, the CLI's --out).
// Never ends with a separator, except for the root folder itself.
// Asked afresh on every call, so a changed override or environment applies at once.
std::string ProgramFolder();

// Folder + "/" + name: the platform's form of the program folder + "\" + name.
std::string ProgramFile(std::string_view name);

// A temporary file of this process in `folder`: `name` with the process id
// before its extension ("AVI_Temp.bmp" -> "AVI_Temp.1234.bmp"), so that two
// processes never share one.
std::string ProcessTempPath(const std::string& folder, std::string_view name);

// Every file of the editor's kept session starts with this name.
inline constexpr std::string_view kSessionFilePrefix = "Tarnel.session.";
// A file the program keeps for itself beside the frames and pictures of a
// folder (the program folder above all): a session file, or a marked
// temporary such as an editor's working copy. Never a frame.
bool IsHousekeepingFileName(std::string_view name);

// Replaces the program folder for this process; an empty folder removes the
// override. The folder is created on first use if it does not exist.
void SetProgramFolderOverride(const std::string& folder);

// The choice ProgramFolder makes without an override: `executableFolder` when
// it can be written and is not an installation's, else UserDataFolder(),
// created as needed.
std::string ResolveProgramFolder(const std::string& executableFolder);

// The installed data folder that goes with an executable in `executableFolder`
// (PREFIX/bin -> PREFIX/share/tarnel) when that folder exists, else empty: an
// installed program never writes beside itself, even where it could (root, or
// a prefix the user owns).
std::string InstalledDataFolder(const std::string& executableFolder);

// The folder of the executable as /proc/self/exe reports it; empty if unknown.
std::string ExecutableFolder();

// $XDG_DATA_HOME/tarnel, or $HOME/.local/share/tarnel when XDG_DATA_HOME is
// unset, empty or relative. Not created by this call.
std::string UserDataFolder();

}  // namespace tarnel
