#pragma once
// The texts a run's notifications carry: the outcome line, the e-mail and the webhook's
// JSON document (docs/formats/notifications.md).

#include <string>
#include <vector>

#include "core/DateTime.h"

namespace brevanto {

struct RunReport;

// "OK", "Failed (1 error)", "Failed (3 errors)", "Canceled".
std::string OutcomeText(const RunReport& report);

// "2006-01-05 09:07:03"
std::string FormatReportTime(const TaskDateTime& time);

// One line: "Brevanto: <task> - <outcome>".
std::string MakeNotificationTitle(const RunReport& report);

// A desktop notification's text: the outcome and the first three errors, a line each.
std::string MakeNotificationBody(const RunReport& report);

// The whole message as sent over SMTP (headers, blank line, body; CRLF line ends). The
// body lists the run's Error entries. `to` are the addresses of the To header.
std::string MakeMailMessage(const RunReport& report, const std::string& from,
                            const std::vector<std::string>& to);

// The webhook's JSON document.
std::string MakeWebhookBody(const RunReport& report);

// Addresses separated by "," or ";", trimmed; an address holding a control character or
// an angle bracket is dropped (it could forge a header or an SMTP command).
std::vector<std::string> SplitAddresses(const std::string& list);

}  // namespace brevanto
