#include "api/ErrorMsg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using OXA::API::FillErrorMsg;
using OXA::API::GetApiErrorMsg;
using OXA::API::GetErrorMsg;

constexpr const char* kUnknown = "未知错误";
constexpr const char* kOutside = "OXA_EXCHANGE_ERR_CODE";

// "a-b, c, ..." -> every code listed.
std::set<int> ParseCodes(const std::string& list) {
    std::set<int> codes;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        const size_t dash = item.find('-', 1);  // a leading '-' is a sign
        const int first = std::stoi(item.substr(0, dash));
        const int last = dash == std::string::npos ? first : std::stoi(item.substr(dash + 1));
        for (int c = first; c <= last; ++c) codes.insert(c);
    }
    return codes;
}

const std::set<int>& OwnCodes() {
    static const std::set<int> codes = ParseCodes(
        "-286388222, 0, 1001-1013, 1016-1019, 4097, 4099-4112, 8193-8194, 12289-12291, 16385-16391, 80001-80009, "
        "81001-81006, 200001-200003, 210000-210005, 211002-211009, 220101-220102, 226001-226004, "
        "230101-230125, 230201-230210, 230301-230314, 230401-230412, 230502, 230506-230536, 230600-230602, "
        "230700-230701, 230800-230829, 231500-231517, 232000-232008, 232100-232101, 232200-232202, "
        "232301-232305, 232400-232404, 232500-232505, 232601-232604, 232701-232703, 233000-233004");
    return codes;
}

const std::set<int>& RejectCodesWithText() {
    static const std::set<int> codes = ParseCodes(
        "1, 3-4, 6-9, 12-13, 19, 22-23, 26-27, 42-45, 50-58, 65-78, 80-82, 85-90, 95-99, 202-204, 208-209, "
        "211-220, 222-228, 231, 234, 236-237, 243-248, 250, 252-253, 257, 263-283, 401, 403-413, 499, "
        "507-508, 731-736, 752-759, 1014-1015, 1021-1031, 1034, 1039-1040, 1042-1043, 1050, 1100-1102, "
        "2000-2001, 2004, 2006-2008, 2101-2102, 4001, 4003, 4012, 5000-5016, 6001-6113, 10000, 10002, "
        "10004, 10006, 10008, 10022, 10028, 10030, 10032, 10038, 10042, 10044, 10046, 10048, 10052, 10054, "
        "10056, 10058, 10062, 10066, 10070, 10074, 10076, 10078, 10080, 10084, 10086, 10088, 10090, 10092, "
        "10096, 10098, 10100, 10104, 10106, 10108, 10112, 10114, 10116, 10118, 10120, 10126, 10128, 10140, "
        "10142, 10144, 10146, 10150, 10156, 10160, 10162, 10172, 10178, 10182, 10188, 10192, 10194, 10200, "
        "10202, 10204, 10206, 10210, 10218, 10220, 10222, 10224, 10228, 10230, 10234, 10236, 10238, 10240, "
        "10242, 10244, 10246, 10248, 10250, 10252, 10254, 10256, 10258, 10260, 10262, 10264, 10266, 10268, "
        "10270, 10272, 10274, 10276, 10278, 10280, 10282, 10286, 10290, 10292, 10294, 10296, 10298, 10302, "
        "10304, 10306, 10308, 10310, 10318, 10320, 10322, 10324, 10326, 10348, 10350, 10352, 10354, 10356, "
        "10360, 10362, 10364, 10366, 10368, 10376, 10378, 10380, 10382, 10390, 10392, 10394, 10396, 10398, "
        "10400, 10402, 10404, 10406, 10408, 10410, 10412, 10414, 10416, 10420, 10424, 10426, 10428, 10430, "
        "10432, 10434, 10436, 10438, 10440, 10442, 10444, 10446, 10448, 10450, 10454, 10456, 10462, 10464, "
        "10468, 10470, 10472, 10476, 10478, 10480, 10482, 10486, 10488, 10490, 10492, 10498, 10500, 10502, "
        "10504, 10506, 10508, 10510, 10514, 10516, 10518, 10520, 10522, 10524, 10528, 10532, 10534, 10536, "
        "10540, 10544, 10546, 10548, 10550, 10552, 10554, 10558, 10560, 10562, 10564, 10566, 10568, 10570, "
        "10572, 10574, 10576, 10578, 10590, 10596, 10604, 10606, 10608, 10610, 10616, 10618, 10620, 10622, "
        "10630, 10632, 10636, 10640, 10642, 10644, 10646, 10648, 10660, 10662, 10664, 10666, 10668, 10670, "
        "10672, 10674, 10676, 10678, 10680, 10682, 10684, 10686, 10688, 10690, 10694, 10696, 10698, 10700, "
        "10702, 10704, 10706, 10708, 10712, 10716, 10722, 10726, 10730, 10732, 10734, 10738, 10740, 10744, "
        "10746, 10748, 10750, 10752, 10754, 10756, 10758, 10760, 10762, 10764, 10766, 10768, 10770, 10772, "
        "10774, 10776, 10780, 10782, 10784, 10786, 10788, 10790, 10792, 10794, 10796, 10798, 10800, 10806, "
        "10808, 10812, 10820, 10822, 10824, 10826, 10828, 10836, 10838, 10840, 10842, 10844, 10868, 10884, "
        "10886, 10888, 10894, 10896, 10900, 10902, 10916, 10918, 10920, 10924, 10926, 10928, 10930, 10932, "
        "10934, 10938, 10940, 10942, 10944, 10946, 10948, 10952, 10956, 10958, 10960, 10962, 10964, 10966, "
        "10968, 10972, 10978, 10980, 10982, 10986, 10988, 10990, 10992, 10994, 11002, 11004, 11006, 11008, "
        "11012, 11018, 11024, 11026, 11028, 11032, 11034, 11036, 11038, 11040, 11042, 11044, 11046, 11048, "
        "11050, 11052, 11054, 11056, 11058, 11060, 11062, 11064, 11068, 11070, 11072, 11076, 11078, 11080, "
        "11082, 11084, 11090, 11094, 11098, 11100, 11102, 11106, 11108, 11110, 11116, 11118, 11122, 11124, "
        "11126, 11128, 11130, 11132, 11134, 11138, 11140, 11148, 11150, 11152, 11154, 11156, 11162, 11166, "
        "11170, 11172, 11174, 11182, 11194, 11196, 11202, 11204, 11206, 11208, 11210, 11212, 11214, 11218, "
        "11226, 11228, 11230, 11236, 11238, 11240, 11244, 11246, 11248, 11250, 11252, 11254, 11258, 11262, "
        "11264, 11266, 11268, 11270, 11272, 11276, 11278, 11280, 11282, 11284, 11288, 11290, 11292, 11296, "
        "11298, 11300, 11302, 12000, 12002, 12004, 12006, 12008, 12010, 12012, 12014, 12016, 12018, 12020, "
        "12022, 12024, 12026, 12028, 12032, 12034, 13302, 13304, 13306, 13310, 13312, 13314, 13316, 13318, "
        "13322, 13324, 13326, 13328, 13330, 13332, 13334, 13336, 13342, 13344, 13346, 13348, 13350, 13354, "
        "13356, 13358, 13360, 13362, 13366, 13368, 13370, 13374, 13378, 13380, 13382, 13384, 13386, 13388, "
        "13390, 13392, 13394, 13396, 13398, 13400, 13402, 13404, 13406, 13412, 13416, 13418, 13422, 13424, "
        "13426, 13428, 13430, 13432, 13434, 13436, 13438, 13440, 13442, 13444, 13446, 13448, 13450, 13452, "
        "13454, 13456, 13458, 13460, 13462, 13464, 13466, 13468, 13470, 13472, 13474, 13476, 13478, 13480, "
        "13482, 13484, 13518, 13556, 13562, 13564, 13594, 13596, 13598, 13600, 13602, 13604, 13606, 13608, "
        "13610, 13612, 13614, 13616, 13618, 13620, 13622, 13624, 13626, 13628, 13630, 13632, 19030, 19058, "
        "19060, 19122, 19128, 20001-20003, 20005-20042, 20046-20051, 20055-20056, 20059-20065, 20067-20071, "
        "20073-20079, 20095-20097, 20099, 20101-20108, 20110-20140, 20143-20147, 20149-20151, 20153-20162, "
        "20164-20170, 20172-20176, 20201-20202, 28801-28806, 28811-28814, 28821-28826, 28831-28836, 28841, "
        "28851, 28861-28862, 28871, 29995-29998");
    return codes;
}

