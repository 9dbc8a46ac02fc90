#include "appcore/Scheduler.h"

#include "appcore/RunRequests.h"
#include "core/Clock.h"

namespace brevanto {

namespace {

std::string SummaryText(const TaskReloadSummary& summary) {
  return "took in the changed task file: " + std::to_string(summary.Added) + " added, " +
         std::to_string(summary.Changed) + " changed, " + std::to_string(summary.Removed) +
         " removed";
}

}  // namespace

int RunScheduler(CApplicationCore& core, TaskRoutineTable routines, const SchedulerHooks& hooks,
                 int pollMs) {
  const auto say = [&hooks](const std::string& text) {
    if (hooks.Say) hooks.Say(text);
  };
  // The file now holds this core's view, so later changes on disk are another program's.
  const auto sayNotSaved = [&] {
    say("the task file " + core.TaskFilePath() + " could not be saved");
  };
  if (!core.SaveTasks()) sayNotSaved();
  if (const int code = core.StartRunner(std::move(routines)); code != 0) return code;
  say("scheduling " + std::to_string(core.Tasks().Count()) + " task(s) of " + core.Folder());
  std::string lastProblem;
  RunRequestDesk requests(core);
  std::int64_t nextOverdueLook = 0;
  while (!hooks.StopRequested()) {
    // Silence is a matter of hours: a look a minute is plenty.
    if (core.GetClock().MonotonicMs() >= nextOverdueLook) {
      for (const std::string& name : core.CheckOverdue()) {
        say("\"" + name + "\" is overdue: its failure notification went out");
      }
      nextOverdueLook = core.GetClock().MonotonicMs() + 60000;
    }
    if (core.TaskFileChangedOnDisk()) {
      const TaskReloadSummary summary = core.ReloadTaskFile();
      if (summary.Reloaded) {
        say(SummaryText(summary));
        if (summary.SaveFailed) sayNotSaved();
        lastProblem.clear();
      } else if (!summary.Problem.empty() && summary.Problem != lastProblem) {
        // Said once; saves wait until a readable file replaces this one.
        say("the changed task file cannot be read, keeping the tasks in memory: " +
            summary.Problem);
        lastProblem = summary.Problem;
      }
    }
    for (const std::string& text : requests.Poll()) say(text);
    if (hooks.Poll) hooks.Poll();
    core.GetClock().SleepMs(pollMs);
  }
  say("stopping");
  // A change made since the last look is taken in, so the save at exit does not wait on it.
  // Its save, should it fail, is said by the save at exit.
  if (core.TaskFileChangedOnDisk()) core.ReloadTaskFile();
  if (!core.SaveAtExit()) say("the task list or the options could not be saved at exit");
  return 0;
}

}  // namespace brevanto
