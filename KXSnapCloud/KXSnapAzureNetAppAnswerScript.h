// The answers one record's requests had, kept so that its step can run twice:
// once "dry", side by side with the other records' steps, only to send the
// requests (the record and the log untouched), then once for real, in the
// records' order, answered from what the dry run got. The run that counts is
// thus the walk over the records as it always was; only the waiting was done
// side by side.
//
// A dry run that reaches a request without an answer yet stops there by
// throwing AnfRequestPending; it is run again from its start once the answer
// is in. A run for real whose request differs from the one recorded (the
// record answered otherwise than in the dry run) sends it and every later
// one as usual.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/KXFanOut.h"

// Thrown by a dry run at the request it has no answer for. Not a
// std::exception: nothing on the way may take it for an error of its own.
struct AnfRequestPending {
    KXFanOut::Request request;
};

class AnfAnswerScript {
public:
    enum class Mode { kDry, kLive };

    // Before each run: the first request gets the first answer again.
    void rewind(Mode mode);
    // The answer recorded for `request` when it is the request recorded at
    // this point. Otherwise nullptr in a live run; a dry run throws
    // AnfRequestPending with the request, due after the pauses made since
    // the last answer.
    const KXFanOut::Answer* answerFor(const KXFanOut::Request& request);
    // Whether requests answered from the script are left.
    bool hasAnswersLeft() const;
    bool dry() const { return mode_ == Mode::kDry; }
    // A pause before the next poll: true when it needs no sleep (a dry run
    // turns it into the next request's delay; a live run whose next request
    // is answered from the script already waited for it).
    bool pause(uint64_t milliseconds);
    // The answer to the request the last dry run stopped at.
    void record(const KXFanOut::Request& request, const KXFanOut::Answer& answer);
    // Whether any request of the record reached Azure.
    bool reachedAzure() const;

private:
    struct Exchange {
        KXFanOut::Request request;
        KXFanOut::Answer answer;
    };

    std::vector<Exchange> exchanges_;
    size_t next_ = 0;
    Mode mode_ = Mode::kDry;
    bool diverged_ = false;
    uint64_t pausedMs_ = 0;
};
