// Requests answered from a record's answer script (see
// KXSnapAzureNetAppAnswerScript.h): formed and answered through the
// transport as its own requests are, so that every handler reads the same
// state (response, HTTP status, status link, log lines) as after a plain
// request.
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "KXSnapCloud/KXSnapAzureNetAppAnswerScript.h"
#include "platform/UXSleep.h"

KXSO::SnapInfo* KXSnapAzureNetAppAPI::swapLogger(KXSO::SnapInfo* record) {
    KXSO::SnapInfo* previous = logger;
    logger = record;
    if (restClient) {
        restClient->setLogger(record);
    }
    return previous;
}

bool KXSnapAzureNetAppAPI::sendScripted(int type, bool meta, bool retry) {
    // A live run past its recorded answers sends as usual, from the start:
    // the transport logs what it logs before sending only once.
    if (!answerScript->hasAnswersLeft() && !answerScript->dry()) {
        return settleRequest(sendThroughClient(type, meta, retry));
    }
    KXFanOut::Request request;
    if (!restClient->formRequest(type, requestPath, requestBody, request, meta, retry)) {
        return settleRequest(false);
    }
    const KXFanOut::Answer* answer = answerScript->answerFor(request);
    if (answer == nullptr) {
        return settleRequest(sendThroughClient(type, meta, retry));
    }
    return settleRequest(restClient->takeAnswer(request, *answer, response));
}

void KXSnapAzureNetAppAPI::pauseBeforeNextPoll(uint64_t milliseconds) {
    if (answerScript != nullptr && answerScript->pause(milliseconds)) {
        return;
    }
    UXSLEEP_InTeRnAl(milliseconds, __FILE__, __LINE__);
}
