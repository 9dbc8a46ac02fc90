#include "notify/NotificationTransport.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include <curl/curl.h>

#include "notify/NotificationTargetCheck.h"

namespace brevanto {

namespace {

struct CurlCleanup {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct SlistFree {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;
using CurlList = std::unique_ptr<curl_slist, SlistFree>;

// curl_global_init is not thread-safe; the first sender runs it for the process.
CurlHandle NewHandle() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return CurlHandle(curl_easy_init());
}

void ApplyLimits(CURL* curl, const TransportLimits& limits) {
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.ConnectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.TotalTimeoutSeconds);
  // Worker threads must not get SIGPIPE or have their name look-ups cut by signals.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
}

// curl's reason, with the detail of its error buffer when it has one.
std::string Reason(CURLcode code, const char* detail) {
  std::string reason = curl_easy_strerror(code);
  if (detail != nullptr && detail[0] != '\0') reason += " (" + std::string(detail) + ")";
  return reason;
}

// Feeds the message to curl's upload.
struct UploadSource {
  const std::string& Bytes;
  std::size_t Offset = 0;
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* source = static_cast<UploadSource*>(user);
  const std::size_t n = std::min(size * count, source->Bytes.size() - source->Offset);
  std::memcpy(buffer, source->Bytes.data() + source->Offset, n);
  source->Offset += n;
  return n;
}

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) { return size * count; }

}  // namespace

Status SendMail(const CNotificationSettings& settings, const std::string& from,
                const std::vector<std::string>& to, const std::string& message,
                const TransportLimits& limits) {
  const std::string context = "Failed to send the e-mail notification through " +
                              settings.SmtpServer + ":" + std::to_string(settings.SmtpPort);
  if (settings.SmtpServer.empty()) return Status::Error("Failed to send the e-mail notification: no SMTP server is set");
  if (to.empty()) return Status::Error(context + ": no recipient address");
  CurlHandle curl = NewHandle();
  if (!curl) return Status::Error(context + ": the mail library could not start");

  const bool tls = settings.Security == SmtpSecurity::Tls;
  const std::string url = std::string(tls ? "smtps://" : "smtp://") + settings.SmtpServer + ":" +
                          std::to_string(settings.SmtpPort);
  char detail[CURL_ERROR_SIZE] = {};
  CurlList recipients;
  for (const std::string& address : to) {
    curl_slist* grown = curl_slist_append(recipients.get(), ("<" + address + ">").c_str());
    if (grown == nullptr) return Status::Error(context + ": out of memory");
    recipients.release();
    recipients.reset(grown);
  }
  UploadSource source{message};
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_USE_SSL,
                   settings.Security == SmtpSecurity::None ? CURLUSESSL_NONE : CURLUSESSL_ALL);
  if (!settings.SmtpUser.empty()) {
    curl_easy_setopt(h, CURLOPT_USERNAME, settings.SmtpUser.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, settings.SmtpPassword.c_str());
  }
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, ("<" + from + ">").c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(h, CURLOPT_READDATA, &source);
  ApplyLimits(h, limits);
  const CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) return Status::Error(context + ": " + Reason(code, detail));
  return Status::Ok();
}

namespace {

// One HTTP request to a URL the user gave: POSTs `json` when it is not null, else GETs.
// Only http and https, redirects not followed, an answer of 300 or above a failure.
Status CallUrl(const std::string& context, const std::string& url, const std::string* json,
               const TransportLimits& limits) {
  CurlHandle curl = NewHandle();
  if (!curl) return Status::Error(context + ": the network library could not start");
  char detail[CURL_ERROR_SIZE] = {};
  CurlList headers;
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  // A URL typed by the user may name any scheme curl knows (file, smtp, ...): only HTTP.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  if (json != nullptr) {
    headers.reset(curl_slist_append(nullptr, "Content-Type: application/json"));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, json->data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json->size()));
  }
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
  ApplyLimits(h, limits);
  const CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) return Status::Error(context + ": " + Reason(code, detail));
  long answer = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer);
  if (answer >= 400) {
    return Status::Error(context + ": the server answered HTTP " + std::to_string(answer));
  }
  // Redirects are not followed (the body would go where the answer says): not delivered.
  if (answer >= 300) {
    return Status::Error(context + ": the server answered HTTP " + std::to_string(answer) +
                         " (a redirect, not followed)");
  }
  return Status::Ok();
}

}  // namespace

Status PostWebhook(const std::string& url, const std::string& json, const TransportLimits& limits) {
  return CallUrl("Failed to call the webhook " + UrlForLog(url), url, &json, limits);
}

Status GetPingUrl(const std::string& url, const TransportLimits& limits) {
  return CallUrl("Failed to ping " + UrlForLog(url), url, nullptr, limits);
}

}  // namespace brevanto
