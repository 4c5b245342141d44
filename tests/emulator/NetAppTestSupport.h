// A scenario with NetApp Files volumes behind the VM and the requests the plug-in's NetApp
// Files client makes, for the NetApp, network and access tests.
#pragma once

#include <string>

#include "TestSupport.h"

namespace azemu::test {

// baseScenario() plus: resource groups anf-rg, net-rg and hidden-rg (the VM's identity has no
// role on it); a second visible subscription and an invisible third; virtual network
// test-vnet (net-rg) with subnets vm 10.1.2.0/24 (the VM's NIC) and anf 10.1.3.0/28; account
// acct1 (anf-rg) / pool1 with vol1 (token share1, 10.1.3.4, 200 GiB, NFSv3, content
// "vol1-v1", snapshot old-snap) and vol2 (token share2, address allocated: 10.1.3.5, NFSv4.1);
// account hiddenacct (hidden-rg) / poolh with vol3 (token share3, 10.1.3.6).
Json netAppScenario();

constexpr const char* kNetAppApi = "2019-11-01";
constexpr const char* kOtherSubscription = "99999999-aaaa-4bbb-8ccc-dddddddddddd";
constexpr const char* kInvisibleSubscription = "88888888-aaaa-4bbb-8ccc-dddddddddddd";

class NetAppTest : public EmulatorTest {
protected:
    void SetUp() override;

    // Paths as the client forms them: no leading slash.
    std::string groupPathOf(const std::string& group) const;
    std::string poolPath(const std::string& group = "anf-rg", const std::string& account = "acct1",
                         const std::string& pool = "pool1") const;
    std::string volumePath(const std::string& volume) const;
    std::string snapshotPathOf(const std::string& volume, const std::string& snapshot) const;
    std::string volumeId(const std::string& volume) const;  // "/subscriptions/..."

    Reply anf(const std::string& method, const std::string& path, const std::string& body = "");
    // PUT of a snapshot as the client sends it; returns the reply.
    Reply putSnapshot(const std::string& volume, const std::string& name);
    // The clone body the client builds: tags, creation token = name, the snapshot's GUID, the
    // quota as text, one export rule per VM address.
    Json cloneBody(const std::string& name, const std::string& snapshotGuid,
                   const std::string& sourceVolume = "vol1");
    // Follows an Azure-AsyncOperation link to its end; returns the final document.
    Json finish(const Reply& accepted);
    const NetAppVolumeView* volumeView(const std::string& token);
    std::vector<NetAppVolumeView> views_;
};

}  // namespace azemu::test
