#include "support/TempDir.h"

#include <atomic>
#include <random>
#include <system_error>
#include <unistd.h>

namespace tarnel::test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("tarnel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                        std::to_string(rd() % 100000));
        std::error_code ec;
        if (std::filesystem::create_directory(path_, ec)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace tarnel::test
