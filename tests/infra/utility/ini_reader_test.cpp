// CIniReader, CIniSectionReader and CIniMultiSectionReader: the shared line
// grammar, the line limits, the typed getters, real files from Debian.
#include "infra/utility/CIniReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/TestFiles.h"

using OXA::API::CIniMultiSectionReader;
using OXA::API::CIniReader;
using OXA::API::CIniSectionReader;
using OXA::API::IniSection;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

const char* const kGrammar =
    "port=1\n"
    "; before any header\n"
    "[db]\n"
    "host = 10\n"
    "host=11\n"
    "# comment=ignored\n"
    "; also=ignored\n"
    "no equals sign here\n"
    "\n"
    "   \t \r\n"
    "  [  spaced  ]  \n"
    "\tkey\t=\t a=b \r\n"
    "=empty key\n"
    "empty value=\n"
    "[]\n"
    "k=in the unnamed section\n"
    "[a-b]\n"
    "c=first\n"
    "[a]\n"
    "b-c=second\n"
    "[last]\n"
    "tail=no line end";

class IniTest : public testing::Test {
 protected:
  oxa_test::ScratchDir dir;
};

TEST_F(IniTest, LineGrammar) {
  const std::string path = dir.Write("grammar.ini", kGrammar);
  CIniReader ini(path.c_str());
  CIniSectionReader ordered(path.c_str());
  ASSERT_TRUE(ini.IsLoaded());

  struct Case {
    const char* section;
    const char* key;
    const char* value;  // null: absent
  };
  const Case cases[] = {
      {"db", "host", "11"},  // the later line wins
      {"spaced", "key", "a=b"},
      {"spaced", "", "empty key"},
      {"spaced", "empty value", ""},
      {"", "k", "in the unnamed section"},
      {"a-b", "c", "second"},  // section a, key b-c composes the same key
      {"a", "b-c", "second"},
      {"last", "tail", "no line end"},
      {"", "port", nullptr},
      {"db", "port", nullptr},
      {"db", "# comment", nullptr},
      {"db", "; also", nullptr},
      {"  spaced  ", "key", nullptr},
      {"db", "host ", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "[" << c.section << "] " << c.key);
    for (const char* found : {ini.Find(c.section, c.key), ordered.Find(c.section, c.key)}) {
      if (c.value == nullptr) {
        EXPECT_EQ(found, nullptr);
      } else {
        ASSERT_NE(found, nullptr);
        EXPECT_STREQ(found, c.value);
      }
    }
  }

  const std::vector<std::string> names = {"db", "spaced", "", "a-b", "a", "last"};
  for (const auto* sections : {&ini.GetSections(), &ordered.GetSections()}) {
    ASSERT_EQ(sections->size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ((*sections)[i].name, names[i]);
    EXPECT_EQ((*sections)[0].pairs, (Pairs{{"host", "10"}, {"host", "11"}})) << "duplicates kept in order";
    EXPECT_EQ((*sections)[1].pairs, (Pairs{{"key", "a=b"}, {"", "empty key"}, {"empty value", ""}}));
  }
}

TEST_F(IniTest, NullArgumentsAndMissingFiles) {
  const std::string path = dir.Write("x.ini", "[s]\nk=v\n");
  CIniReader ini(path.c_str());
  EXPECT_EQ(ini.Find(nullptr, "k"), nullptr);
  EXPECT_EQ(ini.Find("s", nullptr), nullptr);
  std::string out = "untouched";
  EXPECT_FALSE(ini.GetStdString(nullptr, "k", out));
  EXPECT_EQ(out, "untouched");

  // a failed Load keeps what is stored and reports false
  EXPECT_FALSE(ini.Load(dir.Path("missing.ini").c_str()));
  EXPECT_FALSE(ini.IsLoaded());
  EXPECT_STREQ(ini.Find("s", "k"), "v");
  EXPECT_FALSE(ini.Load(nullptr));

  // a second Load adds to the store and the section list
  const std::string more = dir.Write("more.ini", "[s]\nk=w\n[t]\nx=1\n");
  EXPECT_TRUE(ini.Load(more.c_str()));
  EXPECT_STREQ(ini.Find("s", "k"), "w");
  EXPECT_STREQ(ini.Find("t", "x"), "1");
  EXPECT_EQ(ini.GetSections().size(), 3u);

  CIniReader never;
  EXPECT_FALSE(never.IsLoaded());
  CIniSectionReader missing(dir.Path("missing.ini").c_str());
  EXPECT_TRUE(missing.GetSections().empty());
  CIniMultiSectionReader missing_multi(dir.Path("missing.ini").c_str());
  EXPECT_EQ(missing_multi.GetSectionCount("s"), 0);
}

// Line limits: 1023 characters for CIniReader, 1022 for the other two, not
// counting the line feed; the CR of a CR LF line end is a character of the
// line. A line past the limit ends the parse: its own key and everything
// after it are missing, loading still succeeds.
TEST_F(IniTest, LineLimitsWithLfAndCrLf) {
  struct Case {
    const char* eol;
    size_t length;  // without the line end
    bool hash_reader_loads;
    bool ordered_readers_load;
  };
  const Case cases[] = {
      {"\n", 1021, true, true},      {"\n", 1022, true, true},      {"\n", 1023, true, false},
      {"\n", 1024, false, false},    {"\r\n", 1021, true, true},    {"\r\n", 1022, true, false},
      {"\r\n", 1023, false, false}, {"\r\n", 1024, false, false},
  };
  for (const Case& c : cases) {
    const std::string eol = c.eol;
    SCOPED_TRACE(testing::Message() << c.length << " characters, " << (eol.size() == 2 ? "CR LF" : "LF"));
    const std::string value(c.length - 2, 'v');
    const std::string text = "[s]" + eol + "before=1" + eol + "k=" + value + eol + "after=2" + eol;
    const std::string path = dir.Write("limit.ini", text);
    CIniReader ini(path.c_str());
    CIniSectionReader ordered(path.c_str());
    CIniMultiSectionReader multi(path.c_str());
    EXPECT_TRUE(ini.IsLoaded());
    EXPECT_STREQ(ini.Find("s", "before"), "1");
    EXPECT_STREQ(ordered.Find("s", "before"), "1");
    EXPECT_STREQ(multi.Find("s", "before", 1), "1");

    const char* got[] = {ini.Find("s", "k"), ordered.Find("s", "k"), multi.Find("s", "k", 1)};
    const char* after[] = {ini.Find("s", "after"), ordered.Find("s", "after"), multi.Find("s", "after", 1)};
    const bool loads[] = {c.hash_reader_loads, c.ordered_readers_load, c.ordered_readers_load};
    for (int r = 0; r < 3; ++r) {
      SCOPED_TRACE(r);
      if (loads[r]) {
        ASSERT_NE(got[r], nullptr);
        EXPECT_EQ(got[r], value);
        EXPECT_STREQ(after[r], "2");
      } else {
        EXPECT_EQ(got[r], nullptr);
        EXPECT_EQ(after[r], nullptr);
      }
    }
  }
}

TEST_F(IniTest, HugeLineEndsTheParseWithoutReadingItWhole) {
  const std::string path = dir.Write("huge.ini", "[s]\na=1\nb=" + std::string(4 << 20, 'x') + "\nc=3\n");
  CIniReader ini(path.c_str());
  EXPECT_TRUE(ini.IsLoaded());
  EXPECT_STREQ(ini.Find("s", "a"), "1");
  EXPECT_EQ(ini.Find("s", "b"), nullptr);
  EXPECT_EQ(ini.Find("s", "c"), nullptr);
}

TEST_F(IniTest, MultiSectionOccurrences) {
  const std::string path =
      dir.Write("peers.ini", "[peer]\nip=10.0.0.1\n[other]\nip=x\n[peer]\nip=10.0.0.2\nport=7\n[peer]\n");
  CIniMultiSectionReader multi(path.c_str());
  EXPECT_STREQ(multi.Find("peer", "ip", 1), "10.0.0.1");
  EXPECT_STREQ(multi.Find("peer", "ip", 2), "10.0.0.2");
  EXPECT_STREQ(multi.Find("other", "ip", 1), "x");
  EXPECT_EQ(multi.Find("peer", "port", 1), nullptr);
  EXPECT_STREQ(multi.Find("peer", "port", 2), "7");
  EXPECT_EQ(multi.Find("peer", "ip", 3), nullptr);
  EXPECT_EQ(multi.Find("peer", "ip", 0), nullptr);
  EXPECT_EQ(multi.Find(nullptr, "ip", 1), nullptr);
  EXPECT_EQ(multi.GetSectionCount("peer"), 3);
  EXPECT_EQ(multi.GetSectionCount("other"), 1);
  EXPECT_EQ(multi.GetSectionCount("never"), 0);
  EXPECT_EQ(multi.GetSectionCount(nullptr), 0);
  ASSERT_EQ(multi.GetSections().size(), 4u);
  EXPECT_EQ(multi.GetSections()[2].pairs, (Pairs{{"ip", "10.0.0.2"}, {"port", "7"}}));
}

class IniGetterTest : public IniTest {
 protected:
  void SetUp() override {
    path = dir.Write("values.ini",
                     "[v]\n"
                     "int=42\nneg=-7\nwords=abc\nlead=  12x\n"
                     "over32=2147483648\nunder32=-2147483649\nhuge=99999999999999999999\nmax32=2147483647\n"
                     "over64=9223372036854775808\n"
                     "dbl=1.5e3\n"
                     "three=abc\nempty=\n"
                     "b_TRUE=TRUE\nb_0=0\nb_yes=yes\nb_1=1\nb_t=t\nb_tru=tru\nb_True=True\nb_truer=trueish\n"
                     "b_10=10\n");
    ini = std::make_unique<CIniReader>(path.c_str());
  }
  std::string path;
  std::unique_ptr<CIniReader> ini;
};

TEST_F(IniGetterTest, IntegersConvertAndSaturate) {
  const std::pair<const char*, int32_t> cases32[] = {
      {"int", 42},           {"neg", -7},           {"words", 0},          {"lead", 12},
      {"over32", INT32_MAX}, {"under32", INT32_MIN}, {"huge", INT32_MAX}, {"max32", INT32_MAX},
  };
  for (const auto& c : cases32) {
    int32_t out = 123;
    EXPECT_TRUE(ini->GetInt("v", c.first, out)) << c.first;
    EXPECT_EQ(out, c.second) << c.first;
  }
  int64_t out64 = 0;
  EXPECT_TRUE(ini->GetInt64("v", "over32", out64));
  EXPECT_EQ(out64, 2147483648LL);
  EXPECT_TRUE(ini->GetInt64("v", "over64", out64));
  EXPECT_EQ(out64, INT64_MAX);
  double d = 0;
  EXPECT_TRUE(ini->GetDouble("v", "dbl", d));
  EXPECT_EQ(d, 1500.0);

  int32_t untouched = 5;
  EXPECT_FALSE(ini->GetInt("v", "absent", untouched));
  EXPECT_FALSE(ini->GetInt("absent", "int", untouched));
  EXPECT_EQ(untouched, 5);
}

TEST_F(IniGetterTest, Bool) {
  const std::pair<const char*, bool> cases[] = {
      {"b_TRUE", true}, {"b_0", false},    {"b_yes", false},  {"b_1", true},  {"b_t", false},
      {"b_tru", false}, {"b_True", true}, {"b_truer", true}, {"b_10", false}, {"empty", false},
  };
  for (const auto& c : cases) {
    bool out = !c.second;
    EXPECT_TRUE(ini->GetBool("v", c.first, out)) << c.first;
    EXPECT_EQ(out, c.second) << c.first;
  }
  bool out = true;
  EXPECT_FALSE(ini->GetBool("v", "absent", out));
  EXPECT_TRUE(out);
}

TEST_F(IniGetterTest, TextGetters) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(ini->GetStringCopy("v", "three", buffer, 4)) << "value length + 1 >= size";
  EXPECT_EQ(buffer[0], '#');
  EXPECT_TRUE(ini->GetStringCopy("v", "three", buffer, 5));
  EXPECT_STREQ(buffer, "abc");
  EXPECT_FALSE(ini->GetStringCopy("v", "three", nullptr, 5));

  const char* text = nullptr;
  EXPECT_TRUE(ini->GetString("v", "three", text));
  EXPECT_EQ(text, ini->Find("v", "three")) << "the stored value itself";

  char c = '?';
  EXPECT_FALSE(ini->GetChar("v", "empty", c));
  EXPECT_EQ(c, '?');
  EXPECT_TRUE(ini->GetChar("v", "three", c));
  EXPECT_EQ(c, 'a');

  std::string s;
  EXPECT_TRUE(ini->GetStdString("v", "empty", s));
  EXPECT_EQ(s, "");
  EXPECT_TRUE(ini->GetStdString("v", "dbl", s));
  EXPECT_EQ(s, "1.5e3");
}

