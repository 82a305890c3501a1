#include "foundation/DateUtils.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "TestHome.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

// Sets environment variables for one test and puts them back afterwards.
class TEnvGuard {
 public:
  ~TEnvGuard() {
    for (auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
    tzset();
  }
  void Set(const std::string& name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name.c_str(), value, 1);
    else unsetenv(name.c_str());
    tzset();
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

const TDateTime kSample{2009, 3, 7, 14, 5, 9, 45};  // a Saturday

TEST(DateUtilsTest, FormatsThePatternLetters) {
  struct TCase {
    const char* pattern;
    TDateTime dt;
    const char* expected;
  };
  const TCase cases[] = {
      {"yyyy-mm-dd hh.mm.ss.zzzz", kSample, "2009-03-07 14.05.09.045"},
      {"yyyy-mm-dd hh:nn:ss.zzz", kSample, "2009-03-07 14:05:09.045"},
      {"yyyy-mm-dd hh:mm:ss", kSample, "2009-03-07 14:05:09"},
      {"yyyymmdd hh:mm", kSample, "20090307 14:05"},
      {"dd mmm yyyy hh:mm", kSample, "07 Mar 2009 14:05"},
      {"dddd dd mmm yyyy hh:nn", kSample, "Saturday 07 Mar 2009 14:05"},
      // "mm" is the minutes whenever an "h" is the last letter before it...
      {"hh mm", kSample, "14 05"},
      {"hh-+-mm", kSample, "14-+-05"},
      // ...and the month otherwise, also after a time.
      {"hh:nn mm/dd", kSample, "14:05 03/07"},
      {"mm", kSample, "03"},
      // Short runs and unknown letters are copied.
      {"ss.zz y m d h n s z", kSample, "09.zz y m d h n s z"},
      {"zzzzzz", kSample, "045"},
      {"ddd", kSample, "07d"},
      {"mmmm", kSample, "Marm"},
      {"[yyyy]", TDateTime{99, 12, 31, 0, 0, 0, 5}, "[0099]"},
      {"hh:nn:ss.zzz", TDateTime{2020, 1, 1, 0, 0, 0, 5}, "00:00:00.005"},
      {"dddd", TDateTime{2024, 2, 29, 0, 0, 0, 0}, "Thursday"},
      {"", kSample, ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(FormatDateTime(c.pattern, c.dt, TDateLanguage::English), c.expected)
        << "pattern " << c.pattern;
  }
}

TEST(DateUtilsTest, NamesFollowTheUserLocale) {
  TEnvGuard env;
  env.Set("LC_ALL", nullptr);
  env.Set("LC_TIME", nullptr);
  env.Set("LANG", "fr_FR.UTF-8");
  EXPECT_EQ(UserDateLanguage(), TDateLanguage::French);
  EXPECT_EQ(FormatDateTime("dddd dd mmm yyyy", kSample), "samedi 07 mars 2009");
  EXPECT_EQ(FormatDateTime("dd mmm", TDateTime{2009, 2, 1, 0, 0, 0, 0}), "01 f\xC3\xA9vr.");
  env.Set("LC_ALL", "en_GB.UTF-8");  // LC_ALL wins over LANG
  EXPECT_EQ(UserDateLanguage(), TDateLanguage::English);
  EXPECT_EQ(FormatDateTime("dddd dd mmm yyyy", kSample), "Saturday 07 Mar 2009");
  env.Set("LC_ALL", nullptr);
  env.Set("LANG", nullptr);
  EXPECT_EQ(UserDateLanguage(), TDateLanguage::English);
}

TEST(DateUtilsTest, SettingTextIsWrittenWithoutMilliseconds) {
  EXPECT_EQ(DateTimeToSettingText(kSample), "2009-03-07 14:05:09");
  EXPECT_EQ(DateTimeToSettingText(TDateTime{2010, 12, 31, 23, 59, 59, 999}), "2010-12-31 23:59:59");
}

TEST(DateUtilsTest, ParsesTheSettingForm) {
  struct TCase {
    const char* text;
    std::optional<TDateTime> expected;
  };
  const TCase cases[] = {
      {"2009-03-07 14:05:09", TDateTime{2009, 3, 7, 14, 5, 9, 0}},
      {"2009-03-07", TDateTime{2009, 3, 7, 0, 0, 0, 0}},
      {"2009-03-07 14:05", TDateTime{2009, 3, 7, 14, 5, 0, 0}},
      {"2009-3-7 4:5:6", TDateTime{2009, 3, 7, 4, 5, 6, 0}},
      {"  2009-03-07 14:05:09 ", TDateTime{2009, 3, 7, 14, 5, 9, 0}},
      {"2009-03-07 14:05:09.5", TDateTime{2009, 3, 7, 14, 5, 9, 500}},
      {"2009-03-07 14:05:09.045", TDateTime{2009, 3, 7, 14, 5, 9, 45}},
      {"2008-02-29 00:00:00", TDateTime{2008, 2, 29, 0, 0, 0, 0}},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"2009/03/07 14:05:09", std::nullopt},
      {"2009-03-07T14:05:09", std::nullopt},
      {"2009-03-0714:05:09", std::nullopt},
      {"09-03-07", std::nullopt},
      {"20090-03-07", std::nullopt},
      {"2009-13-01", std::nullopt},
      {"2009-00-10", std::nullopt},
      {"2009-02-29", std::nullopt},
      {"2009-04-31", std::nullopt},
      {"2009-03-07 24:00:00", std::nullopt},
      {"2009-03-07 14:60", std::nullopt},
      {"2009-03-07 14:05:60", std::nullopt},
      {"2009-03-07 14", std::nullopt},
      {"2009-03-07 14:05:09 x", std::nullopt},
      {"2009-03-07 14:05:09.1234", std::nullopt},
      {"2009-03-07 -1:05", std::nullopt},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ParseSettingDateTime(c.text), c.expected) << "text '" << c.text << "'";
  }
  const TDateTime fallback{2001, 1, 1, 0, 0, 0, 0};
  EXPECT_EQ(SettingTextToDateTime("not a date", fallback), fallback);
  EXPECT_EQ(SettingTextToDateTime("2009-03-07 14:05:09", fallback),
            (TDateTime{2009, 3, 7, 14, 5, 9, 0}));
  // What is written reads back.
  EXPECT_EQ(ParseSettingDateTime(DateTimeToSettingText(kSample)),
            (TDateTime{2009, 3, 7, 14, 5, 9, 0}));
}

TEST(DateUtilsTest, UnixSecondsApplyTheZoneInEffectAtThatDate) {
  TEnvGuard env;
  env.Set("TZ", "UTC0");
  EXPECT_EQ(DateTimeToUnixSeconds(TDateTime{1970, 1, 1, 0, 0, 0, 0}), 0);
  EXPECT_EQ(DateTimeToUnixSeconds(kSample), 1236434709);
  EXPECT_EQ(DateTimeToUnixSeconds(TDateTime{1969, 12, 31, 23, 59, 59, 0}), -1);
  EXPECT_EQ(UnixSecondsToDateTime(1236434709), (TDateTime{2009, 3, 7, 14, 5, 9, 0}));
  EXPECT_EQ(UnixMsToDateTime(-1), (TDateTime{1969, 12, 31, 23, 59, 59, 999}));

  env.Set("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  // Winter: one hour ahead of UTC; summer: two.
  EXPECT_EQ(DateTimeToUnixSeconds(kSample), 1236434709 - 3600);
  EXPECT_EQ(DateTimeToUnixSeconds(TDateTime{2009, 7, 1, 12, 0, 0, 0}), 1246442400);  // 10:00 UTC
  EXPECT_EQ(UnixSecondsToDateTime(1236434709), (TDateTime{2009, 3, 7, 15, 5, 9, 0}));
  EXPECT_EQ(UnixMsToDateTime(1246442400123LL), (TDateTime{2009, 7, 1, 12, 0, 0, 123}));
}

TEST(DateUtilsTest, WallClockArithmetic) {
  EXPECT_EQ(WallClockMs(TDateTime{1970, 1, 1, 0, 0, 0, 0}), 0);
  EXPECT_EQ(FromWallClockMs(-1), (TDateTime{1969, 12, 31, 23, 59, 59, 999}));
  EXPECT_EQ(AddDays(TDateTime{2009, 2, 28, 10, 0, 0, 0}, 1), (TDateTime{2009, 3, 1, 10, 0, 0, 0}));
  EXPECT_EQ(AddDays(TDateTime{2008, 2, 28, 10, 0, 0, 0}, 1), (TDateTime{2008, 2, 29, 10, 0, 0, 0}));
  EXPECT_EQ(AddDays(TDateTime{2009, 3, 7, 14, 5, 9, 45}, -8), (TDateTime{2009, 2, 27, 14, 5, 9, 45}));
  EXPECT_EQ(AddMinutes(TDateTime{2008, 12, 31, 23, 59, 30, 0}, 480),
            (TDateTime{2009, 1, 1, 7, 59, 30, 0}));
  EXPECT_EQ(AddMilliseconds(kSample, 955), (TDateTime{2009, 3, 7, 14, 5, 10, 0}));
  EXPECT_EQ(FromWallClockMs(WallClockMs(kSample)), kSample);
  // Ordering is chronological.
  EXPECT_LT((TDateTime{2009, 3, 7, 14, 5, 9, 44}), kSample);
  EXPECT_LT((TDateTime{2008, 12, 31, 23, 59, 59, 999}), (TDateTime{2009, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(TDateTime{}, (TDateTime{1899, 12, 30, 0, 0, 0, 0}));
}

TEST(DateUtilsTest, ElapsedSecondsCountTheTimeOfDayPartOnly) {
  TEnvGuard env;
  env.Set("TZ", "UTC0");
  struct TCase {
    TDateTime date;
    TDateTime now;
    std::int64_t expected;
  };
  const TCase cases[] = {
      {kSample, kSample, 0},
      {kSample, AddMilliseconds(kSample, 3723 * 1000 + 999), 3723},
      {kSample, AddDays(kSample, 1), 0},
      {kSample, AddMilliseconds(AddDays(kSample, 3), 10 * 1000), 10},
      {kSample, AddMilliseconds(kSample, 86399 * 1000), 86399},
      {AddMinutes(kSample, 1), kSample, 0},                   // a date still to come
      {TDateTime{2009, 2, 30, 0, 0, 0, 0}, kSample, 0},       // not a date
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ElapsedSecondsBetween(c.date, c.now), c.expected)
        << DateTimeToSettingText(c.date) << " -> " << DateTimeToSettingText(c.now);
  }
  EXPECT_GE(ElapsedSecondsSince(AddMinutes(Now(), -2)), 119);
}

TEST(DateUtilsTest, NowAndTicks) {
  TDateTime now = Now();
  EXPECT_TRUE(IsValidDateTime(now));
  std::int64_t wall = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_LE(std::abs(DateTimeToUnixSeconds(now) - wall), 5);
  std::uint64_t t1 = TickCount();
  std::uint64_t t2 = TickCount();
  EXPECT_LE(t1, t2);
  EXPECT_GT(t1, 0u);
}

TEST(DateUtilsTest, FileTimesRoundTripAsLocalTime) {
  TTestHome home;
  const fs::path file = home.Path() / "f.txt";
  WriteFileText(file, "x");
  const TDateTime when{2009, 3, 7, 14, 5, 9, 45};
  fs::last_write_time(file, DateTimeToFileTime(when));
  EXPECT_EQ(FileTimeToDateTime(fs::last_write_time(file)), when);

  TEnvGuard env;
  env.Set("TZ", "UTC0");
  fs::last_write_time(file, DateTimeToFileTime(TDateTime{2009, 3, 7, 14, 5, 9, 0}));
  env.Set("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(FileTimeToDateTime(fs::last_write_time(file)), (TDateTime{2009, 3, 7, 15, 5, 9, 0}));
}

}  // namespace
}  // namespace kelvo::test
