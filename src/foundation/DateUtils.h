#pragma once
// Dates and times as the agent uses them: a local wall-clock value type, the
// date-time pattern formatter, the settings text form, conversions to Unix
// seconds and file times, and a monotonic tick count.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// A local wall-clock date and time to the millisecond, as the user's clock
// shows it (no time zone is stored). Fields are plain so that settings,
// file times and log stamps can be built and compared without conversions;
// ordering is chronological for valid values. The default value is the zero
// date 1899-12-30 00:00:00.000, which callers use for "no date".
// Conversions to and from absolute time (Unix seconds, file times, Now)
// apply the local time zone in effect at that date.
struct TDateTime {
  int year = 1899;
  int month = 12;  // 1-12
  int day = 30;    // 1-31
  int hour = 0;    // 0-23
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  friend auto operator<=>(const TDateTime&, const TDateTime&) = default;
};

// Every field in range (years 1-9999, days valid for the month).
bool IsValidDateTime(const TDateTime& dt);

// The current local date and time.
TDateTime Now();

// Languages for the month and day names of "mmm" and "dddd".
enum class TDateLanguage { English, French };
// From LC_ALL, then LC_TIME, then LANG ("fr..." is French, anything else English).
TDateLanguage UserDateLanguage();

// Formats with the agent's date-time pattern letters: "yyyy" year, "mm"
// month (minutes when the last letter before it in the pattern is an "h"),
// "mmm" abbreviated month name, "dd" day, "dddd" full day name, "hh" hour
// 00-23, "nn" minutes, "ss" seconds, three or more "z" the milliseconds in
// three digits; every other character is copied. Letters are lower case.
// "yyyy-mm-dd hh.mm.ss.zzzz" gives "2009-03-07 14.05.09.045".
std::string FormatDateTime(std::string_view pattern, const TDateTime& dt);
std::string FormatDateTime(std::string_view pattern, const TDateTime& dt, TDateLanguage language);

// The form dated settings are stored in.
inline constexpr std::string_view kSettingDateFormat = "yyyy-mm-dd hh:mm:ss";

// "yyyy-mm-dd hh:mm:ss".
std::string DateTimeToSettingText(const TDateTime& dt);
// Reads "yyyy-mm-dd", optionally followed by "hh:mm" or "hh:mm:ss" (and
// ".zzz"); month, day and time fields may have one or two digits, blanks
// around the text are ignored. nullopt when the text is not such a date or a
// field is out of range.
std::optional<TDateTime> ParseSettingDateTime(std::string_view text);
// As above, the caller's default when the text cannot be read.
TDateTime SettingTextToDateTime(std::string_view text, const TDateTime& defaultValue);

// Milliseconds since 1970-01-01 00:00:00 of the same wall clock (no time
// zone applied): for date arithmetic and differences between local values.
std::int64_t WallClockMs(const TDateTime& dt);
TDateTime FromWallClockMs(std::int64_t ms);
TDateTime AddMilliseconds(const TDateTime& dt, std::int64_t ms);
TDateTime AddMinutes(const TDateTime& dt, std::int64_t minutes);
TDateTime AddDays(const TDateTime& dt, std::int64_t days);

// UTC seconds since 1970-01-01 of a local date-time: whole days since that
// date x 86400 + hours x 3600 + minutes x 60 + seconds + the time-zone bias
// at that date (milliseconds are dropped).
std::int64_t DateTimeToUnixSeconds(const TDateTime& local);
// The local date-time of UTC milliseconds (or seconds) since 1970.
TDateTime UnixMsToDateTime(std::int64_t utcMs);
TDateTime UnixSecondsToDateTime(std::int64_t utcSeconds);

// Seconds from `date` to `now` counting only the time-of-day part of the
// difference (hours, minutes, seconds), so 0..86399. A date after `now` or
// an invalid date gives 0.
std::int64_t ElapsedSecondsBetween(const TDateTime& date, const TDateTime& now);
// ElapsedSecondsBetween(date, Now()).
std::int64_t ElapsedSecondsSince(const TDateTime& date);

// File last-write times as local date-times and back.
TDateTime FileTimeToDateTime(std::filesystem::file_time_type time);
std::filesystem::file_time_type DateTimeToFileTime(const TDateTime& local);

// Milliseconds of a monotonic clock (since system start); never goes back.
std::uint64_t TickCount();

}  // namespace kelvo
