#pragma once
// tarnel-cli run as a program from a test: the binary built beside the tests
// (build/tarnel-cli next to build/tests/).
#include <string>

namespace tarnel::test {

// Empty when tarnel-cli is not built beside this test executable.
std::string CliPath();

struct CliResult {
    int status = -1;
    std::string out, err;
};

// Runs `cli` with `args` (already quoted for the shell) and the environment
// assignments in `env` ("NAME=value ..."), capturing both outputs in `scratchFolder`.
CliResult RunCli(const std::string& cli, const std::string& args, const std::string& scratchFolder,
                 const std::string& env = "");

// The path quoted for the shell.
std::string ShellQuote(const std::string& text);

// What a shell command prints on its standard output (empty when it cannot run).
std::string CaptureOutput(const std::string& command);

}  // namespace tarnel::test
