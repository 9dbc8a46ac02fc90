#include "tasks/DisplayDateTime.h"

#include <gtest/gtest.h>

namespace brevanto {
namespace {

struct Case {
  const char* name;
  TaskDateTime moment;
  int dateStyle;
  int timeStyle;
  bool withSeconds;
  const char* expected;
};

constexpr TaskDateTime kMorning{2006, 1, 5, 9, 7, 3, 5};
constexpr TaskDateTime kHalfPastNoon{2006, 1, 5, 12, 30, 15, 5};

TEST(DisplayDateTimeTest, FormatsEveryStyle) {
  const Case cases[] = {
      {"style 1, 24h", kMorning, 1, 1, true, "Thu, Jan 05, 2006 09:07:03"},
      {"style 1, 12h", kMorning, 1, 2, true, "Thu, Jan 05, 2006 09:07:03 A.M"},
      {"style 2, 24h", kMorning, 2, 1, false, "Thu, 05 Jan, 2006 09:07"},
      {"style 2, 12h", kMorning, 2, 2, false, "Thu, 05 Jan, 2006 09:07 A.M"},
      {"style 3, 24h", kMorning, 3, 1, true, "Thu, 2006-01-05 09:07:03"},
      {"style 3, 12h", kMorning, 3, 2, true, "Thu, 2006-01-05 09:07:03 A.M"},
      // The 12-hour style counts 0..11 in both halves: half past noon is 00:30 P.M.
      {"noon, list", kHalfPastNoon, 2, 2, false, "Thu, 05 Jan, 2006 00:30 P.M"},
      {"noon, clock", kHalfPastNoon, 2, 2, true, "Thu, 05 Jan, 2006 00:30:15 P.M"},
      {"late evening", {2006, 12, 31, 23, 59, 59, 1}, 1, 2, true, "Sun, Dec 31, 2006 11:59:59 P.M"},
      {"midnight 24h", {2006, 10, 10, 0, 0, 0, 3}, 3, 1, true, "Tue, 2006-10-10 00:00:00"},
      {"unknown date style", kMorning, 7, 1, false, "Thu, Jan 05, 2006 09:07"},
      {"unknown time style", kMorning, 1, 0, true, "Thu, Jan 05, 2006 "},
      {"unknown names", {2006, 13, 5, 9, 7, 3, 0}, 1, 1, false, "Unknown, Unknown 05, 2006 09:07"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatDisplayDateTime(c.moment, c.dateStyle, c.timeStyle, c.withSeconds), c.expected);
  }
}

}  // namespace
}  // namespace brevanto
