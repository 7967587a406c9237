// Logging through ACE_Log_Msg, in the host's one style: the source file and
// line are set first, then a printf-style message (ACE's format letters:
// %s text, %d int, %q 64-bit int, %m errno text, %N file, %l line,
// %? stack trace). Every message ends with a line break, added here.
#ifndef PLATFORM_RUNTIME_LOG_H_
#define PLATFORM_RUNTIME_LOG_H_

#include <ace/Log_Msg.h>

#define VRT_LOG(level, fmt, ...) ACE_DEBUG((level, ACE_TEXT(fmt "\n"), ##__VA_ARGS__))

#define LOG_ERROR(fmt, ...) VRT_LOG(LM_ERROR, fmt, ##__VA_ARGS__)
#define LOG_WARNING(fmt, ...) VRT_LOG(LM_WARNING, fmt, ##__VA_ARGS__)
#define LOG_INFO(fmt, ...) VRT_LOG(LM_INFO, fmt, ##__VA_ARGS__)
#define LOG_DEBUG(fmt, ...) VRT_LOG(LM_DEBUG, fmt, ##__VA_ARGS__)

// A violated precondition, in the fixed form
//   "Unexpected error in <file>:<line>, <name> <what>:\n<stack trace>\n"
// at LM_EMERGENCY. `name` and `what` are string literals; `what` is one of
// the VRT_IS_* texts below.
#define VRT_IS_NULL "is NULL"
#define VRT_IS_NULL_OR_EMPTY "is NULL or \"\""
#define VRT_IS_EMPTY "is empty"
#define VRT_IS_FALSE "is false"
#define VRT_LOG_UNEXPECTED(name, what) \
  ACE_ERROR((LM_EMERGENCY, ACE_TEXT("Unexpected error in %N:%l, " name " " what ":\n%?\n")))

// Checks that log the precondition form and return `result` when violated.
#define VRT_CHECK_NOT_NULL(expr, result)      \
  do {                                        \
    if ((expr) == nullptr) {                  \
      VRT_LOG_UNEXPECTED(#expr, VRT_IS_NULL); \
      return result;                          \
    }                                         \
  } while (0)

#define VRT_CHECK_NOT_EMPTY_STR(expr, result)          \
  do {                                                 \
    if ((expr) == nullptr || *(expr) == '\0') {        \
      VRT_LOG_UNEXPECTED(#expr, VRT_IS_NULL_OR_EMPTY); \
      return result;                                   \
    }                                                  \
  } while (0)

#define VRT_CHECK_NOT_EMPTY(expr, result)      \
  do {                                         \
    if ((expr).empty()) {                      \
      VRT_LOG_UNEXPECTED(#expr, VRT_IS_EMPTY); \
      return result;                           \
    }                                          \
  } while (0)

#define VRT_CHECK_TRUE(expr, result)           \
  do {                                         \
    if (!(expr)) {                             \
      VRT_LOG_UNEXPECTED(#expr, VRT_IS_FALSE); \
      return result;                           \
    }                                          \
  } while (0)

#endif  // PLATFORM_RUNTIME_LOG_H_
