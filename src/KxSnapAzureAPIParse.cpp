// Parsers from Compute and instance-metadata JSON into the records, and the
// converter from a disk record to a VM data-disk entry. A key that is absent
// reads as "" and is no error; only the named sections are required. Nothing
// here throws: a document that cannot be read gives code 1 and the parser's
// own message.
#include <exception>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "KxSnapAzureAPI.h"
#include "platform/FXString.h"

namespace {

CUxError ParseFailure(const char* message) {
    return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s", message);
}

// Reads the four members every resource document has.
void ReadResourceBasics(const KxJson::Value& document, AzureResourceInfo& resource) {
    resource.id = KxJson::GetStringValue(document, "id");
    resource.name = KxJson::GetStringValue(document, "name");
    resource.location = KxJson::GetStringValue(document, "location");
    resource.type = KxJson::GetStringValue(document, "type");
}

// Parses an object document; throws std::runtime_error for anything else.
KxJson::Value ParseObject(const std::string& json) {
    KxJson::Value document = KxJson::Unserialize(json);
    if (!document.is_object()) {
        throw std::runtime_error("not a JSON object");
    }
    return document;
}

void CopyOwnTags(const KxJson::Value& document, std::map<std::string, std::string>& tags) {
    KxJson::Value tagObject;
    if (!KxJson::FindObjectValue(document, "tags", tagObject)) {
        return;
    }
    for (const char* key :
         {AZURE_TAG_DISK_CREATED, AZURE_TAG_SNAPSHOT_CREATED, AZURE_TAG_DISK_REVERTED}) {
        const std::string value = KxJson::GetStringValue(tagObject, key);
        if (!value.empty()) {
            tags[key] = value;
        }
    }
}

}  // namespace

