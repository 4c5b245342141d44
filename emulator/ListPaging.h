// Lists served in pages, as Resource Manager does for long lists: with the setting
// `listPageSize` above 0 a list answer (a GET answered 200 with a "value" array) carries at
// most that many elements and a "nextLink" to the rest, the page number in `$skiptoken`.
#pragma once

#include <string>

#include "HttpTypes.h"

namespace azemu {

// `response` cut to the page the request asks for; anything but a list goes through unchanged.
HttpResponse pageOfList(const HttpRequest& request, HttpResponse response, int pageSize,
                        const std::string& armBaseUrl);

}  // namespace azemu
