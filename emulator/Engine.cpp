#include "Engine.h"

#include <algorithm>
#include <iostream>

#include "ApiVersions.h"
#include "ArmPath.h"
#include "AsyncOperations.h"
#include "ComputeDisks.h"
#include "NetAppDocuments.h"
#include "NetAppOperations.h"
#include "NetAppStore.h"
#include "StateFile.h"
#include "Util.h"
#include "VirtualMachines.h"
#include "VirtualNetwork.h"

namespace azemu {

namespace {
// Finished operations are kept for polling; past this many the oldest are forgotten.
constexpr size_t kKeptOperations = 2000;
}  // namespace

Engine::Engine(ScenarioConfig scenario, const std::string& root, const std::string& stateFile)
    : scenario_(std::move(scenario)),
      stateFile_(stateFile),
      devices_(root, scenario_.machine),
      settings_(scenario_.settings) {
    std::optional<SavedState> saved;
    if (!stateFile_.empty())
        saved = loadStateFile(stateFile_);
    if (saved) {
        state_ = std::move(saved->azure);
        tokens_.load(std::move(saved->tokens));
    } else {
        state_ = scenario_.initial;
    }
}

Engine::~Engine() {
    stop();
}

void Engine::layOutDevices() {
    auto lk = lock();
    devices_.layOut(state_);
    persistLocked();
}

void Engine::start(const std::string& armBaseUrl) {
    auto lk = lock();
    armBaseUrl_ = armBaseUrl;
    stop_ = false;
    clock_ = std::thread([this] { clockLoop(); });
}

void Engine::stop() {
    {
        auto lk = lock();
        stop_ = true;
    }
    clockWake_.notify_all();
    devicesSettled_.notify_all();
    stopping_.notify_all();
    if (clock_.joinable())
        clock_.join();
}

void Engine::clockLoop() {
    auto lk = lock();
    while (!stop_) {
        try {
            advanceLocked();
        } catch (const std::exception& e) {
            // Nothing to answer here; the next request reports trouble again if it persists.
            std::cerr << "azure-emulator: " << e.what() << std::endl;
        }
        auto next = nextDueLocked();
        if (next) {
            auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(*next));
            clockWake_.wait_until(lk, when);
        } else {
            clockWake_.wait(lk);
        }
    }
}

std::optional<int64_t> Engine::nextDueLocked() const {
    std::optional<int64_t> next;
    auto consider = [&](int64_t due) {
        if (due != kNeverDue && (!next || due < *next))
            next = due;
    };
    for (const auto& [key, op] : state_.operations) {
        if (op.status == "InProgress")
            consider(op.dueMs);
    }
    for (const auto& e : state_.deviceEvents)
        consider(e.dueMs);
    return next;
}

void Engine::advanceLocked() {
    int64_t now = nowMs();
    bool changed = false;
    for (auto& [key, op] : state_.operations) {
        if (op.status == "InProgress" && op.dueMs != kNeverDue && op.dueMs <= now) {
            completeOperationLocked(op, now);
            changed = true;
        }
    }
    auto& events = state_.deviceEvents;
    std::stable_sort(events.begin(), events.end(),
                     [](const DeviceEvent& a, const DeviceEvent& b) { return a.dueMs < b.dueMs; });
    while (!events.empty() && events.front().dueMs <= now) {
        devices_.apply(state_, events.front());
        events.erase(events.begin());
        changed = true;
    }
    if (changed) {
        pruneOperationsLocked();
        persistLocked();
        devicesSettled_.notify_all();
    }
}

void Engine::completeOperationLocked(AsyncOperation& op, int64_t now) {
    if (op.kind == "vmUpdate") {
        for (DeviceEvent e : finishVmUpdate(state_, op, now)) {
            // By default the kernel has the device before Azure reports success.
            if (settings_.deviceDelayMs == 0) {
                devices_.apply(state_, e);
            } else {
                e.dueMs = now + settings_.deviceDelayMs;
                state_.deviceEvents.push_back(e);
            }
        }
    } else if (op.kind == "provision") {
        finishProvisioning(state_, op, now);
    } else if (op.kind == "delete") {
        finishDeletion(state_, op, now);
    } else if (isNetAppOperation(op)) {
        finishNetAppOperation(state_, op, now);
    } else {
        endOperation(op, op.outcome, now);
    }
}

