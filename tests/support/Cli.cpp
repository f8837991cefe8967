#include "support/Cli.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tarnel::test {

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

std::string cliPath() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    fs::path cli = self.parent_path().parent_path() / "tarnel-cli";
    return fs::exists(cli) ? cli.string() : "";
}

std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CliResult runCli(const std::string& args, const std::string& folder) {
    static int serial = 0;
    const std::string tag = std::to_string(serial++);
    const std::string out = folder + "/cli-stdout-" + tag, err = folder + "/cli-stderr-" + tag;
    const std::string command = shellQuoted(cliPath()) + " " + args + " >" + shellQuoted(out) + " 2>" + shellQuoted(err);
    CliResult r;
    int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

}  // namespace tarnel::test
