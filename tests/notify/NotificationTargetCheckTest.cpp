#include "notify/NotificationTargetCheck.h"

#include <gtest/gtest.h>

namespace brevanto {
namespace {

TEST(NotificationTargetCheckTest, TakesAddressListsAndWebUrlsOnly) {
  struct Case {
    const char* text;
    bool good;
  };
  const Case addresses[] = {
      {"", true},
      {"dba@example.org", true},
      {" a@x.org ; b@y.org,c@z ", true},
      {"a@x.org;;", true},  // empty entries are skipped when sending too
      {"dba", false},
      {"@example.org", false},
      {"dba@", false},
      {"a b@example.org", false},
      {"Ops <ops@example.org>", false},  // a display name could forge a header
      {"a@x.org\r\nBcc: evil@y.org", false},
  };
  for (const Case& c : addresses) {
    EXPECT_EQ(EmailListProblem(c.text).empty(), c.good) << c.text;
  }
  const Case urls[] = {
      {"", true},
      {"https://chat.example.org/hooks/1?x=2", true},
      {"HTTP://127.0.0.1:8080", true},
      {"ftp://example.org", false},
      {"example.org/hook", false},
      {"https://", false},
      {"https:///path", false},
      {"https://exa mple.org", false},
      {"https://user@/x", false},
  };
  for (const Case& c : urls) {
    EXPECT_EQ(WebhookUrlProblem(c.text).empty(), c.good) << c.text;
  }
}

}  // namespace
}  // namespace brevanto
