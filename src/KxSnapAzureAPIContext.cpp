// Context of the REST client: settings, cloud endpoint, HTTP client, the
// managed-identity token and this virtual machine's description.
#include <cstdarg>
#include <string>

#include "KxSnapAzureAPI.h"
#include "KxSnapAzureAPIInternal.h"
#include "KxSnapAzureUtils.h"
#include "platform/EvDebug.h"
#include "platform/FXString.h"
#include "platform/KXLibCurl.h"
#include "platform/KXPlatformInfo.h"
#include "platform/KXSecretMask.h"

namespace {

constexpr const char* kWaitTimeKey = "nAzureRESTAPIReqWaitTimeSecs";
constexpr const char* kPollIntervalKey = "nAzureRESTAPIReqPollIntervalSecs";
constexpr const char* kRegionKey = "AzureRegion";
constexpr const char* kDisablePostCreateKey = "bAzureDisablePostCreateSnapPhase";
constexpr const char* kCurlTraceKey = "bEnableLibCurlTrace";
constexpr uint64_t kDefaultMaxWaitSecs = 1800;
constexpr uint64_t kDefaultPollIntervalSecs = 1;

struct CloudEndpoint {
    const char* region;
    const char* endpoint;
};

constexpr CloudEndpoint kCloudEndpoints[] = {
    {AZURE_GLOBAL, ENDPOINT_MANAGEMENT_GLOBAL},
    {AZURE_CHINA, ENDPOINT_MANAGEMENT_CHINA},
    {AZURE_GOV_US, ENDPOINT_MANAGEMENT_GOV_US},
    {AZURE_GERMANY, ENDPOINT_MANAGEMENT_GERMANY},
};

}  // namespace

KxSnapAzureAPI::KxSnapAzureAPI() : managementEndpoint(ENDPOINT_MANAGEMENT_GLOBAL) {}

KxSnapAzureAPI::~KxSnapAzureAPI() = default;

std::string KxSnapAzureAPI::MaskSecrets(const std::string& text) const {
    return KXSecretMask::Mask(text, {accessToken.access_token, proxyInfo.password});
}

void KxSnapAzureAPI::Log(int level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string text = MaskSecrets(FXString::FormatV(format, args));
    va_end(args);
    if (snapInfo != nullptr) {
        snapInfo->logMessage(level, AZURE_LOG_TAG, "%s", text.c_str());
    } else {
        EvDebug().WriteLine(level, AZURE_LOG_TAG, text.c_str());
    }
}

long KxSnapAzureAPI::GetLastHttpStatus() const {
    return curl ? curl->GetHttpErrorCode() : 0;
}

void KxSnapAzureAPI::ReadPollingSettings() {
    retryPolicy = KXRetry::Policy::FromSettings();
    maxWaitSecs = kDefaultMaxWaitSecs;
    pollIntervalSecs = kDefaultPollIntervalSecs;
    if (KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kWaitTimeKey, maxWaitSecs)) {
        Log(1, "Azure REST api request maximum wait time is set to [%lu secs]",
            static_cast<unsigned long>(maxWaitSecs));
    }
    if (KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kPollIntervalKey, pollIntervalSecs)) {
        Log(1, "Azure REST api request polling interval is set to [%lu secs]",
            static_cast<unsigned long>(pollIntervalSecs));
    }
}

CUxError KxSnapAzureAPI::InitAzureContext(KXSO::SnapInfo* record, AzureInstanceInfo& instance,
                                          int64_t job) {
    if (record == nullptr) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                       "Invalid Snap device object");
    }
    snapInfo = record;
    jobId = job;
    ReadPollingSettings();

    std::string region = AZURE_GLOBAL;
    KXPlatformInfo::getString(KX_SETTINGS_SECTION, kRegionKey, region);
    CUxError err = GetAzureEndPoint(region, managementEndpoint);
    if (err) {
        err.Push(FXCODE_LOCATION());
        FXErrorUtil::LogError(err);
        return err;
    }
    err = InitCurlObject();
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    err = GetInstanceMetaData(instance);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    Log(1, "Identified vm [%s] location [%s] resourceGrpName [%s] subscriptionId [%s]",
        instance.name.c_str(), instance.location.c_str(), instance.resourceGroupName.c_str(),
        instance.subscriptionId.c_str());
    GetAzureArrayAccessInfo(instance, accessToken, arrayName);

    disablePostCreateSnapPhase = false;
    KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, kDisablePostCreateKey,
                               disablePostCreateSnapPhase);
    if (disablePostCreateSnapPhase) {
        Log(1, "%s", "Found setting to disable post create snapshot phase");
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::GetAzureEndPoint(const std::string& region, std::string& endpoint) {
    endpoint.clear();
    for (const CloudEndpoint& cloud : kCloudEndpoints) {
        if (region == cloud.region) {
            endpoint = kxazure::ArmBaseFor(cloud.endpoint);
            Log(1, "Identified Azure Endpoint [%s]", endpoint.c_str());
            return CUxError::Success();
        }
    }
    return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                   "Failed to get Azure Endpoint for azureRegion [%s]",
                                   region.c_str());
}

