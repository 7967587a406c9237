#include <gtest/gtest.h>

#include "platform/runtime/iso8601.h"

namespace {

TEST(Iso8601, ConvertsCatalogAndZonedTimesToUtcSeconds) {
  const std::pair<std::string, long long> times[] = {{"1970-01-01 00:00:00", 0},
                                                     {"2026-01-01 00:00:00", 1767225600},
                                                     {"2026-01-01T00:00:00Z", 1767225600},
                                                     {"2026-01-01T01:30:00+01:30", 1767225600},
                                                     {"2025-12-31T22:00:00-0200", 1767225600},
                                                     {"2024-02-29 12:00:00.250", 1709208000},
                                                     {"1969-12-31 23:59:59", -1}};
  for (const auto& time : times) {
    long long seconds = 42;
    EXPECT_TRUE(iso8601_to_posix_time(time.first, seconds)) << time.first;
    EXPECT_EQ(seconds, time.second) << time.first;
  }
  for (const std::string bad :
       {"", "2026-01-01", "2026-1-01 00:00:00", "2025-02-29 00:00:00", "2026-01-01 24:00:00",
        "2026-01-01 00:00:00 ", "2026-01-01x00:00:00", "2026-01-01 00:00:00+5",
        "2026-01-01 00:00:00."}) {
    long long seconds = 42;
    EXPECT_FALSE(iso8601_to_posix_time(bad, seconds)) << bad;
    EXPECT_EQ(seconds, 42);
  }
}

}  // namespace
