#pragma once
// Temporary files carry the id of the process that writes them: the atomic
// writer's ".NAME.tmp-PID-N" and the per-process names that ProcessTempPath
// gives the fixed temporary files ("Dumy.PID.bmp", "temp00.PID.bmp", ...).
// A process that is killed leaves them behind; the next writer into that
// folder removes those whose process has ended.
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel {

// The fixed temporary files that exist once per process (through ProcessTempPath).
inline constexpr std::string_view kProcessTempNames[] = {"Dumy.bmp", "temp00.bmp", "temp01.bmp", "AVI_Temp.bmp"};

// The id of the writing process when `name` (a file name without folder) is
// one of our temporary names.
std::optional<pid_t> TempFileOwner(std::string_view name);

// True unless the process is known to have ended (a process of another user
// counts as running).
bool ProcessAlive(pid_t pid);

// Removes the regular files in `folder` that bear our temporary names and
// whose process has ended; returns how many. Errors are skipped.
size_t RemoveStaleTempFiles(const std::string& folder);

// The same, at most once per folder for the life of this process, so that
// writers can call it on every write.
void RemoveStaleTempFilesOnce(const std::string& folder);

}  // namespace tarnel