CUxError KxSnapAzureAPI::InitCurlObject() {
    if (curlReady) {
        return CUxError::Success();
    }
    curl = std::make_unique<KXLibCurl>();
    if (!curl->KXLibCurlInit(HTTP_CONTENT_TYPE_JSON)) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                       "Failed to Initialize Curl Library");
    }
    bool trace = false;
    if (KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, kCurlTraceKey, trace) && trace) {
        curl->toggleTrace(true);
        Log(1, "%s", "libcurl tracing is enabled");
    }
    // A proxy that cannot be configured is logged there and passed over: the
    // token request below tells whether Azure is reachable at all.
    ConfigureWebProxySettings();

    const CUxError tokenErr = GetAzureMSIAccessToken();
    if (tokenErr) {
        Log(2, "%s", tokenErr.AsString(EErrorOutputFormat::Message).c_str());
        CUxError err = FXErrorUtil::ErrorErrNo(
            FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
            "Failed to get Azure access token using MSI authentication scheme");
        return err;
    }
    curlReady = true;
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::GetAzureMSIAccessToken() {
    AzureAPIRequest request;
    request.operation = AZURE_OP_GET_TOKEN;
    request.baseUrl = kxazure::ImdsUrl(ENDPOINT_MSI_AUTH);
    request.leaf = "token";
    request.queryParams = {"resource=" + managementEndpoint,
                           std::string("api-version=") + AZURE_API_MSI_VERSION};
    std::string response;
    CUxError err = SendRESTURLRequest(request, "", response);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    err = ParseAccessTokenFromJSONReponse(response, accessToken);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    if (accessToken.access_token.empty()) {
        // Without a token every later request would be refused; stop here.
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                       "The access token response holds no access_token");
    }
    Log(1, "Fetched Azure access token from [%s] for resource [%s]", request.baseUrl.c_str(),
        managementEndpoint.c_str());
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::GetInstanceMetaData(AzureInstanceInfo& instance) {
    AzureAPIRequest metadataRequest;
    metadataRequest.operation = AZURE_OP_GET_INSTANCE_METADATA;
    metadataRequest.baseUrl = kxazure::ImdsUrl(ENDPOINT_INST_METADATA);
    metadataRequest.leaf = "compute";
    metadataRequest.queryParams = {std::string("api-version=") + AZURE_API_METADATA_VERSION};
    std::string response;
    CUxError err = SendRESTURLRequest(metadataRequest, "", response);
    if (!err) {
        err = ParseVMMetaDataFromJSONReponse(response, instance);
    }
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    Log(1, "Found vm name [%s] location [%s] resourceGrpName [%s]", instance.name.c_str(),
        instance.location.c_str(), instance.resourceGroupName.c_str());

    // These three names form the VM's URL; refuse any that would address
    // something else.
    for (const std::string* name :
         {&instance.subscriptionId, &instance.resourceGroupName, &instance.name}) {
        err = ValidateAzureResourceName(*name);
        if (err) {
            return err.Push(FXCODE_LOCATION());
        }
    }
    AzureAPIRequest vmRequest;
    vmRequest.operation = AZURE_OP_GET_VM_INFO;
    vmRequest.baseUrl = managementEndpoint;
    vmRequest.resourcePath = "subscriptions/" + instance.subscriptionId + "/resourceGroups/" +
                             instance.resourceGroupName +
                             "/providers/Microsoft.Compute/virtualMachines/";
    vmRequest.leaf = instance.name;
    vmRequest.queryParams = {std::string("api-version=") + AZURE_API_VERSION};
    err = SendRESTURLRequest(vmRequest, "", response);
    if (!err) {
        err = ParseVMInfoFromJSONReponse(response, instance);
    }
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    return CUxError::Success();
}
