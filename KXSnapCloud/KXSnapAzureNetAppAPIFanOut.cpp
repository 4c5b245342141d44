// The client's requests sent side by side: formed and answered through the
// transport as its own requests are, so that the answer handlers read the
// same state (response, HTTP status, status link) as after a plain request.
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"

bool KXSnapAzureNetAppAPI::formSideBySideRequest(int type, const std::string& path,
                                                 const std::string& body,
                                                 KXFanOut::Request& request, bool retry) {
    if (!restClient) {
        request = KXFanOut::Request();
        return false;
    }
    return restClient->formRequest(type, path, body, request, false, retry);
}

bool KXSnapAzureNetAppAPI::takeSideBySideAnswer(const std::string& path,
                                                const KXFanOut::Request& request,
                                                const KXFanOut::Answer& answer) {
    startRequest(path, request.body);
    if (!restClient) {
        restError << "The REST client is not initialized; connect to Azure first.";
        return false;
    }
    return settleRequest(restClient->takeAnswer(request, answer, response));
}

size_t KXSnapAzureNetAppAPI::runSideBySide(const std::vector<KXFanOut::Job*>& jobs,
                                           KXFanOut::Statistics* statistics) {
    if (!restClient) {
        return jobs.size();
    }
    return restClient->runSideBySide(jobs, statistics);
}
