#include "support/TempLocks.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/StaleTempFiles.h"

namespace tarnel::test {

ForeignLock::ForeignLock(const std::string& path) {
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    if (::pipe2(release, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    child_ = ::fork();
    if (child_ == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
        if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
        char c;
        while (::read(release[0], &c, 1) < 0 && errno == EINTR) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = '0';
    // A child that dies gives end of file, so this never waits for ever.
    while (child_ > 0 && ::read(ready[0], &ok, 1) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    held_ = child_ > 0 && ok == '1';
}

ForeignLock::~ForeignLock() {
    if (release_ >= 0) ::close(release_);
    if (child_ > 0) waitFor(child_);
}

std::vector<std::string> markedFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsTempFileName(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

pid_t startOnStoppedTerminal(const std::string& program, const std::vector<std::string>& args,
                             const std::vector<std::string>& env, int& terminal) {
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) return -1;
    const char* name = ::ptsname(terminal);
    if (!name) return -1;
    const int screen = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (screen < 0) return -1;
    // XON/XOFF on, then XOFF typed: the terminal takes no more output.
    termios modes {};
    ::tcgetattr(screen, &modes);
    modes.c_iflag |= IXON;
    ::tcsetattr(screen, TCSANOW, &modes);
    const char stop = 0x13;
    if (::write(terminal, &stop, 1) != 1) {
        ::close(screen);
        return -1;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment(env);
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(null, 1) < 0 || ::dup2(screen, 2) < 0) ::_exit(126);
        // The test's own signal mask and handlers are not the run's.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(screen);
    return child;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace tarnel::test
