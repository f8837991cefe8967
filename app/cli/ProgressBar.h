#pragma once
// A bar on stderr while a long operation runs, only when stderr is a terminal.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/Progress.h"

namespace tarnel::cli {

class BarProgress : public ProgressSink {
public:
    explicit BarProgress(const char* label) : label_(label), shown_(::isatty(2)) {}
    ~BarProgress() override {
        if (drawn_) std::fprintf(stderr, "\r%*s\r", 60, "");
    }
    BarProgress(const BarProgress&) = delete;
    BarProgress& operator=(const BarProgress&) = delete;
    void SetMax(int32_t max) override { max_ = max; }
    void SetValue(int32_t value) override {
        if (!shown_ || max_ <= 0 || value <= 0) return;
        const int width = 30;
        int filled = int(int64_t(width) * std::min(value, max_) / max_);
        std::fprintf(stderr, "\r%-12s [%s%s] %d/%d", label_, std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(width - filled), ' ').c_str(), value, max_);
        drawn_ = true;
    }

private:
    const char* label_;
    bool shown_;
    bool drawn_ = false;
    int32_t max_ = 0;
};

}  // namespace tarnel::cli
