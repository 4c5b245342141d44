#include "ArmErrors.h"

namespace azemu {

Json armErrorBody(const std::string& code, const std::string& message, const std::string& target) {
    Json error = {{"code", code}, {"message", message}};
    if (!target.empty()) error["target"] = target;
    return {{"error", error}};
}

HttpResponse armError(int status, const std::string& code, const std::string& message,
                      const std::string& target) {
    return HttpResponse::json(status, armErrorBody(code, message, target));
}

HttpResponse resourceNotFound(const std::string& type, const std::string& name,
                              const std::string& resourceGroup) {
    return armError(404, "ResourceNotFound",
                    "The Resource '" + type + "/" + name + "' under resource group '" +
                        resourceGroup + "' was not found.");
}

HttpResponse invalidRequestContent(const std::string& detail) {
    return armError(
        400, "InvalidRequestContent",
        "The request content was invalid and could not be deserialized: '" + detail + "'.");
}

HttpResponse missingParameter(const std::string& name) {
    return armError(400, "InvalidParameter", "Required parameter '" + name + "' is missing (null).",
                    name);
}

HttpResponse invalidParameter(const std::string& message, const std::string& target) {
    return armError(400, "InvalidParameter", message, target);
}

HttpResponse methodNotAllowed(const std::string& method) {
    return armError(405, "MethodNotAllowed",
                    "The requested resource does not support http method '" + method + "'.");
}

std::optional<Json> parseBodyObject(const HttpRequest& request, HttpResponse& error) {
    try {
        Json body = Json::parse(request.body);
        if (body.is_object()) return body;
        error = invalidRequestContent("the body must be a JSON object");
    } catch (const Json::exception& e) {
        error = invalidRequestContent(e.what());
    }
    return std::nullopt;
}

HttpResponse imdsError(int status, const std::string& error, const std::string& description) {
    return HttpResponse::json(status, {{"error", error}, {"error_description", description}});
}

}  // namespace azemu
