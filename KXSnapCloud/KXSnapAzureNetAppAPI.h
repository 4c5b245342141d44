// The NetApp Files REST client: connection (managed-identity token from the
// instance metadata service), this machine's details, Azure error extraction,
// monitoring of asynchronous operations, and the resource operations on
// snapshots, volumes and clones.
//
// One client serves one service engine for one call, on the host's calling
// thread. No operation throws: each returns a result code
// (ANF_API_CONST::ANF_RESULT) and leaves Azure's text in getRESTErrorString()
// and its own in getErrorString(); only the JSON helper getValueFromJSONObj
// throws, by design, for its caller to catch. Logs go through the host record
// given at construction.
//
// The files: KXSnapAzureNetAppAPIConnection.cpp (state, client, token),
// ...Instance.cpp (this machine), ...Errors.cpp (Azure error shapes),
// ...Async.cpp (operation links and monitoring), ...Snapshots.cpp (snapshot
// create, read, delete), ...Volumes.cpp (volume read and delete, the volume
// record), ...Clone.cpp (clone creation and its export rules), ...Revert.cpp
// (volume revert), ...Discovery.cpp (subscriptions, resource groups, network
// interfaces, volume lists and the walk that resolves devices to volumes),
// ...Requests.cpp (what the resource operations share: paths, status links).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "KXSnapCloud/KXSnapAzureNetAppJson.h"
#include "KXSnapCloud/KXSnapRESTAPI_ANF.h"
#include "kxso/KXSOSnapInfo.h"

class AnfAnswerScript;

class KXSnapAzureNetAppAPI {
public:
    explicit KXSnapAzureNetAppAPI(KXSO::SnapInfo* snapInfo);
    ~KXSnapAzureNetAppAPI();
    KXSnapAzureNetAppAPI(const KXSnapAzureNetAppAPI&) = delete;
    KXSnapAzureNetAppAPI& operator=(const KXSnapAzureNetAppAPI&) = delete;

    // --- State -----------------------------------------------------------------------
    // Diagnostic logging: request URLs and whole (masked) responses. False
    // when there is no log record.
    bool enableLogging();
    // Takes the positive retry count and interval of `configs` and its
    // diagnostic-logging switch. Always true.
    bool setConfigs(const AzureNetApp::ANFArrayConfigs& configs);
    std::string getErrorString() const;
    std::string getRESTErrorString() const;
    // Why the last call failed where neither Azure nor the established
    // messages say it (an answer that could not be read, a link that was
    // refused); messages carry it after their usual text.
    std::string getErrorDetailString() const;
    void resetRESTErr();
    // While set, requests are answered from `script` (see
    // KXSnapAzureNetAppAnswerScript.h); nullptr sends as usual.
    void useAnswerScript(AnfAnswerScript* script) { answerScript = script; }
    // The record this client and its transport log to; returns the previous one.
    KXSO::SnapInfo* swapLogger(KXSO::SnapInfo* record);

    // --- Connection and this machine -----------------------------------------------------
    // Prepares the transport for the management endpoint and the metadata
    // service in force. Always true.
    bool rest_initializeClient();
    // Fetches the managed-identity token; 0 at once when one is held already.
    int rest_connectToArray(AzureNetApp::AzureInstanceInfo& instance);
    // This machine's compute details; with ANF_GET_INSTANCE_FLAG_EXTENDED also
    // its private addresses (a missing network section is logged, not fatal).
    int rest_getInstanceDetails(AzureNetApp::AzureInstanceInfo& instance, int flags);

    // --- Azure errors ---------------------------------------------------------------------
    // Reads Azure's error out of a failed response into azureError and
    // restError; `isMetadata` selects the metadata service's shape.
    bool extractErrorMessage(const std::string& response, bool isMetadata);
    bool extractMetadataErrorMessage(const std::string& response);

    // --- Asynchronous operations ---------------------------------------------------------------
    // An "Azure-AsyncOperation:" header line or value as a request path
    // relative to the management endpoint in force. A link to any other
    // origin (scheme, host, port) is refused: "" with the reason in `error`.
    std::string processAsyncURL(const std::string& url);
    // Polls asyncOp.asyncOpUrl until the operation ends or retryCount - 1
    // polls were made. 0 succeeded; 17 failed; 18 a delete (opKind 2 or 4)
    // found its resource gone; 25 still running; otherwise the last failure.
    int monitorSnapOpProgress(AzureNetApp::AzureAsyncOpInfo& asyncOp, int opKind);
    int rest_getAsyncOpDetails(const std::string& url, std::string& response);
    int processGetAsyncOpDetailsResp(const std::string& response,
                                     AzureNetApp::AzureAsyncOpInfo& asyncOp);

