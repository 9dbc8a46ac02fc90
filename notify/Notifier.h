#pragma once
// CNotifier: sends a finished run's e-mail and webhook, and monitors' pings, on its own
// thread, so a slow or unreachable server never holds up a worker. A failed sending is
// logged as a Warning in the task's log and changes nothing else.
//
// Threads: Submit and WaitUntilIdle may be called from any thread. The warning sink is
// called on the notifier's thread, and on the submitting one for a run the full queue
// turns away. The destructor sends what is still queued (each sending is bounded by its
// time-outs), then ends the thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "notify/NotificationSettings.h"
#include "notify/NotificationTransport.h"
#include "schedule/RunReport.h"

namespace brevanto {

class Clock;

class CNotifier {
 public:
  // Logs `text` as a Warning in the log named `logFileName`.
  using WarningSink = std::function<void(const std::string& logFileName, const std::string& text)>;
  // Shows a run's desktop notification; a failure is not logged (a server has no desktop).
  using DesktopSender = std::function<void(const RunReport& report)>;

  explicit CNotifier(WarningSink warn, TransportLimits limits = {});
  ~CNotifier();
  CNotifier(const CNotifier&) = delete;
  CNotifier& operator=(const CNotifier&) = delete;

  // Programs without a window have the notifier send the desktop part too. Set before
  // the first Submit.
  void SetDesktopSender(DesktopSender sender) { m_desktop = std::move(sender); }

  // Queues the e-mail and the webhook `choice` names, and its desktop part when a desktop
  // sender is set (the window shows its own, with an action). With kMaxQueued runs already
  // waiting (a server that hangs to its time-out every time) the run's are not sent, and
  // its log gets kNotificationsDropped as a Warning.
  void Submit(const RunReport& report, const NotificationChoice& choice,
              const CNotificationSettings& settings);
  // Queues a GET of `url` (a monitor's ping) behind what is already queued, so a run's
  // start ping goes before its end ping. A failure is a Warning in `logFileName`. Bounded
  // by kPingTimeoutSeconds (or the notifier's limits, when shorter): a ping is a sign of
  // life, not worth holding the other notifications up for.
  void Ping(const std::string& logFileName, const std::string& url);
  static constexpr long kPingTimeoutSeconds = 10;
  static constexpr std::size_t kMaxQueued = 32;
  static constexpr const char* kNotificationsDropped =
      "The notifications of this run were not sent: too many were waiting to be sent.";
  // Logged as a Warning, with the reason, when sending a run's notifications threw.
  static constexpr const char* kNotificationsFailed =
      "The notifications of this run could not be sent";
  // Returns once everything submitted before the call was sent or has failed.
  void WaitUntilIdle();
  // The same, but gives up after `limitMs` of `clock`; returns the runs whose sending
  // had not ended by then (0 when idle).
  std::size_t WaitUntilIdle(Clock& clock, int limitMs);

 private:
  struct Job {
    RunReport Report;
    NotificationChoice Choice;
    CNotificationSettings Settings;
    std::string PingUrl;  // set: the job is this ping and nothing else
  };

  void Enqueue(Job job);

  void Main();
  void SendGuarded(const Job& job);  // Send, with what it throws logged as a Warning
  void Send(const Job& job);

  const WarningSink m_warn;
  DesktopSender m_desktop;
  const TransportLimits m_limits;
  std::mutex m_lock;  // guards the members below
  std::condition_variable m_changed;
  std::deque<Job> m_queue;
  bool m_busy = false;      // a job is being sent
  bool m_quitting = false;  // the destructor runs: end once the queue is empty
  std::thread m_thread;     // started by the first Submit
};

}  // namespace brevanto