// Runs first in its own process: several threads make the very first lookups at once, so the
// reject table is built under contention.
TEST(ErrorMsgTest, ConcurrentFirstCallsSeeAFilledTable) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                const int code = (t * 3779 + i * 131) % 30000;
                const char* text = GetErrorMsg(code);
                if (text == nullptr || text[0] == '\0') wrong.fetch_add(1);
                if (std::strcmp(GetErrorMsg(1), "无效账户") != 0) wrong.fetch_add(1);
                if (std::strcmp(GetErrorMsg(4098), kUnknown) != 0) wrong.fetch_add(1);
            }
        });
    }
    while (ready.load() < kThreads) std::this_thread::yield();
    go.store(true, std::memory_order_release);
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ErrorMsgTest, TextsOfTellingCodes) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "正确"},  // the own code answers before reject entry 0 ("成功")
        {1005, "登出超时"},
        {4098, kUnknown},
        {29999, kUnknown},
        {2, kUnknown},
        {30000, kOutside},
        {-1, kOutside},
        {INT_MIN, kOutside},
        {INT_MAX, kOutside},
        {100000, kOutside},
        {6077, "暂不支持该项业务"},
        {-286388222, "未知消息号"},
        {1, "无效账户"},
        {1001, "登录超时"},
        {1002, "TCP连接断开"},
        {1003, "消息发送失败"},
        {1004, "错误的Session号"},
        {1006, "同一API登录SockType不一致"},
        {1007, "WIN版API不支持UDP接入"},
        {1008, "TCP连接未建立"},
        {1009, "输入参数格式校验错误"},
        {1010, "UDP模式不支持多节点接入"},
        {1016, "查询未完成"},
        {1017, "API已释放"},
        {1018, "委托编号不属于该Session"},
        {1019, "委托编号已用尽"},
        {4097, "登录失败"},
        {4099, "未知API类型"},
        {4104, "clientID 重复"},
        {4107, "同一clientID登录协议不匹配(现货)"},
        {4108, "非法 clientid"},
        {4112, "UDP模式禁止多点登录"},
        {6001, "登录失败"},
        {6066, "[查询]资金账户不匹配"},
        {6081, "数据发送失败"},
        {6112, "委托流速过快,触发流控"},
        {6113, "当日委托流量用完"},
        {8193, "数据库连接错误"},
        {12290, "请求频率超过流控阈值"},
        {16385, "未知的Session ID"},
        {80003, "节点未注册"},
        {81001, "未知划拨类型"},
        {200002, "废单"},
        {210003, "登录请求结果失败"},
        {210004, "登录超时"},
        {211004, "Sessionid无效"},
        {211006, "现金还款精度输入不合法"},
        {211008, "超过限定流速"},
        {230113, "业务不支持"},
        {231510, "OXAID不正确"},
        {231511, "OXAID不正确"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(GetErrorMsg(c.code), c.text);
    }
}

