#include "platform/runtime/iso8601.h"

#include <cctype>

namespace {

// Reads exactly `width` digits at `pos`.
bool read_number(const std::string& text, std::size_t& pos, int width, int& value) {
  if (pos + width > text.size())
    return false;
  value = 0;
  for (int i = 0; i < width; ++i) {
    unsigned char c = static_cast<unsigned char>(text[pos + i]);
    if (!std::isdigit(c))
      return false;
    value = value * 10 + (c - '0');
  }
  pos += width;
  return true;
}

bool expect(const std::string& text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c)
    return false;
  ++pos;
  return true;
}

bool is_leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long days_from_civil(int year, int month, int day) {
  long long y = month <= 2 ? year - 1 : year;
  long long era = (y >= 0 ? y : y - 399) / 400;
  long long yoe = y - era * 400;
  long long mp = (month + 9) % 12;
  long long doy = (153 * mp + 2) / 5 + day - 1;
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "Z", "+hh:mm", "+hhmm" or nothing; `offset` in seconds east of UTC.
bool read_zone(const std::string& text, std::size_t& pos, long long& offset) {
  offset = 0;
  if (pos == text.size())
    return true;
  if (text[pos] == 'Z' || text[pos] == 'z')
    return ++pos == text.size();
  if (text[pos] != '+' && text[pos] != '-')
    return false;
  int sign = text[pos++] == '-' ? -1 : 1;
  int hours = 0, minutes = 0;
  if (!read_number(text, pos, 2, hours))
    return false;
  if (pos < text.size() && text[pos] == ':')
    ++pos;
  if (!read_number(text, pos, 2, minutes) || hours > 23 || minutes > 59)
    return false;
  offset = sign * (hours * 3600LL + minutes * 60LL);
  return pos == text.size();
}

}  // namespace

bool iso8601_to_posix_time(const std::string& text, long long& seconds) {
  std::size_t pos = 0;
  int year, month, day, hour, minute, second;
  if (!read_number(text, pos, 4, year) || !expect(text, pos, '-') ||
      !read_number(text, pos, 2, month) || !expect(text, pos, '-') ||
      !read_number(text, pos, 2, day))
    return false;
  if (pos >= text.size() || (text[pos] != 'T' && text[pos] != ' '))
    return false;
  ++pos;
  if (!read_number(text, pos, 2, hour) || !expect(text, pos, ':') ||
      !read_number(text, pos, 2, minute) || !expect(text, pos, ':') ||
      !read_number(text, pos, 2, second))
    return false;
  if (pos < text.size() && text[pos] == '.') {
    std::size_t start = ++pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])))
      ++pos;
    if (pos == start)
      return false;
  }
  long long offset = 0;
  if (!read_zone(text, pos, offset))
    return false;
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 ||
      minute > 59 || second > 60)
    return false;
  seconds =
      days_from_civil(year, month, day) * 86400LL + hour * 3600LL + minute * 60LL + second - offset;
  return true;
}
