// The progress contract every reader, writer and scaler follows: report
// (total, line) at the first line and then each time the line index reaches
// a threshold that rises by a fixed share of the total.
#pragma once

#include "ORVIX_0500.h"

namespace orvix {

class Progress {
public:
    enum class Rule {
        AtThreshold,    // report when line >= threshold (the usual rule)
        PastThreshold,  // report when line > threshold (the coarser writers)
    };

    Progress(ProgressFn fn, int total, double share = 0.01,
             Rule rule = Rule::AtThreshold)
        : fn_(fn), total_(total), step_(static_cast<int>(total * share)),
          rule_(rule) {}

    // Announces a new pass to the receiver.
    void Start() const { fn_(0, 0); }

    // Called after handling line i.
    void Line(int i) {
        const bool due = rule_ == Rule::AtThreshold ? i >= threshold_ : i > threshold_;
        if (due) {
            fn_(total_, i);
            threshold_ += step_;
        }
    }

    void Report(int total, int done) const { fn_(total, done); }

private:
    ProgressFn fn_;
    int total_;
    int step_;
    Rule rule_;
    int threshold_ = 0;
};

}  // namespace orvix
