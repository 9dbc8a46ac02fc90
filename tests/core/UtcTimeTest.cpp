#include "core/UtcTime.h"

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace brevanto {
namespace {

// Sets TZ for the test's life (a POSIX rule: no zone database needed).
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    if (m_old) {
      ::setenv("TZ", m_old->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> m_old;
};

TEST(UtcTimeTest, LocalWallTimeBecomesUtcWithTheZonesDaylightSaving) {
  const ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ("2024-01-15T12:00:00Z", UtcIso8601({2024, 1, 15, 13, 0, 0, 0}));
  EXPECT_EQ("2024-07-15T12:00:00Z", UtcIso8601({2024, 7, 15, 14, 0, 0, 0}));
  EXPECT_EQ("2023-12-31T23:30:05Z", UtcIso8601({2024, 1, 1, 0, 30, 5, 0}));  // the year before
  EXPECT_EQ("", UtcIso8601({}));
}

}  // namespace
}  // namespace brevanto
