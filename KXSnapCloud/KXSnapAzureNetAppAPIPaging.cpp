// Lists that come in pages: Azure ends a page with "nextLink" when more
// follow (a page may even be empty and still have one). The link carries its
// own query and is followed as it is, through the same send path (retries,
// token), but only while it stays on the management endpoint.
//
// Many lists may be fetched side by side ahead of a walk over them: each
// list is a job whose chain of requests follows the links as the walk
// would; the walk then takes the answers in its own order.
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "KXSnapCloud/KXSnapAzureNetAppEndpoints.h"
#include "platform/FXString.h"
#include "platform/KXUrl.h"

namespace {

constexpr const char* kNextLink = "nextLink";

std::string NextLinkOf(const AnfJson::Value& page) {
    return FXString::Trim(AnfJson::get<AnfJson::String>(page, kNextLink, ""));
}

// What follows "scheme://authority" of `url`: "/path?query", or "/" when
// the URL ends at its authority.
std::string PathAndQuery(const std::string& url) {
    const size_t authority = url.find("://");
    if (authority == std::string::npos) {
        return "";
    }
    const size_t end = url.find_first_of("/?#", authority + 3);
    if (end == std::string::npos) {
        return "/";
    }
    return url[end] == '/' ? url.substr(end) : "/" + url.substr(end);
}

bool IsListPage(const AnfJson::Value& page) {
    return AnfJson::has<AnfJson::Array>(page, "value");
}

}  // namespace

using ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;

bool KXSnapAzureNetAppAPI::managementRequestPath(const std::string& url, std::string& path) {
    const std::string base = AzureNetApp::managementBaseUrl();
    if (!KXUrl::SameOrigin(url, base)) {
        return false;
    }
    const std::string basePath = PathAndQuery(base);
    const std::string linkPath = PathAndQuery(url);
    if (!FXString::StartsWith(linkPath, basePath)) {
        return false;
    }
    path = linkPath.substr(basePath.size());
    return true;
}

int KXSnapAzureNetAppAPI::rest_listAllPages(const std::string& path) {
    FetchedList fetched;
    const auto ahead = listsAhead.find(path);
    if (ahead != listsAhead.end() && !ahead->second.empty()) {
        fetched = std::move(ahead->second.front());
        ahead->second.pop_front();
    }
    size_t taken = 0;
    if (!getListPage(path, fetched, taken)) {
        return failedSend(ANF_RC_REST_CALL_FAILED);
    }
    AnfJson::Value merged;
    if (!AnfJson::parse(response, merged) || !IsListPage(merged) || NextLinkOf(merged).empty()) {
        return ANF_RC_SUCCESS;  // one page, or no list: the caller judges its shape
    }
    const std::string firstPath = path;
    std::set<std::string> followed;
    auto refuse = [&](int code, const std::string& why) {
        error << "Failed to read every page of the list [" << firstPath << "]: " << why;
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return code;
    };
    for (std::string link = NextLinkOf(merged); !link.empty();) {
        if (!followed.insert(link).second) {
            return refuse(ANF_RC_INVALID_RESPONSE, "the next link [" + link + "] repeats.");
        }
        if (static_cast<int>(followed.size()) >= kMaxListPages) {
            return refuse(ANF_RC_INVALID_RESPONSE,
                          "more than " + std::to_string(kMaxListPages) + " pages.");
        }
        std::string pagePath;
        if (!managementRequestPath(link, pagePath)) {
            return refuse(ANF_RC_REST_CALL_FAILED, "the next link [" + link +
                                                       "] is not on the management endpoint [" +
                                                       AzureNetApp::managementBaseUrl() + "].");
        }
        logLine(KXSO::LOG_DETAIL, "Fetching page [%zu] of list [%s]", followed.size() + 1,
                firstPath.c_str());
        if (!getListPage(pagePath, fetched, taken)) {
            return failedSend(ANF_RC_REST_CALL_FAILED);
        }
        AnfJson::Value page;
        if (!AnfJson::parse(response, page) || !IsListPage(page)) {
            return refuse(ANF_RC_INVALID_RESPONSE, "page [" + link + "] is not a list.");
        }
        AnfJson::Value& values = merged["value"];
        for (const AnfJson::Value& element : *AnfJson::member(page, "value")) {
            values.push_back(element);
        }
        link = NextLinkOf(page);
    }
    merged.erase(kNextLink);
    requestPath = firstPath;
    response = AnfJson::text(merged);
    return ANF_RC_SUCCESS;
}

