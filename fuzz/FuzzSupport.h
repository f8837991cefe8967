#pragma once
// Shared pieces of the fuzz targets: a check that stops the run, a dialog
// service that answers without showing anything, and a scratch folder of this
// process for the engine calls that only take paths.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/Dialogs.h"

namespace tarnel::fuzz {

inline void check(bool condition) {
    if (!condition) __builtin_trap();
}

class QuietDialogs : public DialogService {
public:
    MsgResult messageBox(const std::string&, MsgIcon, MsgButtons, const std::string&) override { return MsgResult::OK; }
};

inline void silenceDialogs() {
    static QuietDialogs dialogs;
    SetDialogs(&dialogs);
}

// One folder per process and target, made once and removed at exit. Memory
// backed when /dev/shm is there: the settings writes sync every file, and
// the disk is shared with the rest of the machine.
class ScratchFolder {
public:
    explicit ScratchFolder(std::string_view target) {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path(ec);
        path_ = (base / ("tarnel-" + std::string(target) + "." + std::to_string(getpid()))).string();
        std::filesystem::remove_all(path_, ec);
        std::filesystem::create_directories(path_, ec);
        check(!ec);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

    // Empties the folder, keeping the folder itself.
    void clean() const {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code removeError;
            std::filesystem::remove_all(it->path(), removeError);
        }
    }

private:
    std::string path_;
};

// Writes `size` bytes as the whole of `path`; false when it cannot.
inline bool writeWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return bool(out.flush());
}

}  // namespace tarnel::fuzz
