#include "CloudTestSupport.h"

#include <nlohmann/json.hpp>

namespace cloudtest {

std::string AnfSourcePath(const std::string& share, const std::string& serverAddress) {
    return "{idatype:NFS,type:nfs,lunuuid:\\/" + share + ",targethostname:" + serverAddress + "}";
}

kxsnap::RecordData AnfRecord(int64_t snapId, const std::string& share,
                             const std::string& serverAddress) {
    kxsnap::RecordData data;
    data.sourceDevicePath = AnfSourcePath(share, serverAddress);
    data.snapId = snapId;
    return data;
}

kxsnap::RecordData TaggedRecord(int64_t snapId, const std::string& cloudMetadata,
                                bool withEngineId) {
    kxsnap::RecordData data = AnfRecord(snapId);
    data.metadata[160] = cloudMetadata;
    data.snapFlags = 0x1000000000000ULL;
    data.snapEngineId = withEngineId ? 83 : 0;
    return data;
}

PlatformLog::PlatformLog() : env_("KXSO_LOG_FILE", (dir_ / "kxso.log").c_str()) {}

std::string PlatformLog::Text() const {
    return kxtest::ReadFile(dir_ / "kxso.log");
}

std::string TokenDocument(const std::string& token) {
    return nlohmann::json{
        {"access_token", token},      {"refresh_token", ""},
        {"expires_in", "3599"},       {"expires_on", "1506484173"},
        {"not_before", "1506480273"}, {"resource", "https://management.azure.com/"},
        {"token_type", "Bearer"}}
        .dump();
}

std::string InstanceDocument(const std::string& subscription, const std::string& resourceGroup,
                             const std::vector<std::string>& addresses) {
    nlohmann::json interfaces = nlohmann::json::array();
    for (const std::string& address : addresses) {
        interfaces.push_back(
            {{"ipv4",
              {{"ipAddress", {{{"privateIpAddress", address}, {"publicIpAddress", ""}}}},
               {"subnet", {{{"address", "10.20.0.0"}, {"prefix", "24"}}}}}},
             {"ipv6", {{"ipAddress", nlohmann::json::array()}}},
             {"macAddress", "000D3A000001"}});
    }
    return nlohmann::json{{"compute",
                           {{"location", "westeurope"},
                            {"name", "kxvm"},
                            {"resourceGroupName", resourceGroup},
                            {"subscriptionId", subscription},
                            {"vmId", "5c7e1f3a-2b4d-4c6e-8f0a-1b3c5d7e9f0a"}}},
                          {"network", {{"interface", interfaces}}}}
        .dump();
}

}  // namespace cloudtest
