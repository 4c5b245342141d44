// Error answers in the services' own shapes: Resource Manager's {"error": {"code", "message"}}
// and the metadata service's {"error", "error_description"}.
#pragma once

#include <optional>
#include <string>

#include "HttpTypes.h"

namespace azemu {

Json armErrorBody(const std::string& code, const std::string& message,
                  const std::string& target = "");
HttpResponse armError(int status, const std::string& code, const std::string& message,
                      const std::string& target = "");

// 404 as ARM answers a GET of a resource that does not exist.
HttpResponse resourceNotFound(const std::string& type, const std::string& name,
                              const std::string& resourceGroup);
HttpResponse invalidRequestContent(const std::string& detail);
HttpResponse missingParameter(const std::string& name);
HttpResponse invalidParameter(const std::string& message, const std::string& target);
HttpResponse methodNotAllowed(const std::string& method);

// The request body as a JSON object; otherwise nullopt with ARM's answer in `error`.
std::optional<Json> parseBodyObject(const HttpRequest& request, HttpResponse& error);

HttpResponse imdsError(int status, const std::string& error, const std::string& description);

}  // namespace azemu
