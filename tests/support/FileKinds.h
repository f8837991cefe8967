#pragma once
// Files that are not regular files, and processes that are gone: the inputs
// of the file-handling tests.
#include <sys/types.h>

#include <functional>
#include <string>

namespace tarnel::test {

// Creates a FIFO at `path`; false if the file system refuses.
bool makeFifo(const std::string& path);

// Creates a listening-free Unix socket file at `path`; false if refused.
bool makeSocketFile(const std::string& path);

// The id of a process that has just ended (a child, reaped).
pid_t deadProcessId();

// Runs `call` on a thread and waits generously for it. A call that is stuck
// in opening the FIFO at `fifo` is released by opening its other end, so the
// test ends either way; false when that was needed (the call hung).
bool returnsWithoutWaitingOnFifo(const std::string& fifo, const std::function<void()>& call);

}  // namespace tarnel::test
