#pragma once
// Subcommands of tarnel-cli register themselves here.
#include <functional>
#include <string>
#include <vector>

namespace tarnel::cli {

enum ExitCode { kOk = 0, kFailure = 1, kBadArguments = 2 };

using Handler = std::function<int(const std::vector<std::string>& args)>;

struct Command {
    std::string name;   // "gif", "morph", ...
    std::string usage;  // lines shown by --help
    Handler run;
};

std::vector<Command>& Commands();

struct Registrar {
    Registrar(std::string name, std::string usage, Handler run) {
        Commands().push_back(Command{std::move(name), std::move(usage), std::move(run)});
    }
};

// Prints "tarnel-cli: message" on stderr and returns the code.
int Fail(int code, const std::string& message);

}  // namespace tarnel::cli
