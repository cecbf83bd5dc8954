// RFC 822 dates ("Tue, 3 Dec 2024 14:05:09 +0300") to TDateTime.

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "mail/msmsgcls.h"

namespace ms {

namespace {

struct BadDate {};

long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int ToInt(const std::string& s) {
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size()) throw BadDate{};
  return v;
}

// Deletes everything before the first digit and trims; BadDate when there is none.
void SkipToDigit(std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && !std::isdigit(static_cast<unsigned char>(s[i])))
    ++i;
  if (i == s.size()) throw BadDate{};
  s = Trim(s.substr(i));
}

// The text up to the next blank; S keeps the trimmed rest (empty without a blank).
std::string CutWord(std::string& s) {
  std::size_t p = s.find(' ');
  std::string w = p == std::string::npos ? s : s.substr(0, p);
  s = p == std::string::npos ? std::string() : Trim(s.substr(p + 1));
  return w;
}

// "hh", "hh:mm" or "hh:mm:ss" as a fraction of a day.
double TimeOfDay(const std::string& t) {
  int part[3] = {0, 0, 0};
  std::size_t start = 0;
  int n = 0;
  for (;;) {
    std::size_t colon = t.find(':', start);
    if (n == 3) throw BadDate{};
    part[n++] =
        ToInt(t.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (part[0] > 23 || part[1] > 59 || part[2] > 59) throw BadDate{};
  return (part[0] * 3600 + part[1] * 60 + part[2]) / 86400.0;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<double>(
             DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
             DaysFromCivil(1899, 12, 30)) +
         (hour * 3600 + minute * 60 + second) / 86400.0;
}

void ParseMailDate(const std::string& text, TDateTime& dateTime, std::string& zone) {
  dateTime = 0;
  zone.clear();
  std::string s = AsciiUpper(StripQuotes(text));
  if (s.empty()) return;
  try {
    SkipToDigit(s);
    int day = ToInt(CutWord(s));
    static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    int month = 0;
    for (int i = 0; i < 12 && month == 0; ++i)
      if (s.find(kMonths[i]) != std::string::npos) month = i + 1;
    if (month == 0) throw BadDate{};
    SkipToDigit(s);
    int year = ToInt(CutWord(s));
    if (year >= 0 && year <= 50)
      year += 2000;
    else if (year >= 51 && year <= 99)
      year += 1900;
    if (year < 1 || year > 9999) throw BadDate{};
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int last = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
    if (day < 1 || day > last) throw BadDate{};
    std::string time = CutWord(s);
    if (!time.empty() && time.back() == ',') time.pop_back();
    double t = TimeOfDay(time);
    dateTime = EncodeDateTime(year, month, day) + t;
    zone = Trim(s);
  } catch (const BadDate&) {
    dateTime = 0;
    zone.clear();
  }
}

}  // namespace ms

namespace ms {

std::string FormatMailDate(std::time_t when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  localtime_r(&when, &tm);
  const long offset = tm.tm_gmtoff / 60;  // minutes east of UTC
  const long zone = std::labs(offset);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                offset < 0 ? '-' : '+', zone / 60, zone % 60);
  return buf;
}

}  // namespace ms
