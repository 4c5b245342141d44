// A local stand-in for the parts of Azure that the snapshot plug-in talks to: the instance
// metadata service (plain HTTP), Resource Manager's Compute provider (HTTPS) and the device tree
// that the VM's kernel would show for its attached disks.
//
// Typical test use:
//
//     azemu::Emulator emu(scenarioJson, tempDir);
//     emu.start();
//     setenv("KXSO_ARM_ENDPOINT", emu.armUrl().c_str(), 1);   // "https://127.0.0.1:PORT/"
//     setenv("KXSO_IMDS_ENDPOINT", emu.imdsUrl().c_str(), 1); // "http://127.0.0.1:PORT/"
//     setenv("KXSO_CA_FILE", emu.caFile().c_str(), 1);
//     setenv("KXSO_ROOT", emu.root().c_str(), 1);
//
// Several emulators may run in one process; they share nothing. All methods are thread-safe.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EmulatorTypes.h"

namespace azemu {

class Emulator {
public:
    // `scenario` is the scenario document (see README.md), or a JSON string holding its text.
    // `root` is the directory under which the device tree is laid out (created if missing).
    // With `stateFile`, the Azure side is loaded from it when it exists and saved to it after
    // every change. Throws std::invalid_argument for a bad scenario, std::runtime_error for
    // file system trouble.
    Emulator(const Json& scenario, const std::string& root, const std::string& stateFile = "");
    ~Emulator();  // stops
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Binds 127.0.0.1 on ephemeral ports, writes the TLS certificate, lays out the device tree
    // and serves in background threads. Throws std::runtime_error when it cannot.
    void start();
    // Stops serving; waits for handlers in progress. Idempotent.
    void stop();
    bool running() const;

    std::string armUrl() const;    // "https://127.0.0.1:PORT/"
    std::string imdsUrl() const;   // "http://127.0.0.1:PORT/"
    std::string adminUrl() const;  // "http://127.0.0.1:PORT" (the value for KXSO_EMULATOR_ADMIN)
    std::string caFile() const;    // PEM of the self-signed certificate (also the CA)
    std::string root() const;
    // The JSON line the program prints: {"arm", "imds", "admin", "caFile", "root"}.
    Json endpoints() const;

    Settings settings() const;
    void setSettings(const Settings& s);

    // Faults apply to Azure requests (not to /_emulator/ admin requests). Returns the fault id.
    int injectFault(const FaultSpec& fault);
    std::vector<FaultInfo> faults() const;
    void clearFaults();

    std::vector<RequestRecord> requestLog() const;
    void clearRequestLog();
    // TCP connections accepted on both listeners (TLS handshakes included in the https count).
    uint64_t connectionCount() const;
    uint64_t armConnectionCount() const;
    uint64_t imdsConnectionCount() const;

    // The whole Azure side and device tree as JSON (tokens are counted, never shown).
    Json state() const;
    // Back to the scenario: resources, VM, device tree; faults and the log are cleared.
    // Issued tokens stay valid.
    void reset();
    // Finishes every pending provisioning, operation, deletion and device event now (operations
    // told never to end are left alone).
    void completePending();
    // Waits until no device event is pending or the timeout passes; true when settled.
    bool settleDevices(std::chrono::milliseconds timeout);

    // A token as the metadata service would issue it, for tests that skip the token request.
    std::string issueToken();

    std::string subscriptionId() const;
    std::string resourceGroup() const;
    std::string location() const;
    std::string vmResourceId() const;
    std::string diskId(const std::string& name) const;      // id form for a disk of that name
    std::string snapshotId(const std::string& name) const;  // id form for a snapshot

    // Resource document as a GET with the newest supported api-version shows it.
    std::optional<Json> resource(const std::string& id) const;
    Json vmDocument() const;
    std::vector<AttachedDisk> dataDisks() const;
    std::vector<BlockDevice> devices() const;

    // NetApp Files volumes, with their snapshots and content labels.
    std::vector<NetAppVolumeView> netAppVolumes() const;
    // Simulates the application writing to a volume (by id or creation token): its content
    // label changes, so that snapshots, clones and reverts can be told apart. False when there
    // is no such volume.
    bool setVolumeContent(const std::string& volume, const std::string& content);
    // Deletes a NetApp Files snapshot, or a volume with its snapshots, at once and behind the
    // plug-in's back. False when there is no such resource.
    bool removeNetAppResource(const std::string& id);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace azemu
