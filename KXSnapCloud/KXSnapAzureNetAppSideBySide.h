// One phase of a NetApp Files engine operation whose records' requests go
// out side by side (KXFanOut), while the records end exactly as the walk
// over them leaves them: every record's step runs once dry, side by side
// with the others, only to send its requests (the records of one volume one
// after another, never two operations on one volume at once), then once for
// real, in the records' order, with the answers the dry run got (see
// KXSnapAzureNetAppAnswerScript.h). With one request at a time allowed the
// requests go out in the walk's order, request for request.
//
// A phase whose walk stops at a record (the stop rule) sends nothing for the
// records after the first record whose dry run stops; what Azure made for
// later records meanwhile is for the caller to remove (reachedAzure, dryWork).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppAnswerScript.h"
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"

class KXSnapAzureNetApp;

class AnfSideBySide {
public:
    // A record's step as the walk runs it; returns what the walk goes by.
    using Step = std::function<int(AzureNetApp::KxSnapANFSnapObj& snapObj)>;
    // Whether the walk stops at a record whose step returned `code`.
    using StopRule = std::function<bool(int code)>;

    AnfSideBySide(KXSnapAzureNetApp& engine, Step step, StopRule stops = nullptr);
    ~AnfSideBySide();
    AnfSideBySide(const AnfSideBySide&) = delete;
    AnfSideBySide& operator=(const AnfSideBySide&) = delete;

    // The dry runs of the records' steps, in the records' order.
    void prefetch(const std::vector<AzureNetApp::KxSnapANFSnapObj*>& records);
    // Record `index`'s step for real, on `snapObj`, answered from its dry run.
    int run(size_t index, AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Whether a request of record `index`'s dry run reached Azure.
    bool reachedAzure(size_t index) const;
    // The work object as record `index`'s dry run left it (names it
    // generated, links it got), on the host's record again.
    AzureNetApp::KxSnapANFSnapObj dryWork(size_t index) const;

private:
    struct Record;
    class VolumeJob;
    // Runs record `index`'s step dry until its next request; false when the
    // step is done, or is not run because the walk stops before it.
    bool dryRun(size_t index, KXFanOut::Request& request);
    void take(size_t index, const KXFanOut::Answer& answer);
    std::vector<std::vector<size_t>> volumeChains() const;

    KXSnapAzureNetApp& engine_;
    Step step_;
    StopRule stops_;
    std::vector<std::unique_ptr<Record>> records_;
    size_t stopAt_ = std::numeric_limits<size_t>::max();
};
