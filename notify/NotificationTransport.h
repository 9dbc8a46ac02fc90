#pragma once
// Sending over the network through libcurl: an e-mail over SMTP, a JSON document
// posted to a webhook and a monitor's ping. Blocking, bounded by the time-outs; any
// thread may call them. A failure's message is the text the task log receives.

#include <string>
#include <vector>

#include "core/Status.h"
#include "notify/NotificationSettings.h"

namespace brevanto {

struct TransportLimits {
  long ConnectTimeoutSeconds = 15;
  long TotalTimeoutSeconds = 60;
};

// Sends `message` (headers and body, CRLF line ends) from `from` to every address in
// `to` through the SMTP server of `settings`: STARTTLS required with
// SmtpSecurity::StartTls, TLS from the first byte with SmtpSecurity::Tls, and the user's
// login when a user name is set.
Status SendMail(const CNotificationSettings& settings, const std::string& from,
                const std::vector<std::string>& to, const std::string& message,
                const TransportLimits& limits = {});

// POSTs `json` to `url` (http or https only; redirects are not followed). An answer of
// HTTP 400 or above is a failure.
Status PostWebhook(const std::string& url, const std::string& json,
                   const TransportLimits& limits = {});

// GETs `url` (a monitor's ping), under the same rules as PostWebhook.
Status GetPingUrl(const std::string& url, const TransportLimits& limits = {});

}  // namespace brevanto
