// The JSON helper: its failure signals, its limits and its lenient getters.
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "platform/KxJson.h"

namespace {

using KxJson::Value;

TEST(JsonTest, ParsesAndSerialisesARoundTrip) {
    const std::string text = R"({"name":"disk1","sizeGB":1024,"tags":{"a":"b"},"zones":["1"]})";
    const Value value = KxJson::Unserialize(text);
    EXPECT_EQ("disk1", KxJson::GetStringValue(value, "name"));
    EXPECT_EQ(value, KxJson::Unserialize(KxJson::Serialize(value)));
    EXPECT_EQ(value, KxJson::Unserialize(KxJson::Serialize(value, true)));
    EXPECT_EQ(std::string::npos, KxJson::Serialize(value).find('\n'));
    Value invalidUtf8;
    invalidUtf8["bad"] = std::string("\xff\xfe");
    EXPECT_NO_THROW(KxJson::Serialize(invalidUtf8));
}

TEST(JsonTest, MalformedTextThrowsRuntimeError) {
    for (const char* text : {"", "{", R"({"a":})", R"({"a":1} trailing)", "[1,2,]", "nul",
                             R"({"a":"unterminated)", "\xff\xfe"}) {
        EXPECT_THROW(KxJson::Unserialize(text), std::runtime_error) << text;
        Value out = 5;
        EXPECT_FALSE(KxJson::TryUnserialize(text, out)) << text;
    }
}

TEST(JsonTest, DepthBombsAreRefusedTheLimitIsExactAndBracketsInStringsDoNotCount) {
    EXPECT_THROW(KxJson::Unserialize(std::string(100000, '[')), std::runtime_error);
    EXPECT_THROW(KxJson::Unserialize(std::string(100000, '[') + std::string(100000, ']')),
                 std::runtime_error);
    EXPECT_THROW(KxJson::Unserialize(std::string(5000, '{') + "\"k\":"), std::runtime_error);
    const size_t limit = KxJson::kMaxDepth;
    const std::string atLimit = std::string(limit, '[') + std::string(limit, ']');
    EXPECT_NO_THROW(KxJson::Unserialize(atLimit));
    const std::string overLimit = std::string(limit + 1, '[') + std::string(limit + 1, ']');
    EXPECT_THROW(KxJson::Unserialize(overLimit), std::runtime_error);

    const std::string brackets = R"({"text":")" + std::string(1000, '[') + R"(\"[{"})";
    Value value;
    ASSERT_TRUE(KxJson::TryUnserialize(brackets, value));
    EXPECT_EQ(std::string(1000, '[') + "\"[{", KxJson::GetStringValue(value, "text"));
}

