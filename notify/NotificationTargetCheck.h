#pragma once
// Checks of the e-mail addresses and webhook URL a user types or imports, so that a
// mistake is refused where it is made instead of failing silently at the next run.

#include <string>

namespace brevanto {

// Empty when `list` is empty or holds only addresses ("name@host", separated by "," or
// ";"); otherwise a message naming the first bad one.
std::string EmailListProblem(const std::string& list);

// Empty when `url` is empty or an http:// or https:// URL with a host; otherwise why not.
std::string WebhookUrlProblem(const std::string& url);

// The URL as logs and messages show it: a user name and password before the host, the
// query and the fragment often carry credentials or tokens, so each becomes "***".
std::string UrlForLog(const std::string& url);

}  // namespace brevanto