    // --- JSON access ------------------------------------------------------------------------
    // The value of `key` when present with kind K; otherwise std::out_of_range
    // naming the key.
    template <typename K>
    static typename AnfJson::Kind<K>::Result getValueFromJSONObj(const AnfJson::Value& object,
                                                                 const std::string& key) {
        if (!AnfJson::has<K>(object, key)) {
            throw std::out_of_range(key);
        }
        return AnfJson::Kind<K>::read(*AnfJson::member(object, key));
    }
    template <typename K>
    static typename AnfJson::Kind<K>::Result getValueFromJSONObjDef(
        const AnfJson::Value& object, const std::string& key,
        const typename AnfJson::Kind<K>::Result& fallback) {
        return AnfJson::get<K>(object, key, fallback);
    }
    static std::string getJSONStringFromJSONKeyValMap(const AnfJson::KeyValueMap& members,
                                                      const std::string& key,
                                                      const std::string& fallback);

    // --- Resource operations ------------------------------------------------------------------
    // Every one answers a result code of ANF_API_CONST::ANF_RESULT and leaves
    // Azure's text in getRESTErrorString() and its own in getErrorString().

    // Requests snapshot snapObj.snapName of the volume in snapObj.snapshotInfo
    // (by its resource id when known). 0 when Azure created it or accepted the
    // request; an accepted request's status link is stored on the host record
    // as transient metadata 155 for the post-snapshot phase to follow. When
    // the answer is lost (the PUT, sent again as it is, finds the snapshot)
    // the snapshot is read by name and followed to its end.
    int rest_createSnap(AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Deletes snapshot snapObj.snapName and follows the operation to its end.
    // 18 when the snapshot no longer exists.
    int rest_deleteSnaps(AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Reads snapshot snapObj.snapName of snapObj.snapshotInfo's volume into
    // `snapshotInfo` (its snapshot fields only). 18 when it does not exist.
    int rest_getSnapshotInfo(AzureNetApp::KxSnapANFSnapObj& snapObj,
                             AzureNetApp::AzureNetAppSnapshotInfo& snapshotInfo);
    // The same for a snapshot resource id ("/subscriptions/..."); 29 when
    // `path` is not one.
    int rest_getSnapshotInfoFromURL(const std::string& path,
                                    AzureNetApp::AzureNetAppSnapshotInfo& snapshotInfo);
    // rest_getSnapshotInfo until the snapshot's provisioning state is final,
    // re-reading it at most retryCount - 1 times, retryInterval seconds
    // apart: 0 for "Succeeded" (or an answer without a state), 17 for
    // "Failed" or "Canceled", 25 when it was still in progress at the end;
    // a failed read gives the read's result.
    int rest_waitForSnapshot(AzureNetApp::KxSnapANFSnapObj& snapObj,
                             AzureNetApp::AzureNetAppSnapshotInfo& snapshotInfo);
    // Reads the volume named by volumeInfo's coordinates into volumeInfo;
    // `extended` adds subnet, quota, mount targets and protocols. 18 when the
    // volume does not exist.
    int rest_getVolumeInfo(AzureNetApp::AzureNetAppVolumeInfo& volumeInfo, bool extended);
    int rest_getCloneInfo(AzureNetApp::AzureNetAppVolumeInfo& volumeInfo);
    // Deletes the volume named by volumeInfo's coordinates and follows the
    // operation to its end. 18 when the volume no longer exists.
    int rest_deleteVolume(AzureNetApp::AzureNetAppVolumeInfo& volumeInfo);
    int rest_deleteClone(AzureNetApp::AzureNetAppVolumeInfo& volumeInfo);
    // Requests snapObj.cloneVolumeInfo as a new volume made from
    // snapObj.snapshotInfo's snapshot, exported to this machine's addresses.
    // 26 accepted (status link in snapObj.asyncOpLink), 0 created at once.
    int rest_createClone(AzureNetApp::KxSnapANFSnapObj& snapObj,
                         AzureNetApp::AzureInstanceInfo& instance);
    // Requests the revert of snapObj.snapshotInfo's volume to its snapshot.
    // 26 accepted (status link in snapObj.asyncOpLink), 0 reverted at once.
    int rest_revertVolume(AzureNetApp::KxSnapANFSnapObj& snapObj,
                          AzureNetApp::AzureInstanceInfo& instance);
    // Append what Azure lists; on any failure the list is left as it was.
    int rest_listSubscriptions(std::vector<std::string>& subscriptions);
    int rest_listResourceGroups(const std::string& subscription,
                                std::vector<std::string>& resourceGroups);
    // The raw list documents; 14 when the answer is not a JSON object.
    int rest_getAllNICInfo(const AzureNetApp::AzureEntity& entity, AnfJson::Value& json);
    int rest_listVolumesFromCP(const std::string& capacityPoolPath, AnfJson::Value& json);
    // Resolves every device to the volume whose creation token is its share
    // path and one of whose mount targets has the address it was mounted
    // from, searching only the capacity pools that the network interfaces of
    // `accessibleResGroups` carrying that address serve. A resolved device's
    // snapshotInfo holds the volume. 34 when some device stays unresolved.
    int discoverArrayVolumeDetails(AzureNetApp::SnapObjMap& snapObjs,
                                   std::vector<AzureNetApp::AzureEntity>& accessibleResGroups);

    // --- Requests side by side (KXSnapAzureNetAppAPIFanOut.cpp) -----------------------------
    // The request sendRESTRequest would send for `path` (relative to the
    // management endpoint), for a KXFanOut job to send; false, logged by the
    // transport, before rest_initializeClient/rest_connectToArray.
    bool formSideBySideRequest(int type, const std::string& path, const std::string& body,
                               KXFanOut::Request& request, bool retry = true);
    // The answer to such a request, taken as sendRESTRequest takes its own:
    // the request path, body and response set, the REST error cleared, the
    // HTTP status and header lines readable (lastHttpStatus,
    // asyncOperationLink) until the next request. False for a failed send,
    // which the caller follows with failedSend as after sendRESTRequest.
    bool takeSideBySideAnswer(const std::string& path, const KXFanOut::Request& request,
                              const KXFanOut::Answer& answer);
    // Runs `jobs` through the transport's runSideBySide; without a client
    // (rest_initializeClient not run) runs nothing and returns jobs.size().
    size_t runSideBySide(const std::vector<KXFanOut::Job*>& jobs,
                         KXFanOut::Statistics* statistics = nullptr);

protected:
    // Address -> capacity-pool paths reached through it; share path -> the
    // devices still unresolved that were mounted from it (one share path may
    // be mounted from two servers, each a volume of its own).
    using NicCache = std::map<std::string, std::set<std::string>>;
    using SharePathCache =
        std::map<std::string, std::vector<std::shared_ptr<AzureNetApp::KxSnapANFSnapObj>>>;

    // --- Answer handlers of this half ----------------------------------------------------------
    int processGetAccessTokenResp(const std::string& response);
    int processGetInstanceDetailsResp(const std::string& response,
                                      AzureNetApp::AzureInstanceInfo& instance, int flags);
    bool parseAzureInstanceNetworkInfo(const AnfJson::Value& network,
                                       AzureNetApp::AzureInstanceInfo& instance);
    bool parseAzureInstanceInterfaceInfo(const AnfJson::Value& networkInterface,
                                         AzureNetApp::AzureInstanceInfo& instance);

    // --- Body builders and answer handlers of the resource operations -------------------------
    // The write handlers judge the HTTP status `code` of a request that was
    // sent successfully, read its "Azure-AsyncOperation" link into `link` (a
    // request path, empty when there was none) and answer 0 done, 26
    // accepted with a link, or 14 for any status they do not expect.
    std::string buildJSONForCreateSnapReq(const AzureNetApp::KxSnapANFSnapObj& snapObj);
    std::string buildJSONForCreateCloneReq(const AzureNetApp::KxSnapANFSnapObj& snapObj,
                                           const AzureNetApp::AzureInstanceInfo& instance);
    std::string buildJSONForRevertVolumeReq(const AzureNetApp::KxSnapANFSnapObj& snapObj);
    int processCreateSnapResp(int64_t code, const std::string& response, std::string& link);
    int followUnansweredSnapCreation(AzureNetApp::KxSnapANFSnapObj& snapObj);
    int processdeleteSnapResp(int64_t code, const std::string& response, std::string& link);
    int processDeleteVolume(int64_t code, const std::string& response, std::string& link);
    int processDeleteAnswer(int64_t code, const char* what, std::string& link);
    int processCreateAnswer(int64_t code, const char* what, std::string& link);
    // Leaves a reason in `error` for an answer no status table accepts, when
    // none is there yet: the device's message must say what failed.
    void noteRejectedAnswer(const char* api, int64_t status);
    int processCreateClone(int64_t code, const std::string& response, std::string& link);
    int processRevertVolume(int64_t code, const std::string& response, std::string& link);
    int processGetSnapshotInfo(const std::string& response,
                               AzureNetApp::AzureNetAppSnapshotInfo& snapshotInfo);
    int processGetVolumeInfo(const std::string& response,
                             AzureNetApp::AzureNetAppVolumeInfo& volumeInfo, bool extended);
    int setANFVolumeDetails(const AnfJson::Value& volume,
                            AzureNetApp::AzureNetAppVolumeInfo& volumeInfo, bool extended);
    int processListSubscriptions(const std::string& response,
                                 std::vector<std::string>& subscriptions);
    int processListResourceGroups(const std::string& response,
                                  std::vector<std::string>& resourceGroups);
    // The strings under `key` of every element of a list answer's "value"
    // array; 14, with `names` untouched, when the answer is not such a list.
    int processNameList(const std::string& listResponse, const char* key,
                        std::vector<std::string>& names);
    // GET of `path` whose answer must be one JSON object; a list's later
    // pages are merged into it.
    int getJsonDocument(const std::string& path, AnfJson::Value& json);
    // GET of the list at `path`, every page of it: the answer's "nextLink"
    // is followed verbatim while it is on the management endpoint, and the
    // later pages' "value" elements are appended to the first page's, which
    // ends up in `response`. 15 for a failed page, 14 for a page that is not
    // a list, a link that repeats or more than kMaxListPages pages; the
    // first page's own shape is left to the caller to judge.
    int rest_listAllPages(const std::string& path);
    // The request path of `url` when it is on the management endpoint in
    // force (same scheme, host and port, under its base path); false otherwise.
    static bool managementRequestPath(const std::string& url, std::string& path);
    static constexpr int kMaxListPages = 1000;

    // --- Lists fetched side by side ahead of the walk (...Paging.cpp) ----------------------
    // One page of a list fetched ahead: its request path, request and answer.
    struct FetchedPage {
        std::string path;
        KXFanOut::Request request;
        KXFanOut::Answer answer;
        bool answered = false;
    };
    using FetchedList = std::vector<FetchedPage>;
    // Asked when the list of job `index` is fetched: `list` is what the walk
    // would read from it (every page merged), or null when reading it fails.
    // True when the walk, taking the lists in order, would end there.
    using ListStop = std::function<bool(size_t index, const AnfJson::Value* list)>;
    class ListJob;
    // Fetches the lists at `paths` side by side, every page of each, for
    // rest_listAllPages to take in place of sending when the walk reaches
    // them. The walk itself then runs as before, in order, with its own log
    // lines and results; whatever it asks for that was not fetched ahead
    // (a list after `stop`, a page of a chain cut short) it sends itself.
    void fetchListsAhead(const std::vector<std::string>& paths, const ListStop& stop = nullptr);
    // What was fetched ahead and not taken is let go.
    void discardListsAhead() { listsAhead.clear(); }
    // GET of `path` for the list walk: the page fetched ahead when it is the
    // next one of `fetched`, else a request sent now.
    bool getListPage(const std::string& path, FetchedList& fetched, size_t& taken);
    static std::string nicListPath(const AzureNetApp::AzureEntity& entity);
    static std::string volumeListPath(const std::string& capacityPoolPath);
    // The devices of `cache` that the volume list `list` resolves, as
    // matchVolumeFromListCPResponse would, without logging or changing anything.
    std::set<const AzureNetApp::KxSnapANFSnapObj*> devicesResolvedBy(const AnfJson::Value& list,
                                                                     const SharePathCache& cache);
    // The capacity pools' volume lists fetched ahead, as far as the walk
    // would list them: it ends at the pool after which every device is found.
    void fetchVolumeListsAhead(const std::vector<std::string>& pools,
                               const SharePathCache& sharePathCache, size_t devices);
    int populateNICCacheFromResponse(const AnfJson::Value& json, NicCache& nicCache);
    int getVolumeDetails(NicCache& nicCache, SharePathCache& sharePathCache);
    int matchVolumeFromListCPResponse(SharePathCache& sharePathCache, const AnfJson::Value& json,
                                      size_t& remaining);

public:
    // Reads the volume until its provisioning state is final (0, `state` set)
    // or it is gone (18), with the monitor's interval and count; 25 when it
    // never settled, 15 when it cannot be read.
    int rest_waitForVolumeState(const AzureNetApp::AzureNetAppVolumeInfo& volume,
                                std::string& state);

protected:
    // --- Revert -------------------------------------------------------------------------------
    bool sendRevertRequest(const std::string& path, const std::string& body);
    // Waits (interval and count of the monitor) until the volume whose revert
    // path is given shows no operation running; false when it never does or
    // cannot be read.
    bool waitForVolumeIdle(const std::string& revertPath);

    // --- Monitoring -----------------------------------------------------------------------------
    // Azure's error of a cancelled operation into azureError and restError;
    // returns ANF_RC_ASYNC_OP_FAILED.
    int canceledOperation(const std::string& opResponse);
    // The Retry-After of the last answer in milliseconds, or -1.
    int64_t lastRetryAfterMs();

    // --- Shared by the resource operations ------------------------------------------------------
    // The status link of the last answer as a request path; empty when the
    // answer had none or an empty one, or when it was refused (then
    // asyncLinkRefused is set and `error` says why).
    std::string asyncOperationLink();
    // The HTTP status of the last request; 0 before any.
    int64_t lastHttpStatus() const;
    // A failed send: Azure's error into restError and the usual log line.
    // Returns `code`.
    int failedSend(int code);
    // A send that failed because the resource named is not there: HTTP 404
    // with one of Azure's not-found codes (extractErrorMessage must have run).
    bool isNotFoundAnswer(bool anyNotFoundCode) const;
    // Follows an accepted delete's operation; its result, with Azure's error
    // read when there is one to read.
    int monitorDelete(const std::string& link, int opKind);
    using DeleteAnswerHandler = int (KXSnapAzureNetAppAPI::*)(int64_t, const std::string&,
                                                              std::string&);
    // Sends the DELETE of `path`, reads its answer with `handler` and follows
    // an accepted one (logging `acceptedLine` first) to its end. A resource
    // already gone gives ANF_RC_RESOURCE_NOT_FOUND; any failure leaves Azure's
    // error read.
    int deleteAndFollow(const std::string& path, DeleteAnswerHandler handler,
                        const std::string& acceptedLine, int opKind);
    // The request path of an Azure resource id (what follows its leading "/").
    static std::string resourceRequestPath(const std::string& resourceId);
    // True for a resource id Azure gave that may become a request path: it
    // starts "/subscriptions/" and holds no blank, control character, "?"
    // or "#", so it can only name a resource under the management endpoint.
    static bool isSafeResourceId(const std::string& resourceId);
    // The device's name for messages: "address:/share", else the volume.
    static std::string deviceLabel(const AzureNetApp::KxSnapANFSnapObj& snapObj);

    // --- Shared by every request ---------------------------------------------------------------
    // The common request pattern: sets requestPath, requestBody and response,
    // clears the REST error and sends through restClient. False when the
    // request failed or there is no client (rest_initializeClient not run).
    // `retry` false sends once, without the retry policy (status polls).
    bool sendRESTRequest(int type, const std::string& path, const std::string& body, bool meta,
                         bool retry = true);
    // sendRESTRequest's steps before and after the transport's answer.
    void startRequest(const std::string& path, const std::string& body);
    bool settleRequest(bool sent);
    bool sendThroughClient(int type, bool meta, bool retry);
    // extractErrorMessage of a failed metadata-service request; without an
    // error in the answer, names the request and its status in `error`.
    void extractMetadataFailure();
    // Log lines of this client (tag "KXSnapAzureNetapp"); outside text only
    // ever as an argument.
    void logLine(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    void logTagged(int level, const char* tag, const char* format, ...) const
        __attribute__((format(printf, 4, 5)));

    KXSO::SnapInfo* logger = nullptr;
    std::unique_ptr<KXSnapRESTAPI_ANF> restClient;
    AzureNetApp::AzureAccessTokenInfo tokenInfo;
    std::string requestPath;
    std::string requestBody;
    std::string response;
    std::ostringstream restError;
    std::ostringstream error;
    AzureNetApp::AzureError azureError;
    bool asyncLinkRefused = false;
    bool logging = false;
    int32_t retryInterval = ANF_API_CONST::ANF_CONFIG_DEFAULT_RETRY_INTERVAL;
    int32_t retryCount = ANF_API_CONST::ANF_CONFIG_DEFAULT_RETRY_COUNT;
    std::ostringstream errorDetail;
    // First request path of a list -> its pages fetched ahead, one entry per
    // time the list was fetched, taken in that order.
    std::map<std::string, std::deque<FetchedList>> listsAhead;

    // --- Answers from a script (KXSnapAzureNetAppAPIScript.cpp) ---------------------------------
    // sendRESTRequest's send while an answer script is set.
    bool sendScripted(int type, bool meta, bool retry);
    // The wait before an operation's next poll; none where the answer
    // script makes it unnecessary.
    void pauseBeforeNextPoll(uint64_t milliseconds);
    AnfAnswerScript* answerScript = nullptr;
};
