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

// Only the parts that carry credentials are hidden; the rest says which hook it was.
TEST(NotificationTargetCheckTest, LoggedUrlsHideUserPasswordQueryAndFragment) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://chat.example.org/hooks/1", "https://chat.example.org/hooks/1"},
      {"https://u:p@chat.example.org/h?token=x", "https://***@chat.example.org/h?***"},
      {"https://a@b:c@host:8443", "https://***@host:8443"},  // the last @ ends the user part
      {"http://host/path@x?q#frag", "http://host/path@x?***#***"},
      {"http://[::1]:8080/h#only", "http://[::1]:8080/h#***"},
      {"http://host?", "http://host?***"},
  };
  for (const auto& [url, shown] : cases) EXPECT_EQ(UrlForLog(url), shown) << url;
}

}  // namespace
}  // namespace brevanto
