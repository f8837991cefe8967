#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "platform/StaleTempFiles.h"

#ifndef TARNEL_VERSION
#error "TARNEL_VERSION comes from the build"
#endif

namespace tarnel::cli {

std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

std::string& CurrentCommand() {
    static std::string name;
    return name;
}

int Fail(int code, const std::string& message) {
    // One line whatever the message holds (a file name may contain a newline).
    std::string line = message;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    const std::string& command = CurrentCommand();
    std::fprintf(stderr, "tarnel-cli%s%s: %s\n", command.empty() ? "" : " ", command.c_str(), line.c_str());
    return code;
}

std::string NamedOnce(const std::string& what, const std::string& path, std::string cause) {
    if (!path.empty()) {
        if (cause.rfind(path + ": ", 0) == 0) cause.erase(0, path.size() + 2);
        for (size_t at = cause.find(path); at != std::string::npos; at = cause.find(path, at + 8))
            cause.replace(at, path.size(), "the file");
    }
    return (what.empty() ? "" : what + " ") + path + (cause.empty() ? "" : ": " + cause);
}

namespace {

std::string usageOf(const Command& c) {
    if (c.subcommands.empty()) return c.usage;
    std::string text;
    for (const Command& sub : c.subcommands) text += (text.empty() ? "" : "\n") + sub.usage;
    return text;
}

void printCommands() {
    std::printf("usage: tarnel-cli COMMAND [ARGS] (tarnel-cli COMMAND --help for one command)\n"
                "       tarnel-cli --version\ncommands:\n");
    for (const Command& c : Commands()) std::printf("%s\n", usageOf(c).c_str());
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) return Fail(kBadArguments, "no command given (tarnel-cli --help lists them)");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printCommands();
        return kOk;
    }
    if (args[0] == "--version") {
        std::printf("tarnel-cli %s\n", TARNEL_VERSION);
        return kOk;
    }
    const Command* command = nullptr;
    for (const Command& c : Commands())
        if (c.name == args[0]) command = &c;
    if (!command) return Fail(kBadArguments, "unknown command " + args[0] + " (tarnel-cli --help lists them)");
    CurrentCommand() = command->name;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (!command->subcommands.empty()) {
        if (rest.empty() || WantsHelp({rest[0]})) {
            if (rest.empty()) return Fail(kBadArguments, "needs a subcommand (tarnel-cli " + command->name + " --help)");
            std::printf("usage:\n%s\n", usageOf(*command).c_str());
            return kOk;
        }
        const Command* sub = nullptr;
        for (const Command& s : command->subcommands)
            if (s.name == rest[0]) sub = &s;
        if (!sub) return Fail(kBadArguments, "unknown subcommand " + rest[0]);
        CurrentCommand() = command->name + " " + sub->name;
        command = sub;
        rest.erase(rest.begin());
    }
    if (WantsHelp(rest)) {
        std::printf("usage:\n%s\n", command->usage.c_str());
        return kOk;
    }
    return command->run(rest);
}

}  // namespace

}  // namespace tarnel::cli

int main(int argc, char** argv) {
    using namespace tarnel::cli;
    // Before any thread: an interrupted run takes its temporary files with it.
    tarnel::InstallInterruptCleanup();
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        return Fail(kFailure, "out of memory");
    } catch (const std::exception& e) {
        // Whatever escapes is reported in our words, never the library's.
        return Fail(kFailure, std::string("internal error (") + e.what() + ")");
    }
}
