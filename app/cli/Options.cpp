#include "app/cli/Options.h"

#include <algorithm>
#include <charconv>

namespace tarnel::cli {

namespace {

bool looksLikeOption(const std::string& a) { return a.size() > 1 && a[0] == '-'; }

}  // namespace

std::string Options::parse(const std::vector<std::string>& args, const std::vector<OptionDef>& known) {
    given_.clear();
    positional_.clear();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            positional_.insert(positional_.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
            break;
        }
        if (!looksLikeOption(a)) {
            positional_.push_back(a);
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        auto def = std::find_if(known.begin(), known.end(), [&](const OptionDef& d) { return name == d.name; });
        if (def == known.end()) return "unknown option " + name;
        if (has(name)) return "option " + name + " given twice";
        Given g{name, ""};
        if (!def->takesValue) {
            if (eq != std::string::npos) return "option " + name + " takes no value";
        } else if (eq != std::string::npos) {
            g.value = a.substr(eq + 1);
        } else {
            // A following long option is no value: "--out --frames 3" lacks the path.
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) return "option " + name + " needs a value";
            g.value = args[++i];
        }
        given_.push_back(std::move(g));
    }
    return "";
}

bool Options::has(std::string_view name) const {
    return std::any_of(given_.begin(), given_.end(), [&](const Given& g) { return g.name == name; });
}

std::optional<std::string> Options::value(std::string_view name) const {
    for (const Given& g : given_)
        if (g.name == name) return g.value;
    return std::nullopt;
}

bool WantsHelp(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

std::optional<int> ParseInt(const std::string& text) {
    int value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

}  // namespace tarnel::cli
