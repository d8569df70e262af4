// JSON readers over a table of member values (rapidjson's assertions throw in every build, so
// a reader that read a representation the value lacks fails here), writers, parse operations.
#include "api_common/code_common/JsonHelper.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "GuardedBuffer.h"

namespace api = OXA::API;

namespace {

rapidjson::Document Parse(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

TEST(JsonAssertions, AreLiveInEveryBuild) {
    rapidjson::Document doc = Parse("{\"s\":\"x\"}");
    EXPECT_THROW(doc["s"].GetInt(), std::logic_error);
}

// What each reader makes of one member value; "-" where it reports the member absent.
struct ReaderRow {
    const char* json;      // the member's value
    const char* as_int;
    const char* as_uint;
    const char* as_int64;
    const char* as_uint64;
    const char* as_string;
    int type;              // rapidjson type number
};

const ReaderRow kReaderRows[] = {
    {"5", "5", "5", "5", "5", "-", 6},
    {"0", "0", "0", "0", "0", "-", 6},
    {"-1", "-1", "-", "-1", "-", "-", 6},
    {"2147483647", "2147483647", "2147483647", "2147483647", "2147483647", "-", 6},
    {"2147483648", "-", "2147483648", "2147483648", "2147483648", "-", 6},
    {"-2147483648", "-2147483648", "-", "-2147483648", "-", "-", 6},
    {"-2147483649", "-", "-", "-2147483649", "-", "-", 6},
    {"4294967295", "-", "4294967295", "4294967295", "4294967295", "-", 6},
    {"4294967296", "-", "-", "4294967296", "4294967296", "-", 6},
    {"9223372036854775807", "-", "-", "9223372036854775807", "9223372036854775807", "-", 6},
    {"9223372036854775808", "-", "-", "-", "9223372036854775808", "-", 6},
    {"18446744073709551615", "-", "-", "-", "18446744073709551615", "-", 6},
    {"-9223372036854775808", "-", "-", "-9223372036854775808", "-", "-", 6},
    {"18446744073709551616", "-", "-", "-", "-", "-", 6},  // a double
    {"1.5", "-", "-", "-", "-", "-", 6},
    {"1e3", "-", "-", "-", "-", "-", 6},
    {"-0.0", "-", "-", "-", "-", "-", 6},
    {"\"5\"", "-", "-", "-", "-", "5", 5},
    {"\"\"", "-", "-", "-", "-", "", 5},
    {"true", "-", "-", "-", "-", "-", 2},
    {"false", "-", "-", "-", "-", "-", 1},
    {"null", "-", "-", "-", "-", "-", 0},
    {"{}", "-", "-", "-", "-", "-", 3},
    {"[1]", "-", "-", "-", "-", "-", 4},
};

template <class T>
std::string Read(bool (*reader)(const rapidjson::Value&, const char*, T*), const rapidjson::Value& object,
                 const char* name, T sentinel) {
    T value = sentinel;
    const bool found = reader(object, name, &value);
    if (!found) {
        EXPECT_EQ(value, sentinel) << "the out-parameter is untouched";
        return "-";
    }
    return std::to_string(value);
}

TEST(JsonReaders, EveryReaderOverEveryKindOfValue) {
    for (const auto& row : kReaderRows) {
        SCOPED_TRACE(row.json);
        const rapidjson::Document doc = Parse(std::string("{\"m\":") + row.json + ",\"m\":7}");
        ASSERT_NO_THROW({
            EXPECT_EQ(Read<int>(api::GetIntMember, doc, "m", -77), row.as_int);
            EXPECT_EQ(Read<unsigned>(api::GetUintMember, doc, "m", 77u), row.as_uint);
            EXPECT_EQ(Read<std::int64_t>(api::GetInt64Member, doc, "m", -77), row.as_int64);
            EXPECT_EQ(Read<std::uint64_t>(api::GetUint64Member, doc, "m", 77u), row.as_uint64);
            EXPECT_EQ(api::GetIntValue(doc, "m"), std::strcmp(row.as_int, "-") == 0 ? 0 : std::stoi(row.as_int));
            EXPECT_EQ(api::GetInt64Value(doc, "m"),
                      std::strcmp(row.as_int64, "-") == 0 ? 0 : std::stoll(row.as_int64));
            EXPECT_TRUE(api::HasMemberOfType(doc, "m", row.type));
            EXPECT_FALSE(api::HasMemberOfType(doc, "m", (row.type + 1) % 7));

            const bool is_string = std::strcmp(row.as_string, "-") != 0;
            const char* ptr = "sentinel";
            EXPECT_EQ(api::GetStringMember(doc, "m", &ptr), is_string);
            EXPECT_STREQ(ptr, is_string ? row.as_string : "sentinel");
            char first = '?';
            EXPECT_EQ(api::GetStringMember(doc, "m", &first), is_string);
            EXPECT_EQ(first, is_string ? row.as_string[0] : '?');
            std::string copy = "sentinel";
            EXPECT_EQ(api::GetStringMember(doc, "m", &copy), is_string);
            EXPECT_EQ(copy, is_string ? row.as_string : "sentinel");
            if (is_string)
                EXPECT_STREQ(api::GetStringValue(doc, "m"), row.as_string);
            else
                EXPECT_EQ(api::GetStringValue(doc, "m"), nullptr);
            EXPECT_EQ(api::GetStringValueLength(doc, "m"), is_string ? std::strlen(row.as_string) : 0u);
        });
    }
}

TEST(JsonReaders, AbsentNamesNonObjectsAndWholeStrings) {
    const rapidjson::Document doc = Parse("{\"s\":\"a\\u0000b\",\"n\":1}");
    int i = 3;
    EXPECT_FALSE(api::GetIntMember(doc, "missing", &i));
    EXPECT_EQ(i, 3);
    EXPECT_EQ(api::GetIntValue(doc, "missing"), 0);
    EXPECT_EQ(api::GetStringValue(doc, "missing"), nullptr);
    EXPECT_FALSE(api::HasMemberOfType(doc, "missing", 0));
    EXPECT_FALSE(api::GetIntMember(doc, nullptr, &i));
    EXPECT_FALSE(api::GetIntMember(doc, "N", &i)) << "names match exactly";

    std::string whole;
    EXPECT_TRUE(api::GetStringMember(doc, "s", &whole));
    EXPECT_EQ(whole, std::string("a\0b", 3));
    EXPECT_EQ(api::GetStringValueLength(doc, "s"), 3u);

    for (const char* text : {"[1,2]", "5", "\"s\"", "null"}) {
        const rapidjson::Document other = Parse(text);
        EXPECT_NO_THROW({
            EXPECT_FALSE(api::GetIntMember(other, "n", &i)) << text;
            EXPECT_EQ(api::GetStringValue(other, "n"), nullptr) << text;
            EXPECT_FALSE(api::HasMemberOfType(other, "n", 6)) << text;
        });
    }
}

TEST(JsonWriters, CompactAndPrettyForms) {
    using StrMap = std::unordered_map<std::string, std::string>;
    using UintMap = std::unordered_map<unsigned, std::string>;
    EXPECT_EQ(api::JsonToString(std::vector<std::string>{}), "[]");
    EXPECT_EQ(api::JsonToPrettyString(std::vector<std::string>{}), "[]");
    EXPECT_EQ(api::JsonToString(StrMap{}), "{}");
    EXPECT_EQ(api::JsonToPrettyString(StrMap{}), "{}");
    EXPECT_EQ(api::JsonToString(std::vector<std::vector<std::string>>{}), "{}");
    EXPECT_EQ(api::JsonToString(std::vector<UintMap>{}), "{}");

    EXPECT_EQ(api::JsonToString(std::vector<std::string>{"a", "q\"\\\n", std::string("x\0y", 3)}),
              "[\"a\",\"q\\\"\\\\\\n\",\"x\"]");
    EXPECT_EQ(api::JsonToPrettyString(std::vector<std::string>{"a", "b"}), "[\n    \"a\",\n    \"b\"\n]");
    EXPECT_EQ(api::JsonToString(StrMap{{std::string("k\0", 2), std::string("v\0w", 3)}}),
              "{\"k\\u0000\":\"v\\u0000w\"}")
        << "map keys and values are written whole";
    EXPECT_EQ(api::JsonToString(UintMap{{4294967295u, "max"}}), "{\"4294967295\":\"max\"}");
    EXPECT_EQ(api::JsonToPrettyString(UintMap{{7, "s"}}), "{\n    \"7\": \"s\"\n}");
    EXPECT_EQ(api::JsonToString(std::vector<StrMap>{{{"a", "1"}}, {}}), "[{\"a\":\"1\"},{}]");
    EXPECT_EQ(api::JsonToString(std::vector<UintMap>{{{3, "c"}}, {}}), "{\"0\":{\"3\":\"c\"},\"1\":{}}");
    EXPECT_EQ(api::JsonToString(std::vector<std::vector<std::string>>{{"a"}, {}}), "{\"0\":[\"a\"],\"1\":[]}");
    EXPECT_EQ(api::JsonToPrettyString(std::vector<std::vector<std::string>>{{"a"}}),
              "{\n    \"0\": [\n        \"a\"\n    ]\n}");

    rapidjson::StringBuffer buffer;
    api::JsonCompactWriter writer(buffer);
    writer.StartObject();
    writer.Key("v");
    api::WriteJson(writer, std::vector<std::string>{"x"});
    writer.Key("m");
    api::WriteJson(writer, UintMap{{1, "y"}});
    writer.EndObject();
    EXPECT_STREQ(buffer.GetString(), "{\"v\":[\"x\"],\"m\":{\"1\":\"y\"}}");

    rapidjson::StringBuffer pretty_buffer;
    api::JsonPrettyWriter pretty(pretty_buffer);
    api::WriteJson(pretty, std::vector<std::string>{"x"});
    EXPECT_STREQ(pretty_buffer.GetString(), "[\n    \"x\"\n]");
}

TEST(JsonParse, ErrorTextsOffsetsAndTheDocumentKept) {
    struct Row {
        std::string text;
        bool ok;
        const char* error;
    } rows[] = {
        {"", false, "Parse Error [The document is empty.] Offset[0][]"},
        {"{} 1", false, "Parse Error [The document root must not be followed by other values.] Offset[3][1]"},
        {"{\"a\":1 \"b\":2}", false,
         "Parse Error [Missing a comma or '}' after an object member.] Offset[7][\"b\":2}]"},
        {"[1,2,3,4,5,6,7,8,9,10,11,12,13 x]", false,
         "Parse Error [Missing a comma or ']' after an array element.] Offset[31][x]]"},
        {"{\"k\": tru}", false, "Parse Error [Invalid value.] Offset[9][}]"},
        {"]", false, "Parse Error [Invalid value.] Offset[0][]]"},
        {" :", false, "Parse Error [Invalid value.] Offset[1][:]"},
        {"  ", false, "Parse Error [The document is empty.] Offset[2][]"},
        {std::string("\0{}", 3), false, "Parse Error [The document is empty.] Offset[0][]"},
        {"[\"abcdefghijklmnopqrstuvwxyz", false,
         "Parse Error [Missing a closing quotation mark in string.] Offset[28][]"},
        {"\xEF\xBB\xBF{\"a\":1}", true, nullptr},
        {" \r\n\t[] ", true, nullptr},
        {"{} // comment", false,
         "Parse Error [The document root must not be followed by other values.] Offset[3][// comment]"},
    };
    for (const auto& row : rows) {
        rapidjson::Document doc;
        doc.SetObject();
        doc.AddMember("before", 1, doc.GetAllocator());
        const std::string* err = nullptr;
        EXPECT_EQ(api::ParseJson(doc, &err, row.text), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(err, nullptr);
            continue;
        }
        ASSERT_NE(err, nullptr) << row.text;
        EXPECT_EQ(*err, row.error);
        EXPECT_TRUE(doc.IsObject() && doc.HasMember("before")) << "a failed parse keeps the document";
        EXPECT_FALSE(api::ParseJson(doc, nullptr, row.text.c_str(), static_cast<unsigned>(row.text.size())));
    }
    // the snippet holds at most 16 bytes from the offset, never past len
    const std::string long_tail = "[1 2345678901234567890123]";
    const std::string* err = nullptr;
    rapidjson::Document doc;
    EXPECT_FALSE(api::ParseJson(doc, &err, long_tail));
    EXPECT_EQ(*err, "Parse Error [Missing a comma or ']' after an array element.] Offset[3][2345678901234567]");
    EXPECT_FALSE(api::ParseJson(doc, &err, long_tail.c_str(), 5));
    EXPECT_EQ(*err, "Parse Error [Missing a comma or ']' after an array element.] Offset[3][23]");
}

TEST(JsonParse, DeepNestingDoesNotExhaustTheStack) {
    const std::size_t depth = 200000;
    rapidjson::Document doc;
    EXPECT_TRUE(api::ParseJson(doc, nullptr, std::string(depth, '[') + std::string(depth, ']')));
    const std::string* err = nullptr;
    EXPECT_FALSE(api::ParseJson(doc, &err, std::string(depth, '[')));
    std::string open(depth, '[');
    EXPECT_FALSE(api::ParseJsonInsitu(nullptr, &err, &open[0], static_cast<unsigned>(open.size())));
    std::unordered_map<std::string, std::string> map;
    const std::string deep_member = "{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
    EXPECT_TRUE(api::JsonObjectToStringMap(map, &err, deep_member));
    EXPECT_TRUE(map.empty());
}

TEST(JsonParse, ErrorTextsArePerThreadAndPerOperation) {
    const std::string* mine = nullptr;
    rapidjson::Document doc;
    ASSERT_FALSE(api::ParseJson(doc, &mine, ""));
    const std::string* theirs = nullptr;
    std::thread([&] {
        rapidjson::Document other;
        api::ParseJson(other, &theirs, "[");
        EXPECT_EQ(*theirs, "Parse Error [Invalid value.] Offset[1][]");
    }).join();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(*mine, "Parse Error [The document is empty.] Offset[0][]");

    std::unordered_map<std::string, std::string> map;
    const std::string* map_err = nullptr;
    ASSERT_FALSE(api::JsonObjectToStringMap(map, &map_err, "[]"));
    EXPECT_EQ(*map_err, "Root Not Object");
    EXPECT_EQ(*mine, "Parse Error [The document is empty.] Offset[0][]") << "another operation's text";
}

TEST(JsonParse, ObjectToStringMapTable) {
    using Map = std::unordered_map<std::string, std::string>;
    struct Row {
        std::string text;
        int len;  // -2: the text's own length
        bool ok;
        Map out;
        const char* error;
    } rows[] = {
        {"{\"n\":12,\"s\":\"str\"}", -2, true, {{"n", "12"}, {"s", "str"}}, nullptr},
        {"{\"o\":{\"x\":1},\"a\":[1],\"t\":true,\"z\":null,\"k\":\"v\"}", -2, true, {{"k", "v"}}, nullptr},
        {"{\"big\":-9223372036854775808,\"u\":9223372036854775808,\"f\":1.5,\"e\":2e2}", -2, true,
         {{"big", "-9223372036854775808"}}, nullptr},  // what int64 cannot carry is skipped
        {"{\"d\":\"first\",\"d\":\"second\"}", -2, true, {{"d", "first"}}, nullptr},
        {"{\"w\":\"a\\u0000b\"}", -2, true, {{"w", std::string("a\0b", 3)}}, nullptr},
        {"{}", -2, true, {}, nullptr},
        {"[1]", -2, false, {{"old", "1"}}, "Root Not Object"},
        {"\"s\"", -2, false, {{"old", "1"}}, "Root Not Object"},
        {"{\"a\":", -2, false, {{"old", "1"}}, "Parse Error [Invalid value.] Offset[5][]"},
        {"{\"a\":1}", -1, false, {{"old", "1"}}, "Negative Length"},
        {"{\"a\":1}xyz", 7, true, {{"a", "1"}}, nullptr},
    };
    for (const auto& row : rows) {
        Map map = {{"old", "1"}};
        const std::string* err = nullptr;
        const int len = row.len == -2 ? static_cast<int>(row.text.size()) : row.len;
        EXPECT_EQ(api::JsonObjectToStringMap(map, &err, row.text.c_str(), len), row.ok) << row.text;
        EXPECT_EQ(map, row.out) << row.text;
        if (row.error == nullptr) {
            EXPECT_EQ(err, nullptr) << row.text;
        } else {
            ASSERT_NE(err, nullptr) << row.text;
            EXPECT_EQ(*err, row.error);
        }
    }
}

TEST(JsonParse, InsituChecksInPlaceWithinTheLength) {
    std::string good = " \n{\"a\":\"x\\ny\"}";
    const std::string* err = nullptr;
    EXPECT_TRUE(api::ParseJsonInsitu(nullptr, &err, &good[0], static_cast<unsigned>(good.size())));
    EXPECT_EQ(err, nullptr);

    std::string bom = "\xEF\xBB\xBF{}";
    EXPECT_FALSE(api::ParseJsonInsitu(nullptr, &err, &bom[0], static_cast<unsigned>(bom.size())));
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(*err, "Parse Error [Invalid value.] Offset[0][\xEF\xBB\xBF{}]");

    std::string cut = "{\"a\":1}";
    EXPECT_FALSE(api::ParseJsonInsitu(nullptr, &err, &cut[0], 4));
    EXPECT_EQ(*err, "Parse Error [Missing a colon after a name of object member.] Offset[4][]");

    // a text with no terminator that ends at an unreadable page
    oxa_test::GuardedBuffer buffer;
    for (const std::string text : {"{\"k\":[1,2]}", "{\"k\":\"unterminated", "   ", "[1,2"}) {
        EXPECT_EQ(api::ParseJsonInsitu(nullptr, nullptr, buffer.Place(text), static_cast<unsigned>(text.size())),
                  text == "{\"k\":[1,2]}")
            << text;
    }
}

TEST(JsonCompare, EqualsIgnoreCaseAndIsParseError) {
    struct Row {
        const char* a;
        const char* b;
        bool equal;
    } rows[] = {
        {"FILE", "file", true},  {"Sync", "sYNC", true}, {"file", "files", false}, {"", "", true},
        {"a", "b", false},       {"\xC9", "\xE9", false}, {"\xFF\xC3", "\xFF\xC3", true}, {nullptr, "a", false},
    };
    for (const auto& row : rows) EXPECT_EQ(api::EqualsIgnoreCase(row.a, row.b), row.equal) << (row.a ? row.a : "null");
    const int zero = 0, one = 1, neg = -1;
    EXPECT_FALSE(api::IsParseError(&zero));
    EXPECT_TRUE(api::IsParseError(&one));
    EXPECT_TRUE(api::IsParseError(&neg));
    EXPECT_FALSE(api::IsParseError(nullptr));
}

}  // namespace
