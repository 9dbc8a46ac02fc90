#include "notify/NotificationTargetCheck.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace brevanto {
namespace {

bool HasControlOrSpace(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char c) {
           return std::tolower(static_cast<unsigned char>(c)) == lower;
         });
}

bool IsAddress(std::string_view address) {
  const auto at = address.rfind('@');
  return at != std::string_view::npos && at > 0 && at + 1 < address.size() &&
         !HasControlOrSpace(address) && address.find_first_of("<>") == std::string_view::npos;
}

}  // namespace

std::string EmailListProblem(const std::string& list) {
  std::string_view rest = list;
  while (!rest.empty()) {
    const auto end = rest.find_first_of(",;");
    const std::string_view address = Trimmed(rest.substr(0, end));
    if (!address.empty() && !IsAddress(address)) {
      return "\"" + std::string(address) + "\" is not an e-mail address (name@host)";
    }
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return {};
}

std::string WebhookUrlProblem(const std::string& url) {
  if (url.empty()) return {};
  std::string_view rest = url;
  if (StartsWithNoCase(rest, "https://")) {
    rest.remove_prefix(8);
  } else if (StartsWithNoCase(rest, "http://")) {
    rest.remove_prefix(7);
  } else {
    return "must start with http:// or https://";
  }
  if (HasControlOrSpace(url)) return "must not hold spaces or control characters";
  const std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
  if (host.empty() || host.front() == ':' || host.back() == '@') {
    return "has no host name";
  }
  return {};
}

std::string UrlForLog(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t hostEnd = std::min(url.find_first_of("/?#", hostStart), url.size());
  std::string shown = url.substr(0, hostStart);
  const std::string authority = url.substr(hostStart, hostEnd - hostStart);
  const std::size_t at = authority.rfind('@');
  shown += at == std::string::npos ? authority : "***" + authority.substr(at);
  const std::size_t query = std::min(url.find_first_of("?#", hostEnd), url.size());
  shown += url.substr(hostEnd, query - hostEnd);
  if (query < url.size()) {
    const std::size_t fragment = url.find('#', query);
    if (url[query] == '?') shown += "?***";
    if (fragment != std::string::npos) shown += "#***";
  }
  return shown;
}

}  // namespace brevanto