bool KXSnapAzureNetAppAPI::getListPage(const std::string& path, FetchedList& fetched,
                                       size_t& taken) {
    if (taken < fetched.size() && fetched[taken].answered && fetched[taken].path == path) {
        const FetchedPage& page = fetched[taken++];
        return takeSideBySideAnswer(path, page.request, page.answer);
    }
    // The chain fetched ahead ends here (or went elsewhere): the rest is sent now.
    taken = fetched.size();
    return sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, path, "", false);
}

// One list: its first page, then each page its predecessor links to, as
// long as rest_listAllPages would follow the link.
class KXSnapAzureNetAppAPI::ListJob : public KXFanOut::Job {
public:
    ListJob(KXSnapAzureNetAppAPI& api, size_t index, std::string path, const ListStop& stop)
        : api_(api), index_(index), firstPath_(path), nextPath_(std::move(path)), stop_(stop) {}

    bool Next(KXFanOut::Request& request) override {
        if (nextPath_.empty()) {
            return false;
        }
        FetchedPage page;
        page.path = std::move(nextPath_);
        nextPath_.clear();
        if (!api_.formSideBySideRequest(KXSnapRESTAPI_ANF::REQ_GET, page.path, "", page.request)) {
            return false;
        }
        request = page.request;
        pages_.push_back(std::move(page));
        return true;
    }
    void OnAnswer(const KXFanOut::Answer& answer) override {
        pages_.back().answer = answer;
        pages_.back().answered = true;
        nextPath_ = FollowingPath(answer);
    }
    bool StopsTheWalk() const override {
        return stop_ && stop_(index_, complete_ ? &merged_ : nullptr);
    }
    const std::string& FirstPath() const { return firstPath_; }
    FetchedList TakePages() { return std::move(pages_); }

private:
    // The request path of the page to fetch next, or "" when the list ends
    // here (complete_ tells whether the walk reads it whole).
    std::string FollowingPath(const KXFanOut::Answer& answer) {
        AnfJson::Value page;
        if (!answer.Ok() || !AnfJson::parse(answer.body, page)) {
            return "";
        }
        if (pages_.size() == 1) {
            merged_ = page;
            if (!IsListPage(page) || NextLinkOf(page).empty()) {
                complete_ = true;
                return "";
            }
        } else {
            if (!IsListPage(page)) {
                return "";
            }
            AnfJson::Value& values = merged_["value"];
            for (const AnfJson::Value& element : *AnfJson::member(page, "value")) {
                values.push_back(element);
            }
            if (NextLinkOf(page).empty()) {
                merged_.erase(kNextLink);
                complete_ = true;
                return "";
            }
        }
        const std::string link = NextLinkOf(page);
        std::string path;
        if (!followed_.insert(link).second || static_cast<int>(followed_.size()) >= kMaxListPages ||
            !managementRequestPath(link, path)) {
            return "";
        }
        return path;
    }

    KXSnapAzureNetAppAPI& api_;
    size_t index_;
    std::string firstPath_;
    std::string nextPath_;
    const ListStop& stop_;
    FetchedList pages_;
    std::set<std::string> followed_;
    AnfJson::Value merged_;
    bool complete_ = false;
};

void KXSnapAzureNetAppAPI::fetchListsAhead(const std::vector<std::string>& paths,
                                           const ListStop& stop) {
    std::vector<std::unique_ptr<ListJob>> jobs;
    std::vector<KXFanOut::Job*> pointers;
    for (size_t i = 0; i < paths.size(); ++i) {
        jobs.push_back(std::make_unique<ListJob>(*this, i, paths[i], stop));
        pointers.push_back(jobs.back().get());
    }
    runSideBySide(pointers);
    for (const std::unique_ptr<ListJob>& job : jobs) {
        listsAhead[job->FirstPath()].push_back(job->TakePages());
    }
}
