// The avivideo device of the MCI command strings, over the AVI reader.
#include "platform/media/Mci.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/media/AviReader.h"

namespace tarnel {

struct MciDevices::Device {
    AviReader reader;
    MciVideoWindow* window = nullptr;
    int32_t position = 0;  // the next frame to show
    Bitmap frame;
};

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Blank-separated words; a word in double quotes may hold blanks. False for an
// unclosed quote.
bool splitWords(const std::string& command, std::vector<std::string>& words) {
    size_t i = 0;
    while (i < command.size()) {
        if (std::isspace(static_cast<unsigned char>(command[i]))) {
            ++i;
            continue;
        }
        if (command[i] == '"') {
            size_t close = command.find('"', i + 1);
            if (close == std::string::npos) return false;
            words.push_back(command.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        size_t end = i;
        while (end < command.size() && !std::isspace(static_cast<unsigned char>(command[end]))) ++end;
        words.push_back(command.substr(i, end - i));
        i = end;
    }
    return true;
}

template <typename T>
std::optional<T> number(const std::string& word) {
    T value{};
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
    return value;
}

void reply(const std::string& text, char* returnString, uint32_t returnLength) {
    if (!returnString || returnLength == 0) return;
    size_t count = std::min<size_t>(text.size(), returnLength - 1);
    std::memcpy(returnString, text.data(), count);
    returnString[count] = '\0';
}

}  // namespace

MciDevices::MciDevices(MciHost& host) : host_(host) {}
MciDevices::~MciDevices() = default;

uint32_t MciDevices::SendString(const std::string& command, char* returnString, uint32_t returnLength) {
    reply("", returnString, returnLength);
    std::vector<std::string> words;
    if (!splitWords(command, words)) return MCIERR_MISSING_PARAMETER;
    if (words.empty()) return MCIERR_UNRECOGNIZED_COMMAND;
    const std::string verb = lower(words[0]);

    if (verb == "open") {
        if (words.size() < 2) return MCIERR_MISSING_PARAMETER;
        const std::string& path = words[1];
        std::string type, alias;
        std::optional<uint64_t> parent;
        for (size_t i = 2; i < words.size(); i += 2) {
            const std::string key = lower(words[i]);
            if (key != "type" && key != "alias" && key != "parent" && key != "style")
                return MCIERR_UNRECOGNIZED_KEYWORD;
            if (i + 1 >= words.size()) return MCIERR_MISSING_PARAMETER;
            const std::string& value = words[i + 1];
            if (key == "type") {
                type = lower(value);
            } else if (key == "alias") {
                alias = lower(value);
            } else if (key == "parent") {
                parent = number<uint64_t>(value);
                if (!parent) return MCIERR_BAD_INTEGER;
            } else if (!number<uint32_t>(value)) {
                return MCIERR_BAD_INTEGER;  // the window style: a child window either way
            }
        }
        if (type.empty() || alias.empty() || !parent) return MCIERR_MISSING_PARAMETER;
        if (type != "avivideo") return MCIERR_INVALID_DEVICE_NAME;
        if (devices_.count(alias)) return MCIERR_DEVICE_OPEN;
        MciVideoWindow* window = host_.WindowFor(*parent);
        if (!window) return MCIERR_NO_WINDOW;
        struct stat info {};
        if (path.empty() || ::stat(path.c_str(), &info) != 0) return MCIERR_FILE_NOT_FOUND;
        auto device = std::make_unique<Device>();
        if (!device->reader.Open(path) || device->reader.Length() <= 0) return MCIERR_INVALID_FILE;
        device->window = window;
        devices_.emplace(alias, std::move(device));
        return 0;
    }

    if (verb != "where" && verb != "put" && verb != "play" && verb != "close") return MCIERR_UNRECOGNIZED_COMMAND;
    if (words.size() < 2) return MCIERR_MISSING_PARAMETER;
    const std::string alias = lower(words[1]);
    auto found = devices_.find(alias);
    if (found == devices_.end()) return MCIERR_INVALID_DEVICE_NAME;
    Device& device = *found->second;

    if (verb == "where") {
        if (words.size() < 3) return MCIERR_MISSING_PARAMETER;
        if (words.size() > 3 || lower(words[2]) != "destination") return MCIERR_UNRECOGNIZED_KEYWORD;
        // left, top, right, bottom of the video's own rectangle
        reply("0 0 " + std::to_string(device.reader.Width()) + " " + std::to_string(device.reader.Height()),
              returnString, returnLength);
        return 0;
    }

    if (verb == "put") {
        if (words.size() < 4) return MCIERR_MISSING_PARAMETER;
        if (lower(words[2]) != "window" || lower(words[3]) != "at") return MCIERR_UNRECOGNIZED_KEYWORD;
        if (words.size() < 8) return MCIERR_MISSING_PARAMETER;
        if (words.size() > 8) return MCIERR_UNRECOGNIZED_KEYWORD;
        auto x = number<int>(words[4]), y = number<int>(words[5]);
        auto w = number<int>(words[6]), h = number<int>(words[7]);
        if (!x || !y || !w || !h || *w < 0 || *h < 0 || *x > INT32_MAX - *w || *y > INT32_MAX - *h)
            return MCIERR_BAD_INTEGER;
        device.window->Place(Rect{*x, *y, *x + *w, *y + *h});
        return 0;
    }

    if (verb == "play") {
        if (words.size() < 3) return MCIERR_MISSING_PARAMETER;
        if (words.size() > 3 || lower(words[2]) != "wait") return MCIERR_UNRECOGNIZED_KEYWORD;
        AviReader& reader = device.reader;
        const int32_t from = device.position;
        const int64_t origin = reader.SampleToTime(from);
        // Frame k is shown at its own time from the start of the play.
        for (int32_t k = from; k < reader.Length(); ++k) {
            if (!host_.WaitUntil(reader.SampleToTime(k) - origin)) return 0;
            if (!reader.GetFrame(k, device.frame)) {
                device.position = reader.Length();
                return MCIERR_INVALID_FILE;
            }
            device.window->ShowFrame(device.frame);
            device.position = k + 1;
        }
        host_.WaitUntil(reader.SampleToTime(reader.Length()) - origin);
        return 0;
    }

    // close
    if (words.size() > 2) return MCIERR_UNRECOGNIZED_KEYWORD;
    device.window->Clear();
    devices_.erase(found);
    return 0;
}

}  // namespace tarnel
