#include "ExampleShapes.h"

#include <fstream>

namespace azemu::test {

namespace {

bool sameKind(const Json& a, const Json& b) {
    if (a.is_number() && b.is_number())
        return true;
    return a.type() == b.type();
}

void shapeDifferences(const Json& expected, const Json& actual, const std::string& path,
                      const std::set<std::string>& ignored, std::vector<std::string>& out) {
    if (ignored.count(path))
        return;
    if (!sameKind(expected, actual)) {
        out.push_back(path + " (type)");
        return;
    }
    // Tag names are the user's own, not part of the shape.
    bool freeForm = path == "tags" || (path.size() > 5 && path.substr(path.size() - 5) == ".tags");
    if (freeForm)
        return;
    if (expected.is_object()) {
        for (const auto& item : expected.items()) {
            std::string child = path.empty() ? item.key() : path + "." + item.key();
            if (ignored.count(child))
                continue;
            if (!actual.contains(item.key())) {
                out.push_back(child);
                continue;
            }
            shapeDifferences(item.value(), actual[item.key()], child, ignored, out);
        }
    } else if (expected.is_array() && !expected.empty()) {
        if (actual.empty())
            out.push_back(path + "[] (empty)");
        for (const auto& element : actual)
            shapeDifferences(expected[0], element, path + "[]", ignored, out);
    }
}

std::vector<std::string> splitDotted(const std::string& dotted) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t dot; (dot = dotted.find('.', start)) != std::string::npos; start = dot + 1)
        parts.push_back(dotted.substr(start, dot - start));
    parts.push_back(dotted.substr(start));
    return parts;
}

const Json* at(const Json& doc, const std::string& dotted) {
    const Json* cur = &doc;
    for (const auto& key : splitDotted(dotted)) {
        if (cur->is_array())
            cur = cur->empty() ? nullptr : &(*cur)[0];
        if (!cur || !cur->is_object() || !cur->contains(key))
            return nullptr;
        cur = &(*cur)[key];
    }
    return cur;
}

}  // namespace

Json loadExample(const std::string& file) {
    std::ifstream in(std::string(KXSO_AZURE_EXAMPLES_DIR) + "/" + file);
    if (!in)
        throw std::runtime_error("missing example " + file);
    return Json::parse(in);
}

Json exampleBody(const std::string& file, const std::string& status) {
    return loadExample(file)["responses"][status]["body"];
}

std::vector<std::string> differences(const Json& expected, const Json& actual,
                                     const std::set<std::string>& ignored) {
    std::vector<std::string> out;
    shapeDifferences(expected, actual, "", ignored, out);
    return out;
}

void expectMembers(const Json& doc, std::initializer_list<const char*> paths) {
    for (const char* p : paths)
        EXPECT_NE(at(doc, p), nullptr) << p << " missing in " << doc.dump();
}

}  // namespace azemu::test