// Files shipped by Debian (see tests/data/README.md).
TEST_F(IniTest, DesktopEntryFromVim) {
  const std::string path = oxa_test::DataPath("ini/vim.desktop");
  CIniReader ini(path.c_str());
  ASSERT_TRUE(ini.IsLoaded());
  ASSERT_EQ(ini.GetSections().size(), 1u);
  const IniSection& entry = ini.GetSections()[0];
  EXPECT_EQ(entry.name, "Desktop Entry");
  EXPECT_EQ(entry.pairs.size(), 125u) << "every key line of the file, none of its comments";
  EXPECT_STREQ(ini.Find("Desktop Entry", "Name"), "Vim");
  EXPECT_STREQ(ini.Find("Desktop Entry", "Exec"), "vim %F");
  EXPECT_STREQ(ini.Find("Desktop Entry", "GenericName[zh_CN]"), "文本编辑器");
  EXPECT_STREQ(ini.Find("Desktop Entry", "Keywords"), "Text;editor;");
  bool terminal = false, notify = true;
  EXPECT_TRUE(ini.GetBool("Desktop Entry", "Terminal", terminal));
  EXPECT_TRUE(terminal);
  EXPECT_TRUE(ini.GetBool("Desktop Entry", "StartupNotify", notify));
  EXPECT_FALSE(notify);
  const char* mime = ini.Find("Desktop Entry", "MimeType");
  ASSERT_NE(mime, nullptr);
  EXPECT_EQ(std::strlen(mime), 197u);
}

TEST_F(IniTest, SystemdUnitFromApt) {
  const std::string path = oxa_test::DataPath("ini/apt-daily.service");
  CIniSectionReader unit(path.c_str());
  ASSERT_EQ(unit.GetSections().size(), 2u);
  EXPECT_EQ(unit.GetSections()[0].name, "Unit");
  EXPECT_EQ(unit.GetSections()[1].name, "Service");
  EXPECT_STREQ(unit.Find("Unit", "Description"), "Daily apt download activities");
  EXPECT_STREQ(unit.Find("Unit", "Documentation"), "man:apt(8)");
  EXPECT_STREQ(unit.Find("Unit", "After"),
               "network.target network-online.target systemd-networkd.service NetworkManager.service "
               "connman.service");
  EXPECT_STREQ(unit.Find("Service", "Type"), "oneshot");
  EXPECT_STREQ(unit.Find("Service", "ExecStartPre"), "-/usr/lib/apt/apt-helper wait-online");
  EXPECT_STREQ(unit.Find("Service", "ExecStart"), "/usr/lib/apt/apt.systemd.daily update");
  EXPECT_EQ(unit.Find("Unit", "Type"), nullptr);
}

}  // namespace