CUxError KxSnapAzureAPI::ParseVMMetaDataFromJSONReponse(const std::string& json,
                                                        AzureInstanceInfo& instance) {
    try {
        const KxJson::Value document = ParseObject(json);
        ReadResourceBasics(document, instance);
        instance.vmId = KxJson::GetStringValue(document, "vmId");
        instance.osType = KxJson::GetStringValue(document, "osType");
        instance.resourceGroupName = KxJson::GetStringValue(document, "resourceGroupName");
        instance.subscriptionId = KxJson::GetStringValue(document, "subscriptionId");
        // Azure compares resource group names without regard to case; we keep
        // one form so that URLs and comparisons agree.
        instance.resourceGroupName = FXString::ToUpper(instance.resourceGroupName);
    } catch (const std::exception&) {
        return ParseFailure("Exception while parsing instance metadata json response");
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ParseVMInfoFromJSONReponse(const std::string& json,
                                                    AzureInstanceInfo& instance) {
    try {
        instance.vmInfoJson = json;
        const KxJson::Value document = ParseObject(json);
        ReadResourceBasics(document, instance);
        KxJson::Value properties;
        if (!KxJson::FindObjectValue(document, "properties", properties)) {
            return ParseFailure("Failed to find properties section in vminfo json reponse");
        }
        instance.propertiesJson = KxJson::Serialize(properties);
        if (KxJson::HasKey(properties, "vmId")) {
            instance.vmId = KxJson::GetStringValue(properties, "vmId");
        }
        KxJson::Value storageProfile;
        if (!KxJson::FindObjectValue(properties, "storageProfile", storageProfile)) {
            return ParseFailure("Failed to find storageprofile section in vminfo json reponse");
        }
        KxJson::Value osDisk;
        if (!KxJson::FindObjectValue(storageProfile, "osDisk", osDisk)) {
            return ParseFailure("Failed to find osDisk section in vminfo json reponse");
        }
        if (KxJson::HasKey(osDisk, "osType")) {
            instance.osType = KxJson::GetStringValue(osDisk, "osType");
        }
        KxJson::Value diskArray;
        if (!KxJson::FindArrayValue(storageProfile, "dataDisks", diskArray)) {
            return ParseFailure("Failed to find dataDisks section in vminfo json reponse");
        }
        diskArray.push_back(osDisk);
        instance.disks.clear();
        if (ParseDiskInfoFromJsonResponse(diskArray, instance.disks).IsError()) {
            return ParseFailure("Failed to parse disks section in vminfo json reponse");
        }
        KxJson::Value zones;
        if (KxJson::FindArrayValue(document, "zones", zones)) {
            instance.zones.clear();
            for (const KxJson::Value& zone : zones) {
                if (zone.is_string()) {
                    instance.zones.push_back(zone.get<std::string>());
                }
            }
        }
    } catch (const std::exception&) {
        return ParseFailure("Exception while parsing vminfo json response");
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ParseDiskInfoFromJsonResponse(const KxJson::Value& diskArray,
                                                       std::vector<AzureDiskInfo>& disks) {
    if (!diskArray.is_array()) {
        return ParseFailure("Failed to parse disks section in vminfo json reponse");
    }
    for (const KxJson::Value& entry : diskArray) {
        AzureDiskInfo disk;
        if (ParseVMDiskInfoFromJsonResponse(entry, disk).IsError()) {
            return ParseFailure("Failed to parse disks section in vminfo json reponse");
        }
        disks.push_back(disk);
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ParseVMDiskInfoFromJsonResponse(const KxJson::Value& entry,
                                                         AzureDiskInfo& disk) {
    try {
        if (!entry.is_object()) {
            throw std::runtime_error("disk entry is not an object");
        }
        disk.name = KxJson::GetStringValue(entry, "name");
        // The OS disk has no "lun": it reads -1, which no allocation takes and
        // no data-disk LUN equals.
        disk.lun = KxJson::GetIntValue(entry, "lun", -1);
        disk.createOption = KxJson::GetStringValue(entry, "createOption");
        disk.caching = KxJson::GetStringValue(entry, "caching");
        disk.diskSizeGB = KxJson::GetUInt64Value(entry, "diskSizeGB", 0);
        KxJson::Value managedDisk;
        KxJson::Value vhd;
        if (KxJson::FindObjectValue(entry, "managedDisk", managedDisk)) {
            disk.id = KxJson::GetStringValue(managedDisk, "id");
            disk.storageAccountType = KxJson::GetStringValue(managedDisk, "storageAccountType");
            disk.isManaged = true;
        } else if (KxJson::FindObjectValue(entry, "vhd", vhd)) {
            disk.id = KxJson::GetStringValue(vhd, "uri");
            disk.isManaged = false;
        }
    } catch (const std::exception&) {
        return ParseFailure("Exception while parsing disks section in vminfo json response");
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ParseDiskInfoFromJsonResponse(const std::string& json,
                                                       AzureDiskInfo& disk) {
    try {
        const KxJson::Value document = ParseObject(json);
        ReadResourceBasics(document, disk);
        KxJson::Value sku;
        if (KxJson::FindObjectValue(document, "sku", sku)) {
            disk.storageAccountType = KxJson::GetStringValue(sku, "name");
        } else {
            disk.storageAccountType = "Standard_LRS";
            g_ptrLogWriter->Write("%s", "Unable to find sku section in diskInfo json reponse");
        }
        KxJson::Value properties;
        if (!KxJson::FindObjectValue(document, "properties", properties)) {
            return ParseFailure("Failed to find properties section in diskInfo json reponse");
        }
        disk.propertiesJson = KxJson::Serialize(properties);
        disk.timeCreated = KxJson::GetStringValue(properties, "timeCreated");
        disk.diskState = KxJson::GetStringValue(properties, "diskState");
        disk.diskSizeGB = KxJson::GetUInt64Value(properties, "diskSizeGB", 0);
        disk.provisioningState = KxJson::GetStringValue(properties, "provisioningState");
        KxJson::Value creationData;
        if (!KxJson::FindObjectValue(properties, "creationData", creationData)) {
            return ParseFailure("Failed to find creation section in disk/properties json reponse");
        }
        disk.sourceResourceId = KxJson::GetStringValue(creationData, "sourceResourceId");
        disk.createOption = KxJson::GetStringValue(creationData, "createOption");
    } catch (const std::exception&) {
        return ParseFailure("Exception while parsing diskInfo json response");
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ParseSnapShotInfoFromJSONReponse(const std::string& json,
                                                          AzureDiskSnapShotInfo& snapshot) {
    return ParseDiskInfoFromJsonResponse(json, static_cast<AzureDiskInfo&>(snapshot));
}

CUxError KxSnapAzureAPI::ParseResourceInfoFromJSONReponse(const std::string& json,
                                                          AzureResourceInfo& resource) {
    try {
        const KxJson::Value document = ParseObject(json);
        ReadResourceBasics(document, resource);
        KxJson::Value properties;
        if (!KxJson::FindObjectValue(document, "properties", properties)) {
            return ParseFailure("Failed to find properties section in vminfo json reponse");
        }
        resource.propertiesJson = KxJson::Serialize(properties);
        CopyOwnTags(document, resource.tags);
    } catch (const std::exception&) {
        return ParseFailure("Exception while parsing resource json response");
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ParseAccessTokenFromJSONReponse(const std::string& json,
                                                         AzureAccessTokenInfo& token) {
    try {
        const KxJson::Value document = ParseObject(json);
        token.access_token = KxJson::GetStringValue(document, "access_token");
        // Token services send the two times as text or as numbers.
        token.expires_in = KxJson::GetScalarText(document, "expires_in");
        token.expires_on = KxJson::GetScalarText(document, "expires_on");
        token.resource = KxJson::GetStringValue(document, "resource");
        token.token_type = KxJson::GetStringValue(document, "token_type");
    } catch (const std::exception&) {
        return ParseFailure("Exception while parsing access token form json response");
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ConvertDiskInfoToJsonObj(const AzureDiskInfo& disk, KxJson::Value& entry) {
    entry = KxJson::Value::object();
    entry["name"] = disk.name;
    entry["lun"] = disk.lun;
    entry["caching"] = disk.caching;
    if (disk.isManaged) {
        entry["managedDisk"] = {{"id", disk.id}, {"storageAccountType", disk.storageAccountType}};
    }
    entry["createOption"] = disk.createOption;
    entry["diskSizeGB"] = disk.diskSizeGB;
    return CUxError::Success();
}
