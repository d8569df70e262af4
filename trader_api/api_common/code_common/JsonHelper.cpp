#include "api_common/code_common/JsonHelper.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "api_common/code_common/xTools.h"

namespace OXA {
namespace API {

void JsonAssertionFailed(const char* condition) {
    throw std::logic_error(std::string("rapidjson assertion failed: ") + condition);
}

namespace {

constexpr std::size_t kErrorSnippetBytes = 16;
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag;

const rapidjson::Value* FindMember(const rapidjson::Value& object, const char* name) {
    if (name == nullptr || !object.IsObject()) return nullptr;
    const auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

// ---- writers -------------------------------------------------------------------------------

template <class Writer>
void WriteStrings(Writer& writer, const std::vector<std::string>& values) {
    writer.StartArray();
    for (const auto& value : values) writer.String(value.c_str());
    writer.EndArray();
}

template <class Writer>
void WriteStringMap(Writer& writer, const std::unordered_map<std::string, std::string>& values) {
    writer.StartObject();
    for (const auto& entry : values) {
        writer.Key(entry.first.data(), static_cast<rapidjson::SizeType>(entry.first.size()));
        writer.String(entry.second.data(), static_cast<rapidjson::SizeType>(entry.second.size()));
    }
    writer.EndObject();
}

template <class Writer>
void WriteNumberedKey(Writer& writer, const char* format, unsigned long long key) {
    char name[32];
    const int n = std::snprintf(name, sizeof name, format, key);
    writer.Key(name, static_cast<rapidjson::SizeType>(n));
}

template <class Writer>
void WriteUintMap(Writer& writer, const std::unordered_map<unsigned, std::string>& values) {
    writer.StartObject();
    for (const auto& entry : values) {
        WriteNumberedKey(writer, "%llu", entry.first);
        writer.String(entry.second.data(), static_cast<rapidjson::SizeType>(entry.second.size()));
    }
    writer.EndObject();
}

template <class Writer>
void WriteValue(Writer& writer, const std::vector<std::string>& values) {
    WriteStrings(writer, values);
}
template <class Writer>
void WriteValue(Writer& writer, const std::unordered_map<std::string, std::string>& values) {
    WriteStringMap(writer, values);
}
template <class Writer>
void WriteValue(Writer& writer, const std::unordered_map<unsigned, std::string>& values) {
    WriteUintMap(writer, values);
}
template <class Writer>
void WriteValue(Writer& writer, const std::vector<std::unordered_map<std::string, std::string>>& values) {
    writer.StartArray();
    for (const auto& map : values) WriteStringMap(writer, map);
    writer.EndArray();
}
template <class Writer>
void WriteValue(Writer& writer, const std::vector<std::unordered_map<unsigned, std::string>>& values) {
    writer.StartObject();
    for (std::size_t i = 0; i < values.size(); ++i) {
        WriteNumberedKey(writer, "%llu", i);
        WriteUintMap(writer, values[i]);
    }
    writer.EndObject();
}
template <class Writer>
void WriteValue(Writer& writer, const std::vector<std::vector<std::string>>& values) {
    writer.StartObject();
    for (std::size_t i = 0; i < values.size(); ++i) {
        WriteNumberedKey(writer, "%llu", i);
        WriteStrings(writer, values[i]);
    }
    writer.EndObject();
}

template <class Writer, class Value>
std::string WriteToString(const Value& values) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    WriteValue(writer, values);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// ---- parsing -------------------------------------------------------------------------------

std::string& ParseJsonErrorText() {
    thread_local std::string text;
    return text;
}
std::string& MapErrorText() {
    thread_local std::string text;
    return text;
}
std::string& InsituErrorText() {
    thread_local std::string text;
    return text;
}

// "Parse Error [reason] Offset[n][bytes]" with at most 16 bytes from the offset, none past len.
std::string ParseErrorText(rapidjson::ParseErrorCode code, std::size_t offset, const char* text, std::size_t len) {
    const std::size_t from = std::min(offset, len);
    std::string snippet;
    if (text != nullptr) snippet.assign(text + from, std::min(kErrorSnippetBytes, len - from));
    return xTools::thFormat("Parse Error [%s] Offset[%zu][%s]", rapidjson::GetParseError_En(code), offset,
                            snippet.c_str());
}

void Fail(std::string& slot, const std::string** err, std::string text) {
    if (err == nullptr) return;
    slot = std::move(text);
    *err = &slot;
}

// The iterative parser reports "document empty" where the recursive one reports "invalid value"
// for a document that starts with a byte no value starts with; it agrees on everything else.
rapidjson::ParseResult AsRecursiveParserReports(const rapidjson::Document& doc, const char* text, std::size_t len) {
    rapidjson::ParseResult result(doc.GetParseError(), doc.GetErrorOffset());
    if (result.Code() == rapidjson::kParseErrorDocumentEmpty && result.Offset() < len && text[result.Offset()] != '\0')
        result.Set(rapidjson::kParseErrorValueInvalid, result.Offset());
    return result;
}

bool ParseBytes(rapidjson::Document& doc, const std::string** err, const char* text, std::size_t len) {
    if (text == nullptr) len = 0;
    try {
        const rapidjson::ParseResult result = ParseJsonDocument(doc, text, len);
        if (!result.IsError()) return true;
        if (err != nullptr)
            Fail(ParseJsonErrorText(), err, ParseErrorText(result.Code(), result.Offset(), text, len));
    } catch (const std::exception& e) {
        Fail(ParseJsonErrorText(), err, e.what());
    } catch (...) {
        Fail(ParseJsonErrorText(), err, "unknown exception");
    }
    return false;
}

bool MapFromBytes(std::unordered_map<std::string, std::string>& map, const std::string** err, const char* text,
                  std::size_t len) {
    rapidjson::Document doc;
    if (!ParseBytes(doc, err, text, len)) return false;
    if (!doc.IsObject()) {
        Fail(MapErrorText(), err, "Root Not Object");
        return false;
    }
    map.clear();
    for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
        std::string name(it->name.GetString(), it->name.GetStringLength());
        const rapidjson::Value& value = it->value;
        if (value.IsString())
            map.emplace(std::move(name), std::string(value.GetString(), value.GetStringLength()));
        else if (value.IsInt64())
            map.emplace(std::move(name), std::to_string(value.GetInt64()));
    }
    return true;
}

// rapidjson's in-situ stream with an end: the text stops at its NUL or at end, whichever is
// first, so a buffer without a terminator is never read past its length.
class BoundedInsituStream {
public:
    typedef char Ch;
    BoundedInsituStream(char* text, std::size_t len) : m_src(text), m_dst(nullptr), m_head(text), m_end(text + len) {}

