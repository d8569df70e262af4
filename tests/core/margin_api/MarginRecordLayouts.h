// Where the multi-byte numbers sit in each public record a margin answer or push carries as
// received, written out here from the records' layout tables (offset, width) rather than taken
// from the library's structs or its swap lists, so a test that converts by them checks the
// library against the layouts. Texts and single bytes are not listed: they are never converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace margin_test {

struct NumberAt {
    std::size_t offset;
    std::size_t width;
};

struct RecordLayout {
    const char* name;
    std::size_t size;
    std::vector<NumberAt> numbers;
};

// Every 8 bytes from first to last, inclusive.
inline std::vector<NumberAt> Every8(std::size_t first, std::size_t last) {
    std::vector<NumberAt> out;
    for (std::size_t at = first; at <= last; at += 8) out.push_back({at, 8});
    return out;
}

inline std::vector<NumberAt> Join(std::vector<NumberAt> a, const std::vector<NumberAt>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline const std::vector<RecordLayout>& RecordLayouts() {
    static const std::vector<RecordLayout> layouts = {
        {"OXAOrderInfo", 140,
         {{0, 8}, {8, 4}, {12, 4}, {16, 8}, {40, 4}, {44, 8}, {52, 8}, {60, 4}, {72, 8}, {80, 8}, {88, 8},
          {96, 8}, {104, 8}, {112, 8}, {131, 4}, {135, 4}}},
        {"OXATradeReport", 131, {{0, 8}, {8, 4}, {28, 4}, {32, 4}, {58, 8}, {66, 8}, {74, 8}, {82, 8}, {90, 8}}},
        {"OXAPositionInfo", 532,
         {{80, 4}, {84, 8}, {92, 8}, {100, 8}, {108, 8}, {116, 8}, {124, 8}, {132, 4}, {136, 4}, {140, 8},
          {148, 8}, {156, 8}, {164, 8}, {172, 8}}},
        {"OXAAssetInfo", 412, Join(Join(Every8(0, 56), {{64, 4}}), Every8(68, 196))},
        {"OXAFundInfo", 372, Join({{0, 4}}, Every8(4, 108))},
        {"OXAFundTransferNotice", 32, {{0, 8}, {8, 4}, {12, 8}, {20, 4}, {24, 8}}},
        {"OXAIPOQuotaInfo", 16, {{0, 4}, {4, 4}, {8, 4}, {12, 4}}},
        {"OXAIssueInfo", 120, {{0, 4}, {84, 4}, {104, 8}, {112, 4}, {116, 4}}},
        {"OXACreditInfo1", 157, {{0, 8}, {12, 8}, {20, 8}, {29, 4}}},
        {"OXACreditInfo2", 48, Every8(0, 40)},
        {"OXACreditInfo3", 150,
         {{0, 4}, {37, 8}, {45, 8}, {53, 4}, {77, 8}, {85, 8}, {93, 8}, {102, 8}, {110, 8}, {118, 8}, {126, 8},
          {134, 8}, {142, 8}}},
        {"OXACreditInfo5", 36, {{20, 8}, {28, 8}}},
        {"OXACreditInfo7", 56, {{20, 8}, {28, 8}, {36, 8}, {44, 8}, {52, 4}}},
        {"OXACreditInfo9", 72, {{0, 8}}},
        {"OXACreditInfo10", 92, {{20, 8}}},
        {"OXACreditInfo11", 28, {{20, 8}}},
        {"OXACreditInfo12", 44, {{24, 8}, {36, 8}}},
        {"OXACreditInfo13", 92, {{20, 8}}},
        {"OXACreditInfo14", 32, {{0, 8}, {12, 8}, {24, 8}}},
    };
    return layouts;
}

// The layout of the record named, or null.
inline const RecordLayout* LayoutOf(const std::string& name) {
    for (const RecordLayout& l : RecordLayouts())
        if (name == l.name) return &l;
    return nullptr;
}

// The record as a big-endian sender writes it: every listed number of the host-order image
// byte-reversed, every other byte as it is.
inline std::vector<uint8_t> BigEndianImage(const RecordLayout& layout, std::vector<uint8_t> host) {
    for (const NumberAt& n : layout.numbers)
        for (std::size_t i = 0; i < n.width / 2; ++i) std::swap(host[n.offset + i], host[n.offset + n.width - 1 - i]);
    return host;
}

}  // namespace margin_test