void Engine::pruneOperationsLocked() {
    auto& ops = state_.operations;
    if (ops.size() <= kKeptOperations)
        return;
    std::vector<std::pair<int64_t, std::string>> finished;
    for (const auto& [key, op] : ops) {
        if (op.status != "InProgress")
            finished.emplace_back(op.endMs, key);
    }
    std::sort(finished.begin(), finished.end());
    for (size_t i = 0; i < finished.size() && ops.size() > kKeptOperations; ++i) {
        ops.erase(finished[i].second);
    }
}

void Engine::changedLocked() {
    persistLocked();
    clockWake_.notify_all();
}

void Engine::persistLocked() {
    if (stateFile_.empty())
        return;
    saveStateFile(stateFile_, SavedState{state_, tokens_.records()});
}

AsyncOperation& Engine::startOperationLocked(const std::string& kind, const std::string& resourceId,
                                             const std::string& location, int delayMs,
                                             const AsyncEnding& ending) {
    AsyncOperation op = newOperation(kind, resourceId, location, delayMs, ending, nowMs());
    std::string key = toLower(op.id);
    clockWake_.notify_all();
    return state_.operations[key] = std::move(op);
}

Settings Engine::settings() const {
    auto lk = lock();
    return settings_;
}

void Engine::setSettings(const Settings& s) {
    auto lk = lock();
    settings_ = s;
}

IssuedToken Engine::issueToken() {
    auto lk = lock();
    IssuedToken t = tokens_.issue(settings_.tokenLifetimeSec);
    persistLocked();
    return t;
}

bool Engine::waitForDevices(std::chrono::milliseconds timeout) {
    auto lk = lock();
    advanceLocked();
    devicesSettled_.wait_for(lk, timeout, [&] { return stop_ || state_.deviceEvents.empty(); });
    return state_.deviceEvents.empty();
}

bool Engine::pause(std::chrono::milliseconds duration) {
    auto lk = lock();
    return !stopping_.wait_for(lk, duration, [&] { return stop_; });
}

void Engine::reset() {
    auto lk = lock();
    state_ = scenario_.initial;
    devices_.layOut(state_);
    faults_.clear();
    requestLog_.clear();
    persistLocked();
    devicesSettled_.notify_all();
    clockWake_.notify_all();
}

void Engine::completePending() {
    auto lk = lock();
    // Twice: an operation that finishes now may only then queue its device events.
    for (int round = 0; round < 2; ++round) {
        int64_t now = nowMs();
        for (auto& [key, op] : state_.operations) {
            if (op.status == "InProgress" && op.dueMs != kNeverDue)
                op.dueMs = std::min(op.dueMs, now);
        }
        for (auto& e : state_.deviceEvents)
            e.dueMs = std::min(e.dueMs, now);
        advanceLocked();
    }
}

Json Engine::dump() const {
    auto lk = lock();
    const std::string& api = newestComputeApiVersion();
    Json disks = Json::array(), snapshots = Json::array(), vms = Json::array();
    for (const auto& [key, d] : state_.disks) {
        (d.kind == "snapshots" ? snapshots : disks).push_back(renderDisk(d, api));
    }
    for (const auto& [key, vm] : state_.vms)
        vms.push_back(renderVm(vm, state_, api));
    Json ops = Json::array();
    int64_t now = nowMs();
    for (const auto& [key, op] : state_.operations) {
        Json o = isNetAppOperation(op) ? netAppOperationDocument(op, now)
                                       : operationStatusDocument(op, state_, api);
        o["kind"] = op.kind;
        o["resourceId"] = op.resourceId;
        ops.push_back(o);
    }
    Json other = Json::array();
    for (const auto& [key, doc] : state_.otherResources)
        other.push_back(doc);
    return {{"subscriptionId", scenario_.machine.subscriptionId},
            {"tenantId", scenario_.machine.tenantId},
            {"resourceGroups", state_.resourceGroups},
            {"disks", disks},
            {"snapshots", snapshots},
            {"virtualMachines", vms},
            {"otherResources", other},
            {"netApp", netAppDumpLocked()},
            {"networkInterfaces", nicsDumpLocked()},
            {"operations", ops},
            {"devices", state_.devices},
            {"pendingDeviceEvents", state_.deviceEvents},
            {"tokensIssued", tokens_.size()},
            {"settings", settings_.toJson()}};
}

