// CCsvReader: splitting and trimming, the line limit, header files, real files
// (Debian's debian.csv, tables written by Python's csv module with quoting off).
#include "infra/utility/CCsvReader.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "data/TestFiles.h"

using OXA::API::CCsvReader;

namespace {

using Fields = std::vector<std::string>;
using Rows = std::vector<Fields>;

// A path must never reach the trim-only constructor through the
// pointer-to-bool conversion.
static_assert(!std::is_constructible<CCsvReader, const char*>::value, "a C string is not a trim flag");
static_assert(!std::is_constructible<CCsvReader, char*>::value, "a C string is not a trim flag");
static_assert(!std::is_constructible<CCsvReader, const char (&)[8]>::value, "a literal is not a trim flag");
static_assert(!std::is_convertible<bool, CCsvReader>::value, "the trim constructor is explicit");
static_assert(std::is_constructible<CCsvReader, bool>::value, "");
static_assert(std::is_constructible<CCsvReader, const char*, bool>::value, "a literal path with a trim flag");
static_assert(std::is_constructible<CCsvReader, std::string, char, bool, bool>::value, "");

TEST(CsvSplit, FieldsAndTrimming) {
  struct Case {
    const char* line;
    bool trim;
    Fields fields;
  };
  const Case cases[] = {
      {"a,,b,", false, {"a", "", "b", ""}},
      {"", false, {""}},
      {",", false, {"", ""}},
      {" a , b ", false, {" a ", " b "}},
      {" a , b ", true, {"a", "b"}},
      {"  x\r", true, {"x"}},
      {"   ", true, {""}},
      {"x,  ", true, {"x", ""}},
      {" a \r", true, {"a"}},           // trailing spaces and CRs in any order
      {"v\r \r", true, {"v"}},
      {"\tx\t", true, {"\tx\t"}},       // tabs stay
      {" \r x", true, {"\r x"}},        // only spaces lead away
      {"\"q,1\"", false, {"\"q", "1\""}},  // no quoting
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "[" << c.line << "] trim " << c.trim);
    CCsvReader reader(c.trim);
    Fields from_c = {"stale"}, from_string = {"stale"};
    EXPECT_TRUE(reader.SplitLine(c.line, from_c));
    EXPECT_TRUE(reader.Split(c.line, from_string));
    EXPECT_EQ(from_c, c.fields);
    EXPECT_EQ(from_string, c.fields);
  }
  CCsvReader reader(false);
  Fields f = {"stale"};
  EXPECT_FALSE(reader.SplitLine(nullptr, f));
  EXPECT_TRUE(f.empty());
  // a line feed inside a std::string line is trimmed like the CR
  EXPECT_TRUE(CCsvReader(true).Split("x \r\n", f));
  EXPECT_EQ(f, Fields{"x"});
}

TEST(CsvSplit, LongFieldsNeedNoFixedBuffer) {
  // longer than the 1024-byte field buffer such readers used to copy through
  const std::string first(1500, 'f');
  CCsvReader reader(true);
  Fields f;
  ASSERT_TRUE(reader.SplitLine((first + ",second").c_str(), f));
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0], first);
  EXPECT_EQ(f[1], "second");
  ASSERT_TRUE(reader.Split(first + "  ," + first, f));
  EXPECT_EQ(f, (Fields{first, first}));
}

class CsvFileTest : public testing::Test {
 protected:
  Rows ReadAllOf(const std::string& text, bool trim, bool* ok = nullptr) {
    CCsvReader reader(dir.Write("f.csv", text), trim);
    Rows rows;
    const bool all = reader.ReadAll(rows);
    if (ok != nullptr) *ok = all;
    return rows;
  }
  oxa_test::ScratchDir dir;
};

TEST_F(CsvFileTest, LinesAndRows) {
  struct Case {
    const char* name;
    std::string text;
    bool trim;
    Rows rows;
  };
  const Case cases[] = {
      {"last line with a line feed", "a,b\nc,d\n", false, {{"a", "b"}, {"c", "d"}}},
      {"last line without one", "a,b\nc,d", false, {{"a", "b"}, {"c", "d"}}},
      {"empty line inside", "a\n\nb\n", false, {{"a"}, {""}, {"b"}}},
      {"empty file", "", false, {}},
      {"one line feed", "\n", false, {{""}}},
      {"CR LF kept without trim", "a,b\r\nc\r\n", false, {{"a", "b\r"}, {"c\r"}}},
      {"CR LF dropped by trim", "a,b\r\nc\r\n", true, {{"a", "b"}, {"c"}}},
  };
  for (const Case& c : cases) {
    bool ok = false;
    EXPECT_EQ(ReadAllOf(c.text, c.trim, &ok), c.rows) << c.name;
    EXPECT_TRUE(ok) << c.name;
  }
}

