#include "notify/NotificationText.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "core/UtcTime.h"
#include "schedule/RunReport.h"
#include "tasks/TaskTypeText.h"

namespace brevanto {

namespace {

// Header values never hold a line break: a task name could otherwise add headers.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
  return line;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// RFC 2047 encoded word for a header value that is not plain ASCII.
std::string EncodeHeaderValue(const std::string& text) {
  if (IsAscii(text)) return text;
  static constexpr char kBase64[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = "=?UTF-8?B?";
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(text[i]) << 16) |
                       (static_cast<unsigned char>(text[i + 1]) << 8) |
                       static_cast<unsigned char>(text[i + 2]);
    out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63], kBase64[v & 63]};
  }
  if (i + 1 == text.size()) {
    const unsigned v = static_cast<unsigned char>(text[i]) << 16;
    out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == text.size()) {
    const unsigned v = (static_cast<unsigned char>(text[i]) << 16) |
                       (static_cast<unsigned char>(text[i + 1]) << 8);
    out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63], '='};
  }
  return out + "?=";
}

// "Mon, 05 Jan 2006 09:07:03 +0100": the report's local time with the offset the system
// gives that moment.
std::string MailDate(const TaskDateTime& t) {
  std::tm local = LocalTm(t);
  if (std::mktime(&local) == -1) return {};
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const long offset = local.tm_gmtoff / 60;
  const long absOffset = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', absOffset / 60,
                absOffset % 60);
  return text;
}

}  // namespace

std::string OutcomeText(const RunReport& report) {
  if (report.Failed()) {
    if (report.ErrorCount == 0) return "Failed";
    return "Failed (" + std::to_string(report.ErrorCount) +
           (report.ErrorCount == 1 ? " error)" : " errors)");
  }
  return report.Canceled() ? "Canceled" : "OK";
}

std::string FormatReportTime(const TaskDateTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

std::string MakeNotificationTitle(const RunReport& report) {
  return "Brevanto: " + OneLine(report.TaskName) + " - " + OutcomeText(report);
}

std::string MakeMailMessage(const RunReport& report, const std::string& from,
                            const std::vector<std::string>& to) {
  const std::string eol = "\r\n";
  std::string message;
  const std::string date = MailDate(report.End);
  if (!date.empty()) message += "Date: " + date + eol;
  message += "From: " + OneLine(from) + eol;
  std::string toList;
  for (const std::string& address : to) toList += (toList.empty() ? "" : ", ") + OneLine(address);
  message += "To: " + toList + eol;
  message += "Subject: " + EncodeHeaderValue(MakeNotificationTitle(report)) + eol;
  message += "MIME-Version: 1.0" + eol;
  message += "Content-Type: text/plain; charset=UTF-8" + eol;
  message += "Content-Transfer-Encoding: 8bit" + eol;
  message += eol;

  message += "Task: " + OneLine(report.TaskName) + eol;
  message += std::string("Type: ") + TaskTypeText(report.TaskType) + eol;
  message += "Outcome: " + OutcomeText(report) + eol;
  message += "Started: " + FormatReportTime(report.Start) + eol;
  message += "Ended: " + FormatReportTime(report.End) + eol;
  if (!report.Errors.empty()) {
    message += eol + "Errors:" + eol;
    for (const std::string& error : report.Errors) message += OneLine(error) + eol;
    const int more = report.ErrorCount - static_cast<int>(report.Errors.size());
    if (more > 0) message += "... and " + std::to_string(more) + " more in the task's log" + eol;
  }
  if (!report.FilesWritten.empty()) {
    message += eol + "Files written:" + eol;
    for (const std::string& file : report.FilesWritten) message += OneLine(file) + eol;
  }
  return message;
}

std::string MakeWebhookBody(const RunReport& report) {
  nlohmann::json body = {
      {"task", report.TaskName},
      {"type", TaskTypeText(report.TaskType)},
      {"outcome", report.Failed()     ? "Failed"
                  : report.Canceled() ? "Canceled"
                                      : "OK"},
      {"start", FormatReportTime(report.Start)},
      {"end", FormatReportTime(report.End)},
      {"errorCount", report.ErrorCount},
      {"errors", report.Errors},
      {"files", report.FilesWritten},
  };
  // Server messages may hold bytes that are not UTF-8: replaced, never a thrown error.
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string MakeNotificationBody(const RunReport& report) {
  std::string body = OutcomeText(report);
  const std::size_t shown = std::min<std::size_t>(report.Errors.size(), 3);
  for (std::size_t i = 0; i < shown; ++i) body += "\n" + report.Errors[i];
  return body;
}

std::vector<std::string> SplitAddresses(const std::string& list) {
  std::vector<std::string> addresses;
  std::string current;
  auto flush = [&] {
    const auto first = current.find_first_not_of(" \t");
    const auto last = current.find_last_not_of(" \t");
    std::string address =
        first == std::string::npos ? std::string() : current.substr(first, last - first + 1);
    current.clear();
    if (address.empty()) return;
    for (unsigned char c : address) {
      if (c < 0x20 || c == 0x7f || c == '<' || c == '>' || c == ' ') return;
    }
    addresses.push_back(std::move(address));
  };
  for (char c : list) {
    if (c == ',' || c == ';') {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return addresses;
}

}  // namespace brevanto
