#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "sidebar/lkJSON.h"

namespace kelvo {
namespace {

TEST(lkJSONTest, NumbersUseTheGeneralFormWithFifteenDigits) {
  const std::pair<long double, const char*> cases[] = {
      {14, "14"},
      {-3, "-3"},
      {0, "0"},
      {0.5L, "0.5"},
      {1.25L, "1.25"},
      {-0.75L, "-0.75"},
      {100, "100"},
      {1e20L, "1E20"},
      {1.5e-7L, "1.5E-7"},
      {-2.5e30L, "-2.5E30"},
      {2147483647, "2147483647"},
      {-2147483648.0L, "-2147483648"},
      {123456789012345.0L, "123456789012345"},
      {1e15L, "1E15"},
      {1234567890123456.0L, "1.23456789012346E15"},
      {0.0001L, "0.0001"},
      {0.00001L, "1E-5"},
      {1.0L / 3, "0.333333333333333"},
      {2.0L / 3, "0.666666666666667"},
      {0.1L, "0.1"},
      {999999999999999.9L, "1E15"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(TlkJSON::NumberText(value), text) << static_cast<double>(value);
  }
  EXPECT_EQ(TlkJSON::NumberText(std::numeric_limits<long double>::quiet_NaN()), "null");
  EXPECT_EQ(TlkJSON::NumberText(std::numeric_limits<long double>::infinity()), "null");
}

TEST(lkJSONTest, StringsEscapeByteByByte) {
  const std::pair<std::string, const char*> cases[] = {
      {"a/b", R"("a\/b")"},
      {"tab\there", R"("tab\there")"},
      {std::string("\x01", 1), R"("\u0001")"},
      {std::string("\x00", 1), R"("\u0000")"},
      {"\x1F", R"("\u001F")"},
      {"\b\f\n\r", R"("\b\f\n\r")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"back\\slash", R"("back\\slash")"},
      // UTF-8 and stray high bytes pass unchanged.
      {"caf\xC3\xA9 \xFF", "\"caf\xC3\xA9 \xFF\""},
      {"\x7F", "\"\x7F\""},
  };
  for (const auto& [value, text] : cases) {
    TlkJSONstring s(value);
    EXPECT_EQ(TlkJSON::GenerateText(s), text);
  }
}

TEST(lkJSONTest, ContainersHaveNoBlanks) {
  TlkJSONobject object;
  object.Add("a", 1);
  object.Add("b", true);
  EXPECT_EQ(TlkJSON::GenerateText(object), R"({"a":1,"b":true})");

  TlkJSONlist empty;
  EXPECT_EQ(TlkJSON::GenerateText(empty), "[]");
  TlkJSONobject none;
  EXPECT_EQ(TlkJSON::GenerateText(none), "{}");

  TlkJSONlist list;
  list.Add("x");
  auto inner = std::make_unique<TlkJSONobject>();
  inner->Add("n", static_cast<std::int64_t>(-7));
  inner->Add("f", false);
  inner->Add("s", std::string("q\""));
  list.Add(std::move(inner));
  list.Add(std::make_unique<TlkJSONlist>());
  list.Add(std::make_unique<TlkJSONnull>());
  EXPECT_EQ(TlkJSON::GenerateText(list), R"(["x",{"n":-7,"f":false,"s":"q\""},[],null])");
}

TEST(lkJSONTest, RepeatedNamesAreBothKeptAndLookupFindsTheFirst) {
  for (bool hashed : {true, false}) {
    TlkJSONobject object(hashed);
    object.Add("k", "first");
    object.Add("other", 2);
    object.Add("k", "second");
    EXPECT_EQ(TlkJSON::GenerateText(object), R"({"k":"first","other":2,"k":"second"})");
    auto* value = dynamic_cast<const TlkJSONstring*>(object.Field("k"));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->Value(), "first");
    EXPECT_EQ(object.Field("missing"), nullptr);
    EXPECT_EQ(object.Count(), 3u);
  }
}

TEST(lkJSONTest, LongTextsGrowTheBufferIntact) {
  TlkJSONlist list;
  std::string expected = "[";
  for (int i = 0; i < 5000; ++i) {
    const std::string item = "item/" + std::to_string(i);
    list.Add(item);
    if (i > 0) expected += ',';
    expected += "\"item\\/" + std::to_string(i) + "\"";
  }
  expected += ']';
  EXPECT_EQ(TlkJSON::GenerateText(list), expected);
  EXPECT_EQ(TlkJSON::GenerateText(nullptr), "");
}

}  // namespace
}  // namespace kelvo
