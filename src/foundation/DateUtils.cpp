#include "foundation/DateUtils.h"

#include "platform/SystemInfo.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace kelvo {

namespace {

using std::chrono::days;
using std::chrono::milliseconds;

constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int64_t kMsPerMinute = 60 * kMsPerSecond;
constexpr std::int64_t kMsPerHour = 60 * kMsPerMinute;
constexpr std::int64_t kMsPerDay = 24 * kMsPerHour;

const char* const kMonthsEn[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDaysEn[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                "Thursday", "Friday", "Saturday"};
const char* const kMonthsFr[12] = {"janv.", "févr.", "mars", "avr.", "mai", "juin",
                                   "juil.", "août", "sept.", "oct.", "nov.", "déc."};
const char* const kDaysFr[7] = {"dimanche", "lundi",    "mardi", "mercredi",
                                "jeudi",    "vendredi", "samedi"};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

std::chrono::sys_days DaysOf(const TDateTime& dt) {
  return std::chrono::sys_days{std::chrono::year{dt.year} / std::chrono::month{unsigned(dt.month)} /
                               std::chrono::day{unsigned(dt.day)}};
}

void AppendDigits(std::string& out, long long value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out += '-';
  for (int i = int(digits.size()); i < width; ++i) out += '0';
  out += digits;
}

// Previous ASCII letter of the pattern before position `pos`, or 0.
char LastLetterBefore(std::string_view pattern, std::size_t pos) {
  while (pos > 0) {
    char c = pattern[--pos];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return c;
  }
  return 0;
}

std::size_t RunLength(std::string_view s, std::size_t pos, char c) {
  std::size_t n = 0;
  while (pos + n < s.size() && s[pos + n] == c) ++n;
  return n;
}

// Reads 1..maxDigits decimal digits at pos.
bool ReadNumber(std::string_view s, std::size_t& pos, int minDigits, int maxDigits, int& value) {
  int n = 0;
  int v = 0;
  while (pos < s.size() && n < maxDigits && s[pos] >= '0' && s[pos] <= '9') {
    v = v * 10 + (s[pos] - '0');
    ++pos;
    ++n;
  }
  if (n < minDigits) return false;
  // More digits than allowed is not a field of this format.
  if (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') return false;
  value = v;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::tm ToTm(const TDateTime& dt) {
  std::tm tm{};
  tm.tm_year = dt.year - 1900;
  tm.tm_mon = dt.month - 1;
  tm.tm_mday = dt.day;
  tm.tm_hour = dt.hour;
  tm.tm_min = dt.minute;
  tm.tm_sec = dt.second;
  tm.tm_isdst = -1;  // let the zone rules decide for that date
  return tm;
}

// UTC milliseconds of a local date-time; the wall-clock value when the
// zone conversion cannot be done (the date is then taken as UTC).
std::int64_t LocalToUnixMs(const TDateTime& dt) {
  std::tm tm = ToTm(dt);
  tm.tm_wday = -1;  // mktime sets it on success; -1 is also a valid result
  std::time_t t = std::mktime(&tm);
  if (t == std::time_t(-1) && tm.tm_wday == -1) return WallClockMs(dt);
  return std::int64_t(t) * kMsPerSecond + dt.millisecond;
}

}  // namespace

bool IsValidDateTime(const TDateTime& dt) {
  if (dt.year < 1 || dt.year > 9999 || dt.month < 1 || dt.month > 12 || dt.day < 1) return false;
  auto ymd = std::chrono::year{dt.year} / std::chrono::month{unsigned(dt.month)} /
             std::chrono::day{unsigned(dt.day)};
  if (!ymd.ok()) return false;
  return dt.hour >= 0 && dt.hour < 24 && dt.minute >= 0 && dt.minute < 60 && dt.second >= 0 &&
         dt.second < 60 && dt.millisecond >= 0 && dt.millisecond < 1000;
}

TDateTime Now() {
  auto ms = std::chrono::duration_cast<milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
  return UnixMsToDateTime(ms);
}

TDateLanguage UserDateLanguage() {
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      return (v[0] == 'f' || v[0] == 'F') && (v[1] == 'r' || v[1] == 'R') ? TDateLanguage::French
                                                                       : TDateLanguage::English;
    }
  }
  return TDateLanguage::English;
}

std::string FormatDateTime(std::string_view pattern, const TDateTime& dt) {
  // The language is looked up only when a name is asked for: the log
  // formats a stamp for every entry.
  if (pattern.find("mmm") == std::string_view::npos &&
      pattern.find("dddd") == std::string_view::npos) {
    return FormatDateTime(pattern, dt, TDateLanguage::English);
  }
  return FormatDateTime(pattern, dt, UserDateLanguage());
}

std::string FormatDateTime(std::string_view pattern, const TDateTime& dt, TDateLanguage language) {
  std::string out;
  out.reserve(pattern.size() + 8);
  const bool fr = language == TDateLanguage::French;
  std::size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    std::size_t run = RunLength(pattern, i, c);
    if (c == 'y' && run >= 4) {
      AppendDigits(out, dt.year, 4);
      i += 4;
    } else if (c == 'm' && run >= 3) {
      int m = dt.month;
      out += (m >= 1 && m <= 12) ? (fr ? kMonthsFr : kMonthsEn)[m - 1] : "";
      i += 3;
    } else if (c == 'm' && run == 2) {
      AppendDigits(out, LastLetterBefore(pattern, i) == 'h' ? dt.minute : dt.month, 2);
      i += 2;
    } else if (c == 'd' && run >= 4) {
      if (IsValidDateTime(TDateTime{dt.year, dt.month, dt.day, 0, 0, 0, 0})) {
        unsigned wd = std::chrono::weekday{DaysOf(dt)}.c_encoding();
        out += (fr ? kDaysFr : kDaysEn)[wd];
      }
      i += 4;
    } else if (c == 'd' && run >= 2) {
      AppendDigits(out, dt.day, 2);
      i += 2;
    } else if (c == 'h' && run >= 2) {
      AppendDigits(out, dt.hour, 2);
      i += 2;
    } else if (c == 'n' && run >= 2) {
      AppendDigits(out, dt.minute, 2);
      i += 2;
    } else if (c == 's' && run >= 2) {
      AppendDigits(out, dt.second, 2);
      i += 2;
    } else if (c == 'z' && run >= 3) {
      AppendDigits(out, dt.millisecond, 3);
      i += run;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string DateTimeToSettingText(const TDateTime& dt) {
  return FormatDateTime(kSettingDateFormat, dt, TDateLanguage::English);
}

std::optional<TDateTime> ParseSettingDateTime(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string_view s = text.substr(b, e - b);

  TDateTime dt;
  dt.hour = dt.minute = dt.second = dt.millisecond = 0;
  std::size_t p = 0;
  if (!ReadNumber(s, p, 4, 4, dt.year) || p >= s.size() || s[p++] != '-') return std::nullopt;
  if (!ReadNumber(s, p, 1, 2, dt.month) || p >= s.size() || s[p++] != '-') return std::nullopt;
  if (!ReadNumber(s, p, 1, 2, dt.day)) return std::nullopt;
  if (p < s.size()) {
    std::size_t q = p;
    while (q < s.size() && IsBlank(s[q])) ++q;
    if (q == p) return std::nullopt;  // the time must be set off by a blank
    p = q;
    if (!ReadNumber(s, p, 1, 2, dt.hour) || p >= s.size() || s[p++] != ':') return std::nullopt;
    if (!ReadNumber(s, p, 1, 2, dt.minute)) return std::nullopt;
    if (p < s.size() && s[p] == ':') {
      ++p;
      if (!ReadNumber(s, p, 1, 2, dt.second)) return std::nullopt;
      if (p < s.size() && s[p] == '.') {
        ++p;
        std::size_t start = p;
        if (!ReadNumber(s, p, 1, 3, dt.millisecond)) return std::nullopt;
        for (std::size_t n = p - start; n < 3; ++n) dt.millisecond *= 10;
      }
    }
    if (p != s.size()) return std::nullopt;
  }
  if (!IsValidDateTime(dt)) return std::nullopt;
  return dt;
}

TDateTime SettingTextToDateTime(std::string_view text, const TDateTime& defaultValue) {
  auto dt = ParseSettingDateTime(text);
  return dt ? *dt : defaultValue;
}

std::int64_t WallClockMs(const TDateTime& dt) {
  // Day arithmetic through the civil calendar; time fields are added as
  // they are so that out-of-range values still give a defined result.
  auto ymd = std::chrono::year{dt.year} / std::chrono::month{unsigned(dt.month)} / 1;
  std::int64_t dayCount = std::chrono::sys_days{ymd}.time_since_epoch().count() + (dt.day - 1);
  return dayCount * kMsPerDay + std::int64_t(dt.hour) * kMsPerHour +
         std::int64_t(dt.minute) * kMsPerMinute + std::int64_t(dt.second) * kMsPerSecond +
         dt.millisecond;
}

TDateTime FromWallClockMs(std::int64_t ms) {
  std::int64_t dayCount = FloorDiv(ms, kMsPerDay);
  std::int64_t rest = ms - dayCount * kMsPerDay;
  std::chrono::year_month_day ymd{std::chrono::sys_days{days{dayCount}}};
  TDateTime dt;
  dt.year = int(ymd.year());
  dt.month = int(unsigned(ymd.month()));
  dt.day = int(unsigned(ymd.day()));
  dt.hour = int(rest / kMsPerHour);
  dt.minute = int(rest / kMsPerMinute % 60);
  dt.second = int(rest / kMsPerSecond % 60);
  dt.millisecond = int(rest % kMsPerSecond);
  return dt;
}

TDateTime AddMilliseconds(const TDateTime& dt, std::int64_t ms) {
  return FromWallClockMs(WallClockMs(dt) + ms);
}

TDateTime AddMinutes(const TDateTime& dt, std::int64_t minutes) {
  return AddMilliseconds(dt, minutes * kMsPerMinute);
}

TDateTime AddDays(const TDateTime& dt, std::int64_t dayCount) {
  return AddMilliseconds(dt, dayCount * kMsPerDay);
}

std::int64_t DateTimeToUnixSeconds(const TDateTime& local) {
  return FloorDiv(LocalToUnixMs(local), kMsPerSecond);
}

TDateTime UnixMsToDateTime(std::int64_t utcMs) {
  std::int64_t secs = FloorDiv(utcMs, kMsPerSecond);
  int ms = int(utcMs - secs * kMsPerSecond);
  std::time_t t = std::time_t(secs);
  std::tm tm{};
  // localtime_r: the reentrant form (C23, POSIX); others may call
  // localtime on other threads.
  if (!localtime_r(&t, &tm)) {
    TDateTime dt = FromWallClockMs(utcMs);
    return dt;
  }
  TDateTime dt;
  dt.year = tm.tm_year + 1900;
  dt.month = tm.tm_mon + 1;
  dt.day = tm.tm_mday;
  dt.hour = tm.tm_hour;
  dt.minute = tm.tm_min;
  dt.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // leap second
  dt.millisecond = ms;
  return dt;
}

TDateTime UnixSecondsToDateTime(std::int64_t utcSeconds) {
  return UnixMsToDateTime(utcSeconds * kMsPerSecond);
}

std::int64_t ElapsedSecondsBetween(const TDateTime& date, const TDateTime& now) {
  if (!IsValidDateTime(date) || !IsValidDateTime(now)) return 0;
  std::int64_t diffMs = LocalToUnixMs(now) - LocalToUnixMs(date);
  if (diffMs <= 0) return 0;
  // Only the time-of-day part of the difference counts.
  return diffMs % kMsPerDay / kMsPerSecond;
}

std::int64_t ElapsedSecondsSince(const TDateTime& date) { return ElapsedSecondsBetween(date, Now()); }

TDateTime FileTimeToDateTime(std::filesystem::file_time_type time) {
  auto sys = std::chrono::file_clock::to_sys(time);
  return UnixMsToDateTime(
      std::chrono::duration_cast<milliseconds>(sys.time_since_epoch()).count());
}

std::filesystem::file_time_type DateTimeToFileTime(const TDateTime& local) {
  std::chrono::sys_time<milliseconds> sys{milliseconds{LocalToUnixMs(local)}};
  return std::chrono::file_clock::from_sys(sys);
}

std::uint64_t TickCount() { return GetTickCountMs(); }

}  // namespace kelvo
