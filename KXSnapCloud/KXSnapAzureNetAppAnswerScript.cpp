#include "KXSnapCloud/KXSnapAzureNetAppAnswerScript.h"

namespace {

bool SameRequest(const KXFanOut::Request& a, const KXFanOut::Request& b) {
    return a.method == b.method && a.url == b.url && a.body == b.body;
}

}  // namespace

void AnfAnswerScript::rewind(Mode mode) {
    mode_ = mode;
    next_ = 0;
    diverged_ = false;
    pausedMs_ = 0;
}

const KXFanOut::Answer* AnfAnswerScript::answerFor(const KXFanOut::Request& request) {
    if (!diverged_ && next_ < exchanges_.size()) {
        const Exchange& exchange = exchanges_[next_];
        if (SameRequest(exchange.request, request)) {
            ++next_;
            pausedMs_ = 0;
            return &exchange.answer;
        }
        diverged_ = true;
    }
    if (mode_ == Mode::kLive) {
        return nullptr;
    }
    // What was recorded past this point answered other requests.
    exchanges_.resize(next_);
    KXFanOut::Request pending = request;
    pending.delay = KXFanOut::Millis(pausedMs_);
    throw AnfRequestPending{pending};
}

bool AnfAnswerScript::hasAnswersLeft() const {
    return !diverged_ && next_ < exchanges_.size();
}

bool AnfAnswerScript::pause(uint64_t milliseconds) {
    if (mode_ == Mode::kDry) {
        pausedMs_ += milliseconds;
        return true;
    }
    return hasAnswersLeft();
}

void AnfAnswerScript::record(const KXFanOut::Request& request, const KXFanOut::Answer& answer) {
    exchanges_.push_back(Exchange{request, answer});
}

bool AnfAnswerScript::reachedAzure() const {
    for (const Exchange& exchange : exchanges_) {
        if (exchange.answer.requestSent) {
            return true;
        }
    }
    return false;
}
