// Shared pieces of the emulator tests: a scenario, a temporary directory, a small HTTP client
// and a fixture that runs one emulator per test.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AzureEmulator.h"

namespace azemu::test {

// A zonal VM "testvm" in "Test-RG" with data disks at LUN 0 (data0) and 1 (data1), a spare
// disk in the same zone, a regional disk, a snapshot of data0, another VM holding "otherdisk",
// and loop0/dm-0 devices.
Json baseScenario();

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct Reply {
    bool transportOk = false;  // false: connection failed, dropped or cut short
    int status = 0;
    std::string body;
    std::multimap<std::string, std::string> headers;
    std::string header(const std::string& name) const;
    Json json() const;  // throws when the body is not JSON
};

// One request per connection unless keepAlive; HTTPS verified against caFile.
class Client {
public:
    explicit Client(std::string baseUrl, std::string caFile = "", bool keepAlive = false);
    ~Client();
    Reply send(const std::string& method, const std::string& pathAndQuery,
               const std::string& body = "",
               const std::vector<std::pair<std::string, std::string>>& headers = {});

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Splits an absolute URL into base ("https://127.0.0.1:P") and path-and-query.
std::pair<std::string, std::string> splitUrl(const std::string& url);

bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the running emulator with one for `scenario`.
    void restart(const Json& scenario, const std::string& stateFile = "");

    Reply arm(const std::string& method, const std::string& path, const std::string& body = "",
              const std::string& apiVersion = "2018-04-01");
    Reply armGetUrl(const std::string& absoluteUrl);
    Reply imds(const std::string& pathAndQuery, bool metadataHeader = true);
    Reply admin(const std::string& method, const std::string& path, const std::string& body = "");

    // Paths as the plug-in forms them: no leading slash, resource group in capitals.
    std::string groupPath() const;
    std::string vmPath() const;
    std::string diskPath(const std::string& name) const;
    std::string snapshotPath(const std::string& name) const;

    Json getVm();
    // PUTs `vm` back; returns the reply.
    Reply putVm(const Json& vm);
    static Json dataDisksOf(const Json& vm) {
        return vm["properties"]["storageProfile"]["dataDisks"];
    }
    // The update body the plug-in sends: the properties it read, the location, nothing else.
    static Json updateWith(const Json& vm, const Json& dataDisks);
    // The data disk entry the plug-in sends to attach `disk` at `lun`.
    Json attachEntry(int lun, const std::string& disk) const;
    // Appends `entry` to the VM's data disks and PUTs the update; returns at once.
    Reply attachRaw(const Json& entry);
    // attachRaw of attachEntry(lun, diskName); waits for the operation.
    Reply attach(int lun, const std::string& diskName);
    // Changes one setting, e.g. tune(&Settings::asyncOperationDelayMs, 300).
    template <typename T, typename V>
    void tune(T Settings::*setting, V value) {
        Settings settings = emu_->settings();
        settings.*setting = static_cast<T>(value);
        emu_->setSettings(settings);
    }
    Reply detachLun(int lun);
    // Polls an Azure-AsyncOperation URL until its status is final; returns the last document.
    Json waitForOperation(const std::string& url);
    Reply createSnapshot(const std::string& name, const std::string& sourceDisk,
                         bool incremental = false);

    TempDir dir_;
    std::unique_ptr<Emulator> emu_;
    std::string token_;
    // One kept-alive connection, as the plug-in's HTTP client keeps one.
    Client& armClient();
    std::unique_ptr<Client> armClient_;
    const Emulator* armClientFor_ = nullptr;
};

// An error answer of `status` whose error code is `code` ("" for any code).
void expectError(const Reply& r, int status, const std::string& code = "");
std::string readLink(const std::string& path);
bool exists(const std::string& path);

}  // namespace azemu::test
