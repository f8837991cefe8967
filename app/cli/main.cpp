#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/cli/Command.h"

namespace tarnel::cli {

std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "tarnel-cli: %s\n", message.c_str());
    return code;
}

namespace {
void printUsage(FILE* out) {
    std::fprintf(out, "usage:\n");
    for (const Command& c : Commands()) std::fprintf(out, "%s\n", c.usage.c_str());
}
}  // namespace

}  // namespace tarnel::cli

int main(int argc, char** argv) {
    using namespace tarnel::cli;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printUsage(args.empty() ? stderr : stdout);
        return args.empty() ? kBadArguments : kOk;
    }
    for (const Command& c : Commands()) {
        if (c.name != args[0]) continue;
        try {
            return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
        } catch (const std::exception& e) {
            return Fail(kFailure, e.what());
        }
    }
    printUsage(stderr);
    return Fail(kBadArguments, "unknown command: " + args[0]);
}
