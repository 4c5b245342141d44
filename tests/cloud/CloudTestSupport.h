// Helpers of the cloud suite: NetApp Files host records, the platform log of a
// test, and a loopback HTTP server that plays the metadata service and the
// Resource Manager where the emulator has nothing to offer yet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "kxsnap/HostRecord.h"
#include "support/TestEnv.h"

namespace cloudtest {

// A NetApp Files source device name as the host gives it.
std::string AnfSourcePath(const std::string& share, const std::string& serverAddress);
// A record of a mounted NetApp Files share, snapshot number `snapId`.
kxsnap::RecordData AnfRecord(int64_t snapId, const std::string& share = "vol1",
                             const std::string& serverAddress = "10.20.0.9");
// A record that prepare tagged: cloud metadata, the cloud flag and, unless
// `withEngineId` is false, snap-engine id 83.
kxsnap::RecordData TaggedRecord(int64_t snapId, const std::string& cloudMetadata = "100|101",
                                bool withEngineId = true);

// Points the platform log at a file of the test's own.
class PlatformLog {
public:
    PlatformLog();
    std::string Text() const;
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

private:
    kxtest::TempDir dir_;
    kxtest::ScopedEnv env_;
};

// The loopback server of the HTTP client tests, answering 404 where no route
// fits, as Resource Manager does.
using SeenRequest = kxtest::RecordedRequest;
using Reply = kxtest::CannedReply;

class LoopbackServer : public kxtest::LoopbackServer {
public:
    LoopbackServer() {
        SetDefaultReply({404, R"({"error":{"code":"NotFound","message":"no route"}})", {}});
    }
    // "http://127.0.0.1:PORT/"
    std::string Url() const { return kxtest::LoopbackServer::Url("/"); }
};

// A token response of the metadata service.
std::string TokenDocument(const std::string& token);
// An instance document of api-version 2019-08-15 with one interface per
// entry of `addresses`.
std::string InstanceDocument(const std::string& subscription, const std::string& resourceGroup,
                             const std::vector<std::string>& addresses);

// Points the management endpoint and the metadata service at `server`.
class ScopedEndpoints {
public:
    explicit ScopedEndpoints(const LoopbackServer& server)
        : arm_("KXSO_ARM_ENDPOINT", server.Url().c_str()),
          imds_("KXSO_IMDS_ENDPOINT", server.Url().c_str()) {}

private:
    kxtest::ScopedEnv arm_;
    kxtest::ScopedEnv imds_;
};

}  // namespace cloudtest
