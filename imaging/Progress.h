#pragma once
#include <cstdint>

namespace tarnel {

// What long imaging operations report to; the progress bar control implements it.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetMax(int32_t max) = 0;
    virtual void SetValue(int32_t value) = 0;
};

}  // namespace tarnel
