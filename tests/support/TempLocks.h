#pragma once
// Temporary files held by other processes, and command-line runs held still
// at a known point: the inputs of the stale-temporary tests.
#include <sys/types.h>

#include <string>
#include <vector>

namespace tarnel::test {

// A child process holding an exclusive flock on `path` (which must exist)
// until this object is destroyed.
class ForeignLock {
public:
    explicit ForeignLock(const std::string& path);
    ~ForeignLock();
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;
    // False when the child could not take the lock.
    bool held() const { return held_; }

private:
    pid_t child_ = -1;
    int release_ = -1;
    bool held_ = false;
};

// The names in `folder` that carry the temporary-file mark, sorted.
std::vector<std::string> markedFiles(const std::string& folder);

// Starts `program` with `args` and the extra environment `env` ("NAME=value"),
// stdout on /dev/null and stderr on a terminal whose output is stopped, so
// that the first progress bar it draws blocks the run until it is signalled.
// -1 when it cannot start.
pid_t startOnStoppedTerminal(const std::string& program, const std::vector<std::string>& args,
                             const std::vector<std::string>& env, int& terminal);

// Waits for `pid` and returns its raw wait status.
int waitFor(pid_t pid);

}  // namespace tarnel::test
