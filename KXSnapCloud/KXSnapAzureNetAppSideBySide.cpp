#include "KXSnapCloud/KXSnapAzureNetAppSideBySide.h"

#include <map>
#include <sstream>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapAzureNetAppDryRecord.h"
#include "platform/FXString.h"

using AzureNetApp::KxSnapANFSnapObj;

struct AnfSideBySide::Record {
    KxSnapANFSnapObj* original = nullptr;
    KxSnapANFSnapObj work;  // as the last dry run left it
    AnfAnswerScript script;
    KXFanOut::Request pending;
    bool done = false;
};

// The records of one volume, one after another: a record's step starts once
// the previous one is done.
class AnfSideBySide::VolumeJob : public KXFanOut::Job {
public:
    VolumeJob(AnfSideBySide& owner, std::vector<size_t> chain)
        : owner_(owner), chain_(std::move(chain)) {}

    bool Next(KXFanOut::Request& request) override {
        for (; at_ < chain_.size(); ++at_) {
            if (owner_.dryRun(chain_[at_], request)) {
                return true;
            }
        }
        return false;
    }
    void OnAnswer(const KXFanOut::Answer& answer) override { owner_.take(chain_[at_], answer); }

private:
    AnfSideBySide& owner_;
    std::vector<size_t> chain_;
    size_t at_ = 0;
};

namespace {

// The engine, its REST client and transport as a dry run must leave them:
// their log record and error state are put back, and no answer script stays.
class DryScope {
public:
    DryScope(KXSO::SnapInfo*& engineLogger, int32_t& lastError, std::ostringstream& error,
             KXSnapAzureNetAppAPI& api, KXSO::SnapInfo& dryRecord, AnfAnswerScript& script)
        : engineLogger_(engineLogger),
          savedLogger_(engineLogger),
          lastError_(lastError),
          savedLastError_(lastError),
          error_(error),
          savedError_(error.str()),
          api_(api) {
        engineLogger_ = &dryRecord;
        apiLogger_ = api_.swapLogger(&dryRecord);
        api_.resetRESTErr();
        api_.useAnswerScript(&script);
    }
    ~DryScope() {
        api_.useAnswerScript(nullptr);
        api_.swapLogger(apiLogger_);
        engineLogger_ = savedLogger_;
        lastError_ = savedLastError_;
        error_.str(savedError_);
        error_.clear();
        error_.seekp(0, std::ios_base::end);
    }
    DryScope(const DryScope&) = delete;
    DryScope& operator=(const DryScope&) = delete;

private:
    KXSO::SnapInfo*& engineLogger_;
    KXSO::SnapInfo* savedLogger_;
    KXSO::SnapInfo* apiLogger_ = nullptr;
    int32_t& lastError_;
    int32_t savedLastError_;
    std::ostringstream& error_;
    std::string savedError_;
    KXSnapAzureNetAppAPI& api_;
};

class LiveScope {
public:
    LiveScope(KXSnapAzureNetAppAPI& api, AnfAnswerScript& script) : api_(api) {
        script.rewind(AnfAnswerScript::Mode::kLive);
        api_.useAnswerScript(&script);
    }
    ~LiveScope() { api_.useAnswerScript(nullptr); }
    LiveScope(const LiveScope&) = delete;
    LiveScope& operator=(const LiveScope&) = delete;

private:
    KXSnapAzureNetAppAPI& api_;
};

// Records naming the same volume share a key; a record naming none has its own.
std::string VolumeKey(const KxSnapANFSnapObj& snapObj, size_t index) {
    const AzureNetApp::AzureNetAppSnapshotInfo& volume = snapObj.snapshotInfo;
    if (volume.volumeName.empty()) {
        return "#" + std::to_string(index);
    }
    return FXString::ToLower(volume.subscriptionId + "/" + volume.resourceGroupName + "/" +
                             volume.netappAccountName + "/" + volume.capacityPoolName + "/" +
                             volume.volumeName);
}

}  // namespace