    Ch Peek() const { return m_src < m_end ? *m_src : '\0'; }
    Ch Take() { return m_src < m_end ? *m_src++ : '\0'; }
    std::size_t Tell() const { return static_cast<std::size_t>(m_src - m_head); }

    Ch* PutBegin() { return m_dst = m_src; }
    void Put(Ch c) { *m_dst++ = c; }
    std::size_t PutEnd(Ch* begin) { return static_cast<std::size_t>(m_dst - begin); }
    void Flush() {}

private:
    char* m_src;
    char* m_dst;
    char* m_head;
    char* m_end;
};

}  // namespace

// ---- readers ---------------------------------------------------------------------------------

bool HasMemberOfType(const rapidjson::Value& object, const char* name, int type) {
    const rapidjson::Value* member = FindMember(object, name);
    return member != nullptr && static_cast<int>(member->GetType()) == type;
}

int GetIntValue(const rapidjson::Value& object, const char* name) {
    int value = 0;
    GetIntMember(object, name, &value);
    return value;
}

std::int64_t GetInt64Value(const rapidjson::Value& object, const char* name) {
    std::int64_t value = 0;
    GetInt64Member(object, name, &value);
    return value;
}

const char* GetStringValue(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* member = FindMember(object, name);
    return member != nullptr && member->IsString() ? member->GetString() : nullptr;
}

unsigned GetStringValueLength(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* member = FindMember(object, name);
    return member != nullptr && member->IsString() ? member->GetStringLength() : 0;
}

bool GetIntMember(const rapidjson::Value& object, const char* name, int* out) {
    const rapidjson::Value* member = FindMember(object, name);
    if (member == nullptr || !member->IsInt()) return false;
    *out = member->GetInt();
    return true;
}

bool GetUintMember(const rapidjson::Value& object, const char* name, unsigned* out) {
    const rapidjson::Value* member = FindMember(object, name);
    if (member == nullptr || !member->IsUint()) return false;
    *out = member->GetUint();
    return true;
}

bool GetInt64Member(const rapidjson::Value& object, const char* name, std::int64_t* out) {
    const rapidjson::Value* member = FindMember(object, name);
    if (member == nullptr || !member->IsInt64()) return false;
    *out = member->GetInt64();
    return true;
}

bool GetUint64Member(const rapidjson::Value& object, const char* name, std::uint64_t* out) {
    const rapidjson::Value* member = FindMember(object, name);
    if (member == nullptr || !member->IsUint64()) return false;
    *out = member->GetUint64();
    return true;
}

bool GetStringMember(const rapidjson::Value& object, const char* name, const char** out) {
    const rapidjson::Value* member = FindMember(object, name);
    if (member == nullptr || !member->IsString()) return false;
    *out = member->GetString();
    return true;
}

bool GetStringMember(const rapidjson::Value& object, const char* name, char* out) {
    const rapidjson::Value* member = FindMember(object, name);
    if (member == nullptr || !member->IsString()) return false;
    *out = member->GetStringLength() == 0 ? '\0' : member->GetString()[0];
    return true;
}

bool GetStringMember(const rapidjson::Value& object, const char* name, std::string* out) {
    const rapidjson::Value* member = FindMember(object, name);
    if (member == nullptr || !member->IsString()) return false;
    out->assign(member->GetString(), member->GetStringLength());
    return true;
}

// ---- writers ---------------------------------------------------------------------------------

std::string JsonToString(const std::vector<std::string>& values) {
    return WriteToString<JsonCompactWriter>(values);
}
std::string JsonToString(const std::unordered_map<std::string, std::string>& values) {
    return WriteToString<JsonCompactWriter>(values);
}
std::string JsonToString(const std::unordered_map<unsigned, std::string>& values) {
    return WriteToString<JsonCompactWriter>(values);
}
std::string JsonToString(const std::vector<std::unordered_map<std::string, std::string>>& values) {
    return WriteToString<JsonCompactWriter>(values);
}
std::string JsonToString(const std::vector<std::unordered_map<unsigned, std::string>>& values) {
    return WriteToString<JsonCompactWriter>(values);
}
std::string JsonToString(const std::vector<std::vector<std::string>>& values) {
    return WriteToString<JsonCompactWriter>(values);
}

std::string JsonToPrettyString(const std::vector<std::string>& values) {
    return WriteToString<JsonPrettyWriter>(values);
}
std::string JsonToPrettyString(const std::unordered_map<std::string, std::string>& values) {
    return WriteToString<JsonPrettyWriter>(values);
}
std::string JsonToPrettyString(const std::unordered_map<unsigned, std::string>& values) {
    return WriteToString<JsonPrettyWriter>(values);
}
std::string JsonToPrettyString(const std::vector<std::unordered_map<std::string, std::string>>& values) {
    return WriteToString<JsonPrettyWriter>(values);
}
std::string JsonToPrettyString(const std::vector<std::unordered_map<unsigned, std::string>>& values) {
    return WriteToString<JsonPrettyWriter>(values);
}
std::string JsonToPrettyString(const std::vector<std::vector<std::string>>& values) {
    return WriteToString<JsonPrettyWriter>(values);
}

void WriteJson(JsonCompactWriter& writer, const std::vector<std::string>& values) { WriteStrings(writer, values); }
void WriteJson(JsonCompactWriter& writer, const std::unordered_map<unsigned, std::string>& values) {
    WriteUintMap(writer, values);
}
void WriteJson(JsonPrettyWriter& writer, const std::vector<std::string>& values) { WriteStrings(writer, values); }
void WriteJson(JsonPrettyWriter& writer, const std::unordered_map<unsigned, std::string>& values) {
    WriteUintMap(writer, values);
}

// ---- parsing ---------------------------------------------------------------------------------

rapidjson::ParseResult ParseJsonDocument(rapidjson::Document& doc, const char* text, std::size_t len) {
    if (text == nullptr) len = 0;
    rapidjson::MemoryStream memory(text, len);
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    doc.ParseStream<kParseFlags, rapidjson::UTF8<>>(input);
    return AsRecursiveParserReports(doc, text, len);
}

bool ParseJson(rapidjson::Document& doc, const std::string** err, const char* text, unsigned len) {
    return ParseBytes(doc, err, text, len);
}

bool ParseJson(rapidjson::Document& doc, const std::string** err, const std::string& text) {
    return ParseBytes(doc, err, text.data(), text.size());
}

bool JsonObjectToStringMap(std::unordered_map<std::string, std::string>& map, const std::string** err,
                           const char* text, int len) {
    if (len < 0) {
        Fail(MapErrorText(), err, "Negative Length");
        return false;
    }
    return MapFromBytes(map, err, text, static_cast<std::size_t>(len));
}

bool JsonObjectToStringMap(std::unordered_map<std::string, std::string>& map, const std::string** err,
                           const std::string& text) {
    return MapFromBytes(map, err, text.data(), text.size());
}

bool ParseJsonInsitu(void* /*unused*/, const std::string** err, char* text, unsigned len) {
    std::size_t rest = text == nullptr ? 0 : len;
    while (rest > 0 && (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n')) {
        ++text;
        --rest;
    }
    try {
        rapidjson::Document doc;
        BoundedInsituStream input(text, rest);
        doc.ParseStream<kParseFlags | rapidjson::kParseInsituFlag, rapidjson::UTF8<>>(input);
        if (!doc.HasParseError()) return true;
        if (err != nullptr) {
            const rapidjson::ParseResult result = AsRecursiveParserReports(doc, text, rest);
            Fail(InsituErrorText(), err, ParseErrorText(result.Code(), result.Offset(), text, rest));
        }
    } catch (const std::exception& e) {
        Fail(InsituErrorText(), err, e.what());
    } catch (...) {
        Fail(InsituErrorText(), err, "unknown exception");
    }
    return false;
}

bool IsParseError(const int* code) { return code != nullptr && *code != 0; }

bool EqualsIgnoreCase(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return false;
    const std::size_t length = std::strlen(a);
    if (std::strlen(b) != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace API
}  // namespace OXA