TEST_F(CsvFileTest, LineLimitAt2047Characters) {
  const std::string at_limit = std::string(2045, 'x') + ",y";  // 2047
  const std::string past = at_limit + "z";                     // 2048
  bool ok = false;
  EXPECT_EQ(ReadAllOf(at_limit + "\nnext\n", false, &ok), (Rows{{std::string(2045, 'x'), "y"}, {"next"}}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(ReadAllOf("next\n" + at_limit, false, &ok), (Rows{{"next"}, {std::string(2045, 'x'), "y"}}));
  EXPECT_TRUE(ok) << "at the limit, at the end of the file";

  // past the limit: the first 2047 characters are a row, then reading stops
  // and ReadAll says a line was cut
  EXPECT_EQ(ReadAllOf("first\n" + past + "\nnext\n", false, &ok),
            (Rows{{"first"}, {std::string(2045, 'x'), "y"}}));
  EXPECT_FALSE(ok);

  CCsvReader reader(dir.Write("cut.csv", past + "\nnext\n"), false);
  Fields f;
  ASSERT_TRUE(reader.ReadLine(f));
  EXPECT_EQ(f, (Fields{std::string(2045, 'x'), "y"}));
  Fields kept = {"kept"};
  EXPECT_FALSE(reader.ReadLine(kept));
  EXPECT_EQ(kept, Fields{"kept"}) << "fields unchanged once reading stopped";

  // a new Open starts again
  ASSERT_TRUE(reader.Open(dir.Write("fine.csv", "1,2\n")));
  Rows rows;
  EXPECT_TRUE(reader.ReadAll(rows));
  EXPECT_EQ(rows, (Rows{{"1", "2"}}));
}

TEST_F(CsvFileTest, LongFirstFieldFromAFile) {
  const std::string first(1500, 'q');
  bool ok = false;
  EXPECT_EQ(ReadAllOf(first + ",2,3\n", true, &ok), (Rows{{first, "2", "3"}}));
  EXPECT_TRUE(ok);
}

TEST_F(CsvFileTest, MinimumFieldCount) {
  CCsvReader reader(dir.Write("m.csv", "a,b\na,b,c\n"), false);
  Fields f;
  EXPECT_FALSE(reader.ReadLine(f, 3));
  EXPECT_EQ(f, (Fields{"a", "b"})) << "filled even when too few";
  EXPECT_TRUE(reader.ReadLine(f, 3));
  EXPECT_FALSE(reader.ReadLine(f, 0)) << "end of the file";
}

TEST_F(CsvFileTest, OpeningFailures) {
  try {
    CCsvReader reader(std::string(), false);
    ADD_FAILURE() << "an empty path must throw";
  } catch (const char* what) {
    EXPECT_STREQ(what, "File Is Null");
  }
  CCsvReader unopened(false);
  EXPECT_THROW(unopened.Open(), const char*);
  Rows rows = {{"stale"}};
  EXPECT_FALSE(unopened.ReadAll(rows)) << "never opened";
  EXPECT_TRUE(rows.empty());

  CCsvReader missing(dir.Path("missing.csv"), true);
  Fields f;
  EXPECT_FALSE(missing.ReadLine(f));
  EXPECT_FALSE(missing.ReadAll(rows));
  EXPECT_FALSE(missing.Open(dir.Path("missing.csv")));
  EXPECT_TRUE(missing.Open(dir.Write("now.csv", "x\n")));
  EXPECT_TRUE(missing.ReadLine(f));
  EXPECT_EQ(f, Fields{"x"});

  missing.Close();
  EXPECT_FALSE(missing.ReadLine(f));
}

// Debian's own release table (distro-info-data), read with the header flag.
TEST_F(CsvFileTest, DebianReleasesWithHeader) {
  CCsvReader reader(oxa_test::DataPath("csv/debian.csv"), true, false);
  EXPECT_EQ(reader.GetColumnCount(), 8);
  EXPECT_EQ(reader.GetHeader(),
            (Fields{"version", "codename", "series", "created", "release", "eol", "eol-lts", "eol-elts"}));
  Fields f;
  ASSERT_TRUE(reader.ReadLine(f));
  EXPECT_EQ(f, (Fields{"1.1", "Buzz", "buzz", "1993-08-16", "1996-06-17", "1997-06-05"}));

  ASSERT_TRUE(reader.Open());  // again from the start, header included
  Rows rows;
  ASSERT_TRUE(reader.ReadAll(rows));
  ASSERT_EQ(rows.size(), 22u);
  EXPECT_EQ(rows[16], (Fields{"12", "Bookworm", "bookworm", "2021-08-14", "2023-06-10", "2026-07-11", "2028-06-30",
                              "2033-06-30"}));
  EXPECT_EQ(rows[21], (Fields{"", "Experimental", "experimental", "1993-08-16"}));
  int with_all_columns = 0;
  for (const Fields& row : rows) with_all_columns += static_cast<int>(row.size()) == reader.GetColumnCount();
  EXPECT_EQ(with_all_columns, 7);
}

// Written by Python's csv module with quoting off (tests/data/csv/make_csv.py):
// CR LF line ends, a quote as an ordinary character, an all-empty row.
TEST_F(CsvFileTest, PythonWrittenFiles) {
  {
    CCsvReader reader(oxa_test::DataPath("csv/orders_crlf.csv"), ',', true, true);
    EXPECT_EQ(reader.GetHeader(), (Fields{"code", "name", "price", "note"}));
    Rows rows;
    ASSERT_TRUE(reader.ReadAll(rows));
    EXPECT_EQ(rows, (Rows{{"600000", "Pudong \"A\"", "10.25", ""},
                          {"000001", "Ping An", "-0.5", "tab\tinside"},
                          {"", "", "", ""},
                          {"300750", "CATL", "1e3", "last"}}));
  }
  {
    CCsvReader reader(oxa_test::DataPath("csv/orders_crlf.csv"), false);
    Fields f;
    ASSERT_TRUE(reader.ReadLine(f));
    EXPECT_EQ(f, (Fields{"code", "name", "price", "note\r"})) << "untrimmed, the CR stays";
    EXPECT_EQ(reader.GetColumnCount(), 0);
  }
  {
    CCsvReader reader(oxa_test::DataPath("csv/orders_tab.tsv"), '\t', true, false);
    EXPECT_EQ(reader.GetColumnCount(), 4);
    Rows rows;
    ASSERT_TRUE(reader.ReadAll(rows));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], (Fields{"000001", " Ping An ", "-0.5", "tab inside"}));
    EXPECT_EQ(rows[2], (Fields{"", "", "", ""}));
  }
}

}  // namespace