std::optional<Json> Engine::resourceDocument(const std::string& id) const {
    auto lk = lock();
    const std::string& api = newestComputeApiVersion();
    if (const DiskRecord* d = findDisk(state_, id))
        return renderDisk(*d, api);
    if (const VmRecord* vm = findVm(state_, id))
        return renderVm(*vm, state_, api);
    const auto& subnets = scenario_.subnets;
    if (auto* a = findById(state_.netAppAccounts, id))
        return renderAccount(*a);
    if (auto* p = findById(state_.capacityPools, id))
        return renderPool(*p);
    if (auto* v = findById(state_.netAppVolumes, id))
        return renderVolume(*v, subnets);
    if (auto* s = findById(state_.netAppSnapshots, id))
        return renderSnapshot(*s);
    if (auto* n = findById(state_.networkInterfaces, id))
        return renderNic(state_, *n);
    auto it = state_.otherResources.find(idKey(id));
    if (it != state_.otherResources.end())
        return it->second;
    return std::nullopt;
}

// Volumes with what only the emulator knows about them (their content label, where a clone
// came from, what a revert went back to) and their snapshots, for tests and demos to inspect.
Json Engine::netAppDumpLocked() const {
    Json accounts = Json::array(), pools = Json::array(), volumes = Json::array();
    for (const auto& [key, a] : state_.netAppAccounts)
        accounts.push_back(renderAccount(a));
    for (const auto& [key, p] : state_.capacityPools)
        pools.push_back(renderPool(p));
    for (const auto& [key, v] : state_.netAppVolumes) {
        Json snapshots = Json::array();
        for (const auto* s : snapshotsOf(state_, v.id)) {
            Json doc = renderSnapshot(*s);
            doc["emulated"] = {{"content", s->content}};
            snapshots.push_back(doc);
        }
        Json doc = renderVolume(v, scenario_.subnets);
        doc["emulated"] = {{"content", v.content},
                           {"clonedFrom", v.sourceSnapshotId},
                           {"revertedTo", v.revertedTo},
                           {"snapshots", snapshots}};
        volumes.push_back(doc);
    }
    return {{"accounts", accounts}, {"capacityPools", pools}, {"volumes", volumes}};
}

std::vector<NetAppVolumeView> Engine::netAppVolumes() const {
    auto lk = lock();
    std::vector<NetAppVolumeView> out;
    for (const auto& [key, v] : state_.netAppVolumes) {
        NetAppVolumeView view{v.id,      v.creationToken,    "",           v.provisioningState,
                              v.content, v.sourceSnapshotId, v.revertedTo, v.tags,
                              {}};
        if (!v.mountTargets.empty())
            view.mountTargetIp = v.mountTargets[0].ipAddress;
        for (const auto* s : snapshotsOf(state_, v.id)) {
            view.snapshots.push_back(
                {s->id, s->name, s->snapshotId, s->provisioningState, s->content});
        }
        out.push_back(view);
    }
    return out;
}

bool Engine::setVolumeContent(const std::string& volume, const std::string& content) {
    auto lk = lock();
    for (auto& [key, v] : state_.netAppVolumes) {
        if (key == idKey(volume) || v.creationToken == volume) {
            v.content = content;
            persistLocked();
            return true;
        }
    }
    return false;
}

bool Engine::removeNetAppResource(const std::string& id) {
    auto lk = lock();
    if (findById(state_.netAppSnapshots, id)) {
        state_.netAppSnapshots.erase(idKey(id));
    } else if (findById(state_.netAppVolumes, id)) {
        removeVolume(state_, id);
    } else {
        return false;
    }
    persistLocked();
    return true;
}

Json Engine::nicsDumpLocked() const {
    Json nics = Json::array();
    for (const auto& [key, n] : state_.networkInterfaces)
        nics.push_back(renderNic(state_, n));
    return nics;
}

}  // namespace azemu
