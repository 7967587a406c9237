#include "platform/sql/printer.h"

namespace database {
namespace sql {

int Query_Result_Token_Printer::start_map(int, const char*) {
  tokens_.push_back(MAP);
  return 1;
}

int Query_Result_Token_Printer::end_map() {
  return close(MAP);
}

int Query_Result_Token_Printer::start_array(int, const char*) {
  tokens_.push_back(ARRAY);
  return 1;
}

int Query_Result_Token_Printer::end_array() {
  return close(ARRAY);
}

int Query_Result_Token_Printer::close(int token) {
  if (tokens_.empty() || tokens_.back() != token)
    return -1;
  tokens_.pop_back();
  return 1;
}

int Query_Result_Token_Printer::print_int(int, const char*, long long) {
  return 0;
}

int Query_Result_Token_Printer::print_uint(int, const char*, unsigned long long) {
  return 0;
}

int Query_Result_Token_Printer::print_null(int, const char*) {
  return 0;
}

int Query_Result_Token_Printer::print_double(int, const char*, double) {
  return 0;
}

int Query_Result_Token_Printer::print_bool(int, const char*, bool) {
  return 0;
}

int Query_Result_Token_Printer::print_cstr(int, const char*, const char*, unsigned long long) {
  return 0;
}

int Query_Result_Token_Printer::print_str(int index, const char* name, const std::string& text) {
  return print_cstr(index, name, text.c_str(), text.size());
}

int Query_Result_Token_Printer::print_json(int, const char*, const Value&) {
  return 0;
}

}  // namespace sql
}  // namespace database
