// The NetApp Files records: resource ids, protocols, errors, the instance and
// token records, their dumps (log text, exact), and hostile input.
#include <string>

#include <gtest/gtest.h>

#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "KXSnapCloud/KXSnapAzureNetAppJson.h"

namespace {

using AzureNetApp::AzureAccessTokenInfo;
using AzureNetApp::AzureError;
using AzureNetApp::AzureInstanceInfo;
using AzureNetApp::AzureNetAppSnapshotInfo;
using AzureNetApp::AzureNetAppVolumeInfo;
using AzureNetApp::ProtocolTypes;

const char* const kVolumeId =
    "/subscriptions/sub-1/resourceGroups/rg-1/providers/Microsoft.NetApp/netAppAccounts/acc-1/"
    "capacityPools/pool-1/volumes/vol-1";

TEST(AnfVolumeRecord, ParsesTheFiveCoordinatesOfAVolumeIdAndNothingElse) {
    AzureNetAppVolumeInfo volume;
    EXPECT_FALSE(volume.parseRawPath());
    volume.rawPath = kVolumeId;
    ASSERT_TRUE(volume.parseRawPath());
    EXPECT_EQ("sub-1", volume.subscriptionId);
    EXPECT_EQ("rg-1", volume.resourceGroupName);
    EXPECT_EQ("acc-1", volume.netappAccountName);
    EXPECT_EQ("pool-1", volume.capacityPoolName);
    EXPECT_EQ("vol-1", volume.volumeName);
    // Greedy groups put extra segments into the volume name.
    volume.rawPath = std::string(kVolumeId) + "/snapshots/snap-1";
    ASSERT_TRUE(volume.parseRawPath());
    EXPECT_EQ("vol-1/snapshots/snap-1", volume.volumeName);
    EXPECT_EQ("pool-1", volume.capacityPoolName);

    AzureNetAppVolumeInfo refused;
    // Partial, prefixed (the match is whole-string) and foreign ids.
    for (const std::string& id :
         {std::string("/subscriptions/sub-1/resourceGroups/rg-1"), std::string("x") + kVolumeId,
          std::string("/subscriptions/s/resourceGroups/r/providers/Microsoft.Compute/disks/d/"
                      "volumes/v")}) {
        refused.rawPath = id;
        EXPECT_FALSE(refused.parseRawPath()) << id;
    }
    EXPECT_TRUE(refused.subscriptionId.empty());
}

TEST(AnfSnapshotRecord, TakesOnlyTheSnapshotNameFromItsId) {
    AzureNetAppSnapshotInfo snapshot;
    EXPECT_FALSE(snapshot.parseRawPath());
    snapshot.snapRawPath = std::string(kVolumeId) + "/snapshots/snap-1";
    ASSERT_TRUE(snapshot.parseRawPath());
    EXPECT_EQ("snap-1", snapshot.snapshotName);
    EXPECT_TRUE(snapshot.volumeName.empty());
    snapshot.snapRawPath = kVolumeId;
    EXPECT_FALSE(snapshot.parseRawPath());
}

// Names in any letter case; unknown names, wrong kinds and non-arrays only
// leave the flags unset. The JSON array lists the set flags in order.
TEST(AnfProtocolTypes, ParseIgnoresLetterCaseAndTheArrayListsTheSetFlagsInOrder) {
    ProtocolTypes protocols;
    EXPECT_TRUE(protocols.parseFromArray(AnfJson::Value::parse(R"(["nfsv3","smb"])")));
    EXPECT_TRUE(protocols.nfsv3 && protocols.smb && !protocols.nfsv41);
    EXPECT_EQ(R"(["NFSv3","SMB"])", AnfJson::text(protocols.createJSONArray()));
    EXPECT_TRUE(protocols.parseFromArray(AnfJson::Value::parse(R"(["NfSv4.1", 7, null])")));
    EXPECT_TRUE(protocols.nfsv41 && !protocols.nfsv3);
    EXPECT_FALSE(protocols.parseFromArray(AnfJson::Value::parse(R"(["CIFS"])")));
    EXPECT_FALSE(protocols.nfsv3 || protocols.nfsv41 || protocols.smb);
    EXPECT_EQ("[]", AnfJson::text(protocols.createJSONArray()));
    EXPECT_FALSE(protocols.parseFromArray(AnfJson::Value::parse(R"({"NFSv3":true})")));
    protocols.nfsv3 = protocols.nfsv41 = protocols.smb = true;
    EXPECT_EQ(R"(["NFSv3","NFSv4.1","SMB"])", AnfJson::text(protocols.createJSONArray()));
    EXPECT_EQ("[NFSv3:true, NFSv4:true, SMB:true]", protocols.dump());
}

TEST(AnfAzureError, WithoutTheKeysReturnsFalseAndStaysEmpty) {
    AzureError error;
    error.code = "old";
    EXPECT_FALSE(error.fromJsonObj(AnfJson::Value::parse(R"({"status":"Failed"})"), false));
    EXPECT_TRUE(error.code.empty());
    EXPECT_TRUE(error.message.empty());
    // Numbers are not text: the record does not guess.
    EXPECT_FALSE(error.fromJsonObj(AnfJson::Value::parse(R"({"code":404})"), false));
    EXPECT_FALSE(error.fromJsonObj(AnfJson::Value::parse("[1,2]"), true));
}

TEST(AnfInstanceRecord, UriNeedsAllThreePartsAndValidityTheFirstTwo) {
    AzureInstanceInfo instance;
    EXPECT_FALSE(instance.validate());
    instance.subscriptionId = "sub";
    EXPECT_FALSE(instance.validate());
    instance.resourceGroupName = "rg";
    EXPECT_TRUE(instance.validate());
    instance.uri = "old";
    EXPECT_FALSE(instance.generateUri());
    EXPECT_EQ("old", instance.uri);
    instance.name = "vm";
    EXPECT_TRUE(instance.generateUri());
    EXPECT_EQ("/subscriptions/sub/resourceGroups/rg/providers/Microsoft.Compute/virtualMachines/vm",
              instance.uri);
    instance.clear();
    EXPECT_FALSE(instance.validate());
}

TEST(AnfTokenRecord, DumpShowsTheTokensLengthNeverTheToken) {
    AzureAccessTokenInfo token;
    token.access_token = "eyJ0eXAiOiJKV1Qi.secret-part";
    token.expires_in = "3599";
    token.expires_on = "1506484173";
    token.resource = "https://management.azure.com/";
    token.token_type = "Bearer";
    token.not_before = "1506480273";
    token.client_id = "cid";
    token.ext_expires_in = "3599";
    const std::string dump = token.dump();
    EXPECT_EQ(
        "access_token(length) : [28] expires_in : [3599] expires_on : [1506484173] "
        "resource : [https://management.azure.com/] token_type : [Bearer] "
        "not_before : [1506480273] client_id : [cid] ext_expires_in : [3599]",
        dump);
    EXPECT_EQ(std::string::npos, dump.find("secret-part"));
}

TEST(AnfJsonHelpers, KindsAreNeverConfused) {
    AnfJson::Value object;
    ASSERT_TRUE(AnfJson::parse(R"({"s":"1","n":2,"o":{},"a":[]})", object));
    EXPECT_TRUE(AnfJson::has<AnfJson::String>(object, "s"));
    EXPECT_FALSE(AnfJson::has<AnfJson::Number>(object, "s"));
    EXPECT_EQ(2, AnfJson::get<AnfJson::Number>(object, "n", -1));
    EXPECT_EQ("dflt", AnfJson::get<AnfJson::String>(object, "n", "dflt"));
    EXPECT_TRUE(AnfJson::has<AnfJson::Object>(object, "o"));
    EXPECT_FALSE(AnfJson::has<AnfJson::Object>(object, "a"));
    EXPECT_TRUE(AnfJson::has<AnfJson::Array>(object, "a"));
    AnfJson::Value notObject;
    EXPECT_FALSE(AnfJson::parse("[1]", notObject));
    EXPECT_TRUE(notObject.is_object());
    EXPECT_FALSE(AnfJson::parse("<html>", notObject));
    EXPECT_FALSE(AnfJson::parse(std::string(1000, '[') + std::string(1000, ']'), notObject));
    AnfJson::import(notObject, "k", "v");
    EXPECT_EQ(R"({"k":"v"})", AnfJson::text(notObject));
}

}  // namespace
