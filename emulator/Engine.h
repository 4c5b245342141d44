// The emulator's core: the Azure state, the clock that moves it on (provisioning, operations,
// device events), persistence, tokens, faults and the request log. Request handlers lock it,
// read or change the state, and tell it what changed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "DeviceTree.h"
#include "EmulatorTypes.h"
#include "Faults.h"
#include "Model.h"
#include "RequestLog.h"
#include "Scenario.h"
#include "Tokens.h"

namespace azemu {

class Engine {
public:
    // Loads the state file when there is one, else takes the scenario's Azure side.
    Engine(ScenarioConfig scenario, const std::string& root, const std::string& stateFile);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Lays the device tree out afresh from the state. Throws std::runtime_error.
    void layOutDevices();
    // Starts the thread that finishes work when it falls due.
    void start(const std::string& armBaseUrl);
    // Wakes every waiter (settle, injected delays) and joins the thread.
    void stop();

    // ---- For request handlers, with lock() held.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(mutex_); }
    AzureState& state() { return state_; }
    const AzureState& state() const { return state_; }
    const MachineInfo& machine() const { return scenario_.machine; }
    // Fixed for the emulator's life: subscriptions, resource groups and who sees them, subnets.
    const ScenarioConfig& scenario() const { return scenario_; }
    const Settings& currentSettings() const { return settings_; }
    const std::string& armBaseUrl() const { return armBaseUrl_; }
    TokenStore& tokens() { return tokens_; }
    // Finishes whatever is due by now.
    void advanceLocked();
    // The state was changed: save it and let the clock thread see new due times.
    void changedLocked();
    // Starts an operation that ends after `delayMs`, or as `ending` says.
    AsyncOperation& startOperationLocked(const std::string& kind, const std::string& resourceId,
                                         const std::string& location, int delayMs,
                                         const AsyncEnding& ending);

    // ---- Thread-safe.
    Settings settings() const;
    void setSettings(const Settings& s);
    FaultTable& faults() { return faults_; }
    RequestLog& requestLog() { return requestLog_; }
    IssuedToken issueToken();
    bool waitForDevices(std::chrono::milliseconds timeout);
    // Sleeps unless the engine stops first; false when it was cut short.
    bool pause(std::chrono::milliseconds duration);
    void reset();
    void completePending();
    Json dump() const;
    // A resource as a GET with the newest api-version shows it; nullopt when there is none.
    std::optional<Json> resourceDocument(const std::string& id) const;
    const std::string& root() const { return devices_.root(); }
    std::vector<NetAppVolumeView> netAppVolumes() const;
    // What an application writing to the volume would do to it: its content label changes.
    // `volume` is an id or a creation token; false when there is no such volume.
    bool setVolumeContent(const std::string& volume, const std::string& content);
    // Removes a NetApp Files volume (with its snapshots) or snapshot at once, as someone
    // working outside the plug-in would. False when there is no such resource.
    bool removeNetAppResource(const std::string& id);

private:
    void completeOperationLocked(AsyncOperation& op, int64_t now);
    std::optional<int64_t> nextDueLocked() const;
    void persistLocked();
    void pruneOperationsLocked();
    void clockLoop();
    Json netAppDumpLocked() const;
    Json nicsDumpLocked() const;

    const ScenarioConfig scenario_;
    const std::string stateFile_;
    DeviceManager devices_;
    std::string armBaseUrl_;

    mutable std::mutex mutex_;
    std::condition_variable clockWake_;
    std::condition_variable devicesSettled_;
    std::condition_variable stopping_;
    bool stop_ = false;
    std::thread clock_;

    AzureState state_;
    TokenStore tokens_;
    Settings settings_;
    FaultTable faults_;
    RequestLog requestLog_;
};

}  // namespace azemu
