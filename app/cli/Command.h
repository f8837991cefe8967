#pragma once
// Subcommands of tarnel-cli register themselves here.
#include <functional>
#include <string>
#include <vector>

namespace tarnel::cli {

enum ExitCode { kOk = 0, kFailure = 1, kBadArguments = 2 };

using Handler = std::function<int(const std::vector<std::string>& args)>;

struct Command {
    std::string name;   // "gif", "morph", "encode" (under "gif"), ...
    std::string usage;  // lines shown by --help
    Handler run;        // none for a command made only of subcommands
    std::vector<Command> subcommands;
};

std::vector<Command>& Commands();

struct Registrar {
    Registrar(std::string name, std::string usage, Handler run) {
        Commands().push_back(Command{std::move(name), std::move(usage), std::move(run), {}});
    }
    Registrar(std::string name, std::vector<Command> subcommands) {
        Commands().push_back(Command{std::move(name), "", nullptr, std::move(subcommands)});
    }
};

// The command being run, as it appears in messages ("morph", "gif encode").
std::string& CurrentCommand();

// "what path: cause", the path named once: a cause that starts with the
// path loses it, and one that names it elsewhere says "the file" there.
std::string NamedOnce(const std::string& what, const std::string& path, std::string cause);

// Prints "tarnel-cli <command>: message" on one line of stderr and returns
// the code.
int Fail(int code, const std::string& message);

}  // namespace tarnel::cli
