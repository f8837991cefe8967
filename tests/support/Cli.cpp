#include "support/Cli.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "support/Files.h"

namespace tarnel::test {

namespace fs = std::filesystem;

std::string CliPath() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    fs::path cli = self.parent_path().parent_path() / "tarnel-cli";
    return fs::exists(cli) ? cli.string() : "";
}

std::string ShellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string CaptureOutput(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

CliResult RunCli(const std::string& cli, const std::string& args, const std::string& scratchFolder,
                 const std::string& env) {
    const fs::path out = fs::path(scratchFolder) / "cli.stdout", err = fs::path(scratchFolder) / "cli.stderr";
    const std::string command = (env.empty() ? "" : "env " + env + " ") + ShellQuote(cli) + " " + args + " >" +
                                ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
    CliResult r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readText(out);
    r.err = readText(err);
    std::error_code ec;
    fs::remove(out, ec);
    fs::remove(err, ec);
    return r;
}

}  // namespace tarnel::test