TEST(ErrorMsgTest, EveryOwnCodeHasItsOwnText) {
    ASSERT_EQ(OwnCodes().size(), 272u);
    for (int code : OwnCodes()) {
        SCOPED_TRACE(code);
        const std::string text = GetErrorMsg(code);
        EXPECT_NE(text, kUnknown);
        EXPECT_NE(text, kOutside);
        EXPECT_FALSE(text.empty());
        EXPECT_LT(text.size(), 124u);  // FillErrorMsg never cuts a character
    }
    // Just outside the own ranges the rules below 30000 or the outside text apply.
    for (int code : {4098, 8195, 12288, 12292, 16384, 16392}) EXPECT_STREQ(GetErrorMsg(code), kUnknown) << code;
    for (int code : {80000, 80010, 200000, 200004, 211001, 211010, 233005}) {
        EXPECT_STREQ(GetErrorMsg(code), kOutside) << code;
    }
}

TEST(ErrorMsgTest, RejectTableBelow30000) {
    ASSERT_EQ(RejectCodesWithText().size(), 1043u);
    int with_text = 0;
    for (int code = 1; code < 30000; ++code) {
        if (OwnCodes().count(code)) continue;
        const std::string text = GetErrorMsg(code);
        if (RejectCodesWithText().count(code)) {
            ++with_text;
            EXPECT_NE(text, kUnknown) << code;
            EXPECT_LT(text.size(), 124u) << code;
        } else {
            EXPECT_EQ(text, kUnknown) << code;
        }
    }
    EXPECT_EQ(with_text, 1043);
}

TEST(ErrorMsgTest, TextsStayValid) {
    const char* first = GetErrorMsg(10002);
    const std::string copy = first;
    for (int code = 0; code < 30000; code += 7) GetErrorMsg(code);
    EXPECT_EQ(GetErrorMsg(10002), first);
    EXPECT_EQ(copy, first);
}

TEST(ErrorMsgTest, FillErrorMsg) {
    const struct {
        int id;
        const char* before;
        const char* after;
    } cases[] = {
        {211008, "", "超过限定流速"},
        {211008, "x", "x"},
        {4098, "", kUnknown},
        {-1, "", kOutside},
        {1004, "server text", "server text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        OXAErrorInfo info;
        std::memset(&info, 0x7f, sizeof(info));  // no stray terminator after the text
        info.error_id = c.id;
        std::strcpy(info.error_msg, c.before);
        FillErrorMsg(&info);
        EXPECT_EQ(info.error_id, c.id);
        EXPECT_STREQ(info.error_msg, c.after);
    }
    FillErrorMsg(nullptr);  // ignored
}

TEST(ErrorMsgTest, FillErrorMsgLeavesAFullWireTextAlone) {
    OXAErrorInfo info;
    info.error_id = 6077;
    std::memset(info.error_msg, 'a', sizeof(info.error_msg));  // unterminated, as a peer may send
    FillErrorMsg(&info);
    for (char ch : info.error_msg) ASSERT_EQ(ch, 'a');
}

TEST(ErrorMsgTest, ApiErrorMsgIsPerThread) {
    const char* mine = GetApiErrorMsg(1004);
    EXPECT_STREQ(mine, "错误的Session号");
    std::string other_text;
    const char* other = nullptr;
    std::thread([&] {
        other = GetApiErrorMsg(211008);
        other_text = other;
    }).join();
    EXPECT_NE(mine, other);
    EXPECT_EQ(other_text, "超过限定流速");
    EXPECT_STREQ(mine, "错误的Session号");  // another thread's call left ours alone
    EXPECT_STREQ(GetApiErrorMsg(30000), kOutside);
}

}  // namespace
