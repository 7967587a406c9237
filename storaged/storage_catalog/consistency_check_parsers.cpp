// The stored options and source of the consistency check job, read back by
// the job framework through YAJL events.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "storaged/storage_catalog/consistency_check_executor.h"

// --- options ----------------------------------------------------------------

Consistency_Check_Job_Options_Parser::Consistency_Check_Job_Options_Parser()
    : typed_(new (std::nothrow) Consistency_Check_Job_Options), options_(typed_) {}

int Consistency_Check_Job_Options_Parser::fail() {
  status_ = ERROR;
  return 0;
}

int Consistency_Check_Job_Options_Parser::value_seen() {
  if (!frames_.empty())
    frames_.back().channel_next = false;
  return 1;
}

int Consistency_Check_Job_Options_Parser::open(bool is_map) {
  // A container is no channel number.
  if (!frames_.empty() && frames_.back().channel_next)
    return fail();
  frames_.push_back(Frame{is_map, false});
  return 1;
}

int Consistency_Check_Job_Options_Parser::on_start_map() {
  return open(true);
}

int Consistency_Check_Job_Options_Parser::on_start_array() {
  return open(false);
}

int Consistency_Check_Job_Options_Parser::on_end_map() {
  if (frames_.empty() || !frames_.back().is_map)
    return fail();
  frames_.pop_back();
  return value_seen();
}

int Consistency_Check_Job_Options_Parser::on_end_array() {
  if (frames_.empty() || frames_.back().is_map)
    return fail();
  frames_.pop_back();
  return value_seen();
}

int Consistency_Check_Job_Options_Parser::on_map_key(const unsigned char* key, std::size_t length) {
  static const char kChannel[] = "channel";
  if (frames_.empty())
    return fail();
  // Compared over the key's own length: a leading part of the word names
  // the channel too, as the job's older writers expect.
  frames_.back().channel_next = length < sizeof kChannel && std::memcmp(key, kChannel, length) == 0;
  return 1;
}

int Consistency_Check_Job_Options_Parser::on_integer(const char* text, std::size_t length) {
  if (typed_ == nullptr)
    return 1;
  if (frames_.size() != 1)
    return fail();
  if (!frames_.back().channel_next)
    return value_seen();
  std::string number(text, length);
  errno = 0;
  char* end = nullptr;
  long long channel = std::strtoll(number.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || channel < INT_MIN || channel > INT_MAX)
    return fail();
  typed_->channel = static_cast<int>(channel);
  return value_seen();
}

int Consistency_Check_Job_Options_Parser::on_double(const char*, std::size_t) {
  return value_seen();
}

int Consistency_Check_Job_Options_Parser::on_null() {
  return value_seen();
}

int Consistency_Check_Job_Options_Parser::on_boolean(bool) {
  return value_seen();
}

int Consistency_Check_Job_Options_Parser::on_string(const unsigned char*, std::size_t) {
  return value_seen();
}

// --- source -----------------------------------------------------------------

Consistency_Check_Job_Source_Parser::Consistency_Check_Job_Source_Parser()
    : source_(new (std::nothrow) Job_Source) {}

int Consistency_Check_Job_Source_Parser::fail() {
  status_ = ERROR;
  return 0;
}

int Consistency_Check_Job_Source_Parser::value_seen() {
  if (!frames_.empty())
    frames_.back().pending = KEY_NONE;
  return 1;
}

int Consistency_Check_Job_Source_Parser::on_start_map() {
  value_seen();
  frames_.push_back(Frame{true, KEY_NONE});
  return 1;
}

int Consistency_Check_Job_Source_Parser::on_start_array() {
  value_seen();
  frames_.push_back(Frame{false, KEY_NONE});
  return 1;
}

int Consistency_Check_Job_Source_Parser::on_end_map() {
  if (frames_.empty() || !frames_.back().is_map)
    return fail();
  frames_.pop_back();
  return 1;
}

int Consistency_Check_Job_Source_Parser::on_end_array() {
  if (frames_.empty() || frames_.back().is_map)
    return fail();
  frames_.pop_back();
  return 1;
}

int Consistency_Check_Job_Source_Parser::on_map_key(const unsigned char* key, std::size_t length) {
  static const struct {
    const char* name;
    std::size_t length;
    Key key;
  } kKeys[] = {{"id", 2, KEY_ID}, {"name", 4, KEY_NAME}};
  if (frames_.empty())
    return fail();
  frames_.back().pending = KEY_NONE;
  for (const auto& k : kKeys)
    if (k.length == length && std::memcmp(k.name, key, length) == 0)
      frames_.back().pending = k.key;
  return 1;
}

int Consistency_Check_Job_Source_Parser::on_string(const unsigned char* text, std::size_t length) {
  if (source_.null() || frames_.size() != 1)
    return value_seen();
  std::string value(reinterpret_cast<const char*>(text), length);
  if (frames_.back().pending == KEY_ID)
    source_->id(value);
  else if (frames_.back().pending == KEY_NAME)
    source_->name(value);
  return value_seen();
}

int Consistency_Check_Job_Source_Parser::on_integer(const char*, std::size_t) {
  return value_seen();
}

int Consistency_Check_Job_Source_Parser::on_double(const char*, std::size_t) {
  return value_seen();
}

int Consistency_Check_Job_Source_Parser::on_null() {
  return value_seen();
}

int Consistency_Check_Job_Source_Parser::on_boolean(bool) {
  return value_seen();
}