AnfSideBySide::AnfSideBySide(KXSnapAzureNetApp& engine, Step step, StopRule stops)
    : engine_(engine), step_(std::move(step)), stops_(std::move(stops)) {}

AnfSideBySide::~AnfSideBySide() = default;

void AnfSideBySide::prefetch(const std::vector<KxSnapANFSnapObj*>& records) {
    records_.clear();
    stopAt_ = std::numeric_limits<size_t>::max();
    for (KxSnapANFSnapObj* snapObj : records) {
        auto record = std::make_unique<Record>();
        record->original = snapObj;
        record->work = *snapObj;
        records_.push_back(std::move(record));
    }
    if (!engine_.api || records_.empty()) {
        return;
    }
    std::vector<std::unique_ptr<VolumeJob>> jobs;
    std::vector<KXFanOut::Job*> pointers;
    for (std::vector<size_t>& chain : volumeChains()) {
        jobs.push_back(std::make_unique<VolumeJob>(*this, std::move(chain)));
        pointers.push_back(jobs.back().get());
    }
    engine_.api->runSideBySide(pointers);
}

// One request at a time keeps the walk's order of requests: one chain per
// record. Otherwise one chain per volume, started in the order of its first record.
std::vector<std::vector<size_t>> AnfSideBySide::volumeChains() const {
    std::vector<std::vector<size_t>> chains;
    const bool oneAtATime = KXFanOut::MaxParallelFromSettings() == 1;
    std::map<std::string, size_t> chainOfVolume;
    for (size_t i = 0; i < records_.size(); ++i) {
        const std::string key = oneAtATime ? "#" + std::to_string(i)
                                           : VolumeKey(*records_[i]->original, i);
        const auto found = chainOfVolume.find(key);
        if (found == chainOfVolume.end()) {
            chainOfVolume.emplace(key, chains.size());
            chains.push_back({i});
        } else {
            chains[found->second].push_back(i);
        }
    }
    return chains;
}

bool AnfSideBySide::dryRun(size_t index, KXFanOut::Request& request) {
    Record& record = *records_[index];
    if (record.done || index > stopAt_ || record.original->snapInfo == nullptr) {
        return false;
    }
    KxSnapANFSnapObj work = *record.original;
    AnfDryRecord dryRecord(*record.original->snapInfo);
    work.snapInfo = &dryRecord;
    record.script.rewind(AnfAnswerScript::Mode::kDry);
    int code = 0;
    bool waits = false;
    try {
        DryScope scope(engine_.logger, engine_.lastError, engine_.error, *engine_.api, dryRecord,
                       record.script);
        code = step_(work);
    } catch (const AnfRequestPending& pending) {
        record.pending = pending.request;
        request = pending.request;
        waits = true;
    }
    // Kept even when the walk stops before the step ends: what the step
    // named before its last request is what may need removing.
    work.snapInfo = record.original->snapInfo;
    record.work = work;
    if (waits) {
        return true;
    }
    record.done = true;
    if (stops_ && stops_(code) && index < stopAt_) {
        stopAt_ = index;
    }
    return false;
}

void AnfSideBySide::take(size_t index, const KXFanOut::Answer& answer) {
    Record& record = *records_[index];
    record.script.record(record.pending, answer);
}

int AnfSideBySide::run(size_t index, KxSnapANFSnapObj& snapObj) {
    if (index >= records_.size() || !engine_.api) {
        return step_(snapObj);
    }
    LiveScope scope(*engine_.api, records_[index]->script);
    return step_(snapObj);
}

bool AnfSideBySide::reachedAzure(size_t index) const {
    return index < records_.size() && records_[index]->script.reachedAzure();
}

KxSnapANFSnapObj AnfSideBySide::dryWork(size_t index) const {
    return records_.at(index)->work;
}
