#include "notify/Notifier.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include "core/Clock.h"
#include "notify/NotificationText.h"

namespace brevanto {

CNotifier::CNotifier(WarningSink warn, TransportLimits limits)
    : m_warn(std::move(warn)), m_limits(limits) {}

CNotifier::~CNotifier() {
  {
    std::lock_guard lock(m_lock);
    m_quitting = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void CNotifier::Submit(const RunReport& report, const NotificationChoice& choice,
                       const CNotificationSettings& settings) {
  if (choice.EmailTo.empty() && choice.WebhookUrl.empty() && !(choice.Desktop && m_desktop)) {
    return;
  }
  Enqueue(Job{report, choice, settings, {}});
}

void CNotifier::Ping(const std::string& logFileName, const std::string& url) {
  Job job;
  job.Report.LogFileName = logFileName;
  job.PingUrl = url;
  Enqueue(std::move(job));
}

void CNotifier::Enqueue(Job job) {
  const std::string logFileName = job.Report.LogFileName;
  bool full = false;
  std::string noThread;
  {
    std::lock_guard lock(m_lock);
    full = m_queue.size() >= kMaxQueued;
    if (!full) {
      m_queue.push_back(std::move(job));
      if (!m_thread.joinable()) {
        try {
          m_thread = std::thread([this] { Main(); });
        } catch (const std::system_error& e) {
          // Thrown on, it would end the worker thread that submits, and the process.
          m_queue.pop_back();
          noThread = e.what();
        }
      }
    }
  }
  if (full) {
    m_warn(logFileName, kNotificationsDropped);
    return;
  }
  if (!noThread.empty()) {
    m_warn(logFileName, std::string(kNotificationsFailed) + ": " + noThread);
    return;
  }
  m_changed.notify_all();
}

void CNotifier::WaitUntilIdle() {
  std::unique_lock lock(m_lock);
  m_changed.wait(lock, [&] { return m_queue.empty() && !m_busy; });
}

std::size_t CNotifier::WaitUntilIdle(Clock& clock, int limitMs) {
  constexpr int kPollMs = 50;
  const std::int64_t deadline = clock.MonotonicMs() + limitMs;
  for (;;) {
    std::size_t left = 0;
    {
      std::lock_guard lock(m_lock);
      left = m_queue.size() + (m_busy ? 1 : 0);
    }
    if (left == 0 || clock.MonotonicMs() >= deadline) return left;
    clock.SleepMs(kPollMs);
  }
}

void CNotifier::Main() {
  std::unique_lock lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [&] { return !m_queue.empty() || m_quitting; });
    if (m_queue.empty()) return;
    Job job = std::move(m_queue.front());
    m_queue.pop_front();
    m_busy = true;
    lock.unlock();
    SendGuarded(job);
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
  }
}

void CNotifier::SendGuarded(const Job& job) {
  std::string failure;
  try {
    Send(job);
    return;
  } catch (const std::exception& e) {
    failure = std::string(kNotificationsFailed) + ": " + e.what();
  } catch (...) {
    failure = std::string(kNotificationsFailed) + "!";
  }
  // An exception would end the process from this thread; the run's outcome stands.
  m_warn(job.Report.LogFileName, failure);
}

void CNotifier::Send(const Job& job) {
  if (!job.PingUrl.empty()) {
    TransportLimits limits;
    limits.ConnectTimeoutSeconds = std::min(m_limits.ConnectTimeoutSeconds, kPingTimeoutSeconds);
    limits.TotalTimeoutSeconds = std::min(m_limits.TotalTimeoutSeconds, kPingTimeoutSeconds);
    const Status pinged = GetPingUrl(job.PingUrl, limits);
    if (!pinged.ok()) m_warn(job.Report.LogFileName, pinged.message());
    return;
  }
  if (job.Choice.Desktop && m_desktop) m_desktop(job.Report);
  if (!job.Choice.EmailTo.empty()) {
    const std::vector<std::string> to = SplitAddresses(job.Choice.EmailTo);
    const CNotificationSettings& s = job.Settings;
    const std::string from = !s.Sender.empty()     ? s.Sender
                             : !s.SmtpUser.empty() ? s.SmtpUser
                                                   : std::string("brevanto@localhost");
    const Status sent = SendMail(s, from, to, MakeMailMessage(job.Report, from, to), m_limits);
    if (!sent.ok()) m_warn(job.Report.LogFileName, sent.message());
  }
  if (!job.Choice.WebhookUrl.empty()) {
    const Status posted = PostWebhook(job.Choice.WebhookUrl, MakeWebhookBody(job.Report), m_limits);
    if (!posted.ok()) m_warn(job.Report.LogFileName, posted.message());
  }
}

}  // namespace brevanto
