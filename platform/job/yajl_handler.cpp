#include "platform/job/yajl_handler.h"

#include <cstring>

#include <yajl/yajl_parse.h>

namespace {

YAJL_Handler* self(void* ctx) {
  return static_cast<YAJL_Handler*>(ctx);
}

int on_null(void* ctx) {
  return self(ctx)->on_null();
}
int on_boolean(void* ctx, int value) {
  return self(ctx)->on_boolean(value != 0);
}
int on_number(void* ctx, const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (text[i] == '.' || text[i] == 'e' || text[i] == 'E')
      return self(ctx)->on_double(text, length);
  return self(ctx)->on_integer(text, length);
}
int on_string(void* ctx, const unsigned char* text, size_t length) {
  return self(ctx)->on_string(text, length);
}
int on_start_map(void* ctx) {
  return self(ctx)->on_start_map();
}
int on_map_key(void* ctx, const unsigned char* key, size_t length) {
  return self(ctx)->on_map_key(key, length);
}
int on_end_map(void* ctx) {
  return self(ctx)->on_end_map();
}
int on_start_array(void* ctx) {
  return self(ctx)->on_start_array();
}
int on_end_array(void* ctx) {
  return self(ctx)->on_end_array();
}

// With yajl_number set, libyajl hands over every number as text, so large
// integers reach the handler without passing through a double.
const yajl_callbacks kCallbacks = {on_null,    on_boolean,     nullptr,      nullptr,
                                   on_number,  on_string,      on_start_map, on_map_key,
                                   on_end_map, on_start_array, on_end_array};

}  // namespace

int YAJL_Handler::parse(const char* text, std::size_t length) {
  error_.clear();
  yajl_handle handle = yajl_alloc(&kCallbacks, nullptr, this);
  if (handle == nullptr) {
    error_ = "out of memory";
    return SYNTAX_ERROR;
  }
  yajl_status result =
      yajl_parse(handle, reinterpret_cast<const unsigned char*>(text != nullptr ? text : ""),
                 text != nullptr ? length : 0);
  if (result == yajl_status_ok)
    result = yajl_complete_parse(handle);
  if (result == yajl_status_error) {
    unsigned char* message = yajl_get_error(handle, 0, nullptr, 0);
    error_ = message != nullptr ? reinterpret_cast<const char*>(message) : "syntax error";
    // yajl_get_error leaves a trailing line break.
    while (!error_.empty() && (error_.back() == '\n' || error_.back() == ' '))
      error_.pop_back();
    yajl_free_error(handle, message);
  }
  yajl_free(handle);
  switch (result) {
    case yajl_status_ok:
      return PARSED;
    case yajl_status_client_canceled:
      return STOPPED;
    default:
      return SYNTAX_ERROR;
  }
}
