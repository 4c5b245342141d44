// Lists that come in pages: Azure ends a page with "nextLink" when more
// follow (a page may even be empty and still have one). The link carries its
// own query and is followed as it is, through the same send path (retries,
// token), but only while it stays on the management endpoint.
#include <set>
#include <string>

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
    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, path, "", false)) {
        return failedSend(ANF_RC_REST_CALL_FAILED);
    }
    AnfJson::Value merged;
    if (!AnfJson::parse(response, merged) || !IsListPage(merged) ||
        NextLinkOf(merged).empty()) {
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
            return refuse(ANF_RC_REST_CALL_FAILED,
                          "the next link [" + link + "] is not on the management endpoint [" +
                              AzureNetApp::managementBaseUrl() + "].");
        }
        logLine(KXSO::LOG_DETAIL, "Fetching page [%zu] of list [%s]", followed.size() + 1,
                firstPath.c_str());
        if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, pagePath, "", false)) {
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
