#pragma once
// The one option parser of every tarnel-cli command: long options with or
// without a value ("--frames 20" or "--frames=20"), positional arguments, and
// "--" after which everything is positional. An unknown option, a missing
// value and an option given twice are errors.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::cli {

struct OptionDef {
    const char* name;  // "--frames"
    bool takesValue;
};

class Options {
public:
    // Empty when the arguments fit the known options, else the one-line reason.
    std::string parse(const std::vector<std::string>& args, const std::vector<OptionDef>& known);

    bool has(std::string_view name) const;
    // The value of an option that takes one; nullopt when it was not given.
    std::optional<std::string> value(std::string_view name) const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    struct Given {
        std::string name, value;
    };
    std::vector<Given> given_;
    std::vector<std::string> positional_;
};

// "--help" or "-h" before any "--".
bool WantsHelp(const std::vector<std::string>& args);

// A whole decimal number and nothing else.
std::optional<int> ParseInt(const std::string& text);

}  // namespace tarnel::cli
