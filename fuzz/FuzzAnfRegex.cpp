// The NetApp Files resource-id and source device name expressions receive
// text from Azure and from the host. std::regex recurses per character, so
// the bounds in front of it are what keeps a hostile name from exhausting the
// stack or the clock.
#include "FuzzInput.h"
#include "KXSnapCloud/KXSnapAzureNetAppRegex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kxfuzz::Selected input = kxfuzz::Select(data, size, 3);
    std::smatch match;
    switch (input.choice) {
        case 0:
            AzureNetApp::matchWhole(input.text, AzureNetApp::rawVolumePathRegex(),
                                    AzureNetApp::resourceIdSeparators(), match);
            break;
        case 1:
            AzureNetApp::matchWhole(input.text, AzureNetApp::rawSnapshotPathRegex(),
                                    AzureNetApp::resourceIdSeparators(), match);
            break;
        default:
            AzureNetApp::matchWhole(input.text, AzureNetApp::sourceDeviceNameRegex(),
                                    AzureNetApp::sourceDeviceNameSeparators(), match);
            break;
    }
    return 0;
}
