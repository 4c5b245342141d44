// Every Compute answer parser: instance metadata, VM, disk, snapshot,
// generic resource and token documents. Azure's answers are never trusted to
// be well-formed; a parser may fail, never crash or throw.
#include "FuzzInput.h"
#include "KxSnapAzureAPI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kxfuzz::Selected input = kxfuzz::Select(data, size, 7);
    KxSnapAzureAPI api;
    AzureInstanceInfo instance;
    AzureDiskInfo disk;
    AzureDiskSnapShotInfo snapshot;
    AzureResourceInfo resource;
    AzureAccessTokenInfo token;
    switch (input.choice) {
        case 0:
            api.ParseVMMetaDataFromJSONReponse(input.text, instance);
            break;
        case 1:
            api.ParseVMInfoFromJSONReponse(input.text, instance);
            break;
        case 2:
            api.ParseDiskInfoFromJsonResponse(input.text, disk);
            break;
        case 3:
            api.ParseSnapShotInfoFromJSONReponse(input.text, snapshot);
            break;
        case 4:
            api.ParseResourceInfoFromJSONReponse(input.text, resource);
            break;
        case 5:
            api.ParseAccessTokenFromJSONReponse(input.text, token);
            break;
        default: {
            // The metadata document followed by the VM document, as a job
            // reads them: the second must cope with what the first left.
            const size_t half = input.text.size() / 2;
            api.ParseVMMetaDataFromJSONReponse(input.text.substr(0, half), instance);
            api.ParseVMInfoFromJSONReponse(input.text.substr(half), instance);
            break;
        }
    }
    return 0;
}