std::string ParseFailure(const std::string& text) {
    try {
        KxJson::Unserialize(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "parsed";
}

TEST(JsonTest, OversizedDocumentIsRefusedBeforeParsing) {
    // A document malformed at its first byte fails as soon as the parser sees
    // it, so the size check alone decides which error comes back.
    std::string atLimit = "]" + std::string(KxJson::kMaxDocumentBytes - 1, ' ');
    EXPECT_NE(std::string::npos, ParseFailure(atLimit).find("malformed JSON"));
    atLimit += ' ';
    EXPECT_NE(std::string::npos, ParseFailure(atLimit).find("exceeds"));
}

TEST(JsonTest, ObjectAndArrayMembersOnlyOfTheirKind) {
    const Value value = KxJson::Unserialize(
        R"({"properties":{"state":"Succeeded"},"dataDisks":[{"lun":0}],"name":"vm"})");
    Value out;
    ASSERT_TRUE(KxJson::FindObjectValue(value, "properties", out));
    EXPECT_EQ("Succeeded", KxJson::GetStringValue(out, "state"));
    ASSERT_TRUE(KxJson::FindArrayValue(value, "dataDisks", out));
    EXPECT_EQ(1u, out.size());

    EXPECT_FALSE(KxJson::FindObjectValue(value, "dataDisks", out));
    EXPECT_FALSE(KxJson::FindArrayValue(value, "properties", out));
    EXPECT_FALSE(KxJson::FindObjectValue(value, "missing", out));
    EXPECT_FALSE(KxJson::FindObjectValue(value, "name", out));
    EXPECT_FALSE(KxJson::FindObjectValue(Value::array(), "properties", out));
    EXPECT_TRUE(KxJson::HasKey(value, "name"));
    EXPECT_FALSE(KxJson::HasKey(value, "Name"));
    EXPECT_FALSE(KxJson::HasKey(Value("text"), "name"));
}

// A name or id that arrives as a number is a document we do not know: the
// string getter refuses it (the parsers turn that into a parse failure)
// rather than read 7 as "7" and, say, find no attached disk of that name.
// The scalar getter is the one that turns numbers and booleans into text.
TEST(JsonTest, StringGetterReadsOnlyTextScalarTextAlsoNumbersAndBooleans) {
    const Value value = KxJson::Unserialize(
        R"({"s":"3599","i":-12,"u":18446744073709551615,"f":1.5,"t":true,"n":null,"o":{},"a":[]})");
    EXPECT_EQ("3599", KxJson::GetStringValue(value, "s"));
    for (const char* key : {"n", "missing"})
        EXPECT_EQ("", KxJson::GetStringValue(value, key)) << key;
    for (const char* key : {"i", "u", "f", "t", "o", "a"})
        EXPECT_THROW(KxJson::GetStringValue(value, key), std::runtime_error) << key;
    EXPECT_EQ("", KxJson::GetStringValue(Value::array(), "s"));

    EXPECT_EQ("3599", KxJson::GetScalarText(value, "s"));
    EXPECT_EQ("-12", KxJson::GetScalarText(value, "i"));
    EXPECT_EQ("18446744073709551615", KxJson::GetScalarText(value, "u"));
    EXPECT_EQ("1.5", KxJson::GetScalarText(value, "f"));
    EXPECT_EQ("true", KxJson::GetScalarText(value, "t"));
    for (const char* key : {"n", "o", "a", "missing"})
        EXPECT_EQ("", KxJson::GetScalarText(value, key)) << key;
}

TEST(JsonTest, NumberGettersReadNumbersAndNumericStrings) {
    const Value value = KxJson::Unserialize(R"({
        "lun": 3, "lunText": "4", "negativeText": "-2", "padded": " 5 ",
        "big": 5000000000, "bigText": "5000000000", "negative": -1,
        "whole": 7.0, "fraction": 7.5, "word": "seven", "mixed": "7x", "empty": "",
        "flag": true, "nothing": null, "hexText": "0x10",
        "maxU64": 18446744073709551615, "maxU64Text": "18446744073709551615"
    })");
    EXPECT_EQ(3, KxJson::GetIntValue(value, "lun"));
    EXPECT_EQ(4, KxJson::GetIntValue(value, "lunText"));
    EXPECT_EQ(-2, KxJson::GetIntValue(value, "negativeText"));
    EXPECT_EQ(5, KxJson::GetIntValue(value, "padded"));
    EXPECT_EQ(7, KxJson::GetIntValue(value, "whole"));
    for (const char* key : {"big", "bigText", "fraction", "word", "mixed", "empty", "flag",
                            "nothing", "hexText", "missing"}) {
        EXPECT_EQ(-1, KxJson::GetIntValue(value, key)) << key;
        EXPECT_EQ(99, KxJson::GetIntValue(value, key, 99)) << key;
    }
    EXPECT_EQ(5000000000LL, KxJson::GetInt64Value(value, "big"));
    EXPECT_EQ(5000000000LL, KxJson::GetInt64Value(value, "bigText"));
    EXPECT_EQ(-1, KxJson::GetInt64Value(value, "maxU64", -1));

    EXPECT_EQ(5000000000ULL, KxJson::GetUInt64Value(value, "bigText"));
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), KxJson::GetUInt64Value(value, "maxU64"));
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), KxJson::GetUInt64Value(value, "maxU64Text"));
    EXPECT_EQ(0u, KxJson::GetUInt64Value(value, "negative"));
    EXPECT_EQ(0u, KxJson::GetUInt64Value(value, "negativeText"));
    EXPECT_EQ(8u, KxJson::GetUInt64Value(value, "word", 8));
}

TEST(JsonTest, BoolGetterReadsBooleansAndTheirText) {
    const Value value = KxJson::Unserialize(
        R"({"t":true,"f":false,"tt":"True","ft":"FALSE","one":1,"word":"yes"})");
    EXPECT_TRUE(KxJson::GetBoolValue(value, "t"));
    EXPECT_FALSE(KxJson::GetBoolValue(value, "f", true));
    EXPECT_TRUE(KxJson::GetBoolValue(value, "tt"));
    EXPECT_FALSE(KxJson::GetBoolValue(value, "ft", true));
    EXPECT_FALSE(KxJson::GetBoolValue(value, "one"));
    EXPECT_TRUE(KxJson::GetBoolValue(value, "word", true));
    EXPECT_TRUE(KxJson::GetBoolValue(value, "missing", true));
}

}  // namespace
