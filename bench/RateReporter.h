#pragma once
// The usual console table, then a table of the caller's own: each run's
// value of one rate counter, collected as the runs are reported, for
// comparing renders with a baseline measured in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tarnel::bench {

class RateReporter : public benchmark::ConsoleReporter {
public:
    explicit RateReporter(std::string counter)
        : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular), counter_(std::move(counter)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            auto it = run.counters.find(counter_);
            if (it != run.counters.end()) rates_.push_back({run.benchmark_name(), run.report_label, double(it->second)});
        }
    }

protected:
    struct Rate {
        std::string name, label;
        double rate;
    };
    const std::vector<Rate>& rates() const { return rates_; }

    static bool isBaseline(const std::string& name, const char* baseline) { return name.rfind(baseline, 0) == 0; }
    // "BM_Name/w/h/..." -> "w/h": runs of one picture size compare with each other.
    static std::string sizeOf(const std::string& name) {
        const size_t a = name.find('/');
        if (a == std::string::npos) return std::string();
        const size_t b = name.find('/', a + 1), c = b == std::string::npos ? b : name.find('/', b + 1);
        return name.substr(a + 1, (c == std::string::npos ? name.size() : c) - a - 1);
    }

private:
    std::string counter_;
    std::vector<Rate> rates_;
};

}  // namespace tarnel::bench
