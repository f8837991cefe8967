#pragma once
// tarnel-cli run as a program: the binary built beside the tests
// (build/tarnel-cli next to build/tests/).
#include <string>

namespace tarnel::test {

// The path of tarnel-cli, or "" when it is not built.
std::string cliPath();

struct CliResult {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out, err;
};

// Runs tarnel-cli with `args` (already quoted for the shell), its output
// collected in files of `folder`.
CliResult runCli(const std::string& args, const std::string& folder);

// Single-quotes a word for the shell.
std::string shellQuoted(const std::string& word);

}  // namespace tarnel::test
