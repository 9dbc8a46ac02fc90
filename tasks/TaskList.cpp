#include "tasks/TaskList.h"

#include <optional>
#include <utility>

#include "core/Clock.h"
#include "tasks/BackupFileName.h"
#include "tasks/TaskFile.h"

namespace brevanto {

CTaskList::CTaskList(Clock& clock) : m_clock(clock) {}

int CTaskList::Count() const {
  std::lock_guard lock(m_slotsLock);
  return static_cast<int>(m_slots.size());
}

std::shared_ptr<TaskSlot> CTaskList::SlotAt(int index) const {
  std::lock_guard lock(m_slotsLock);
  if (index < 0 || index >= static_cast<int>(m_slots.size())) return nullptr;
  return m_slots[static_cast<std::size_t>(index)];
}

std::vector<std::shared_ptr<TaskSlot>> CTaskList::Slots() const {
  std::lock_guard lock(m_slotsLock);
  return m_slots;
}

CTaskItem CTaskList::At(int index) const {
  std::shared_ptr<TaskSlot> slot = SlotAt(index);
  if (!slot) return CTaskItem();
  std::lock_guard lock(slot->Lock);
  return slot->Task;
}

TaskProgress CTaskList::ProgressAt(int index) const {
  std::shared_ptr<TaskSlot> slot = SlotAt(index);
  if (!slot) return {};
  std::lock_guard lock(slot->Lock);
  return slot->Progress;
}

TaskRunResult CTaskList::LastResultAt(int index) const {
  std::shared_ptr<TaskSlot> slot = SlotAt(index);
  if (!slot) return {};
  std::lock_guard lock(slot->Lock);
  return slot->LastResult;
}

void CTaskList::SetLastResult(int index, const TaskRunResult& result) {
  std::shared_ptr<TaskSlot> slot = SlotAt(index);
  if (!slot) return;
  std::lock_guard lock(slot->Lock);
  slot->LastResult = result;
}

void CTaskList::SetOverdue(int index, bool overdue) {
  std::shared_ptr<TaskSlot> slot = SlotAt(index);
  if (!slot) return;
  std::lock_guard lock(slot->Lock);
  slot->LastResult.Overdue = overdue;
}

void CTaskList::Update(int index, const std::function<void(CTaskItem&)>& change) {
  std::shared_ptr<TaskSlot> slot = SlotAt(index);
  if (!slot) return;
  std::lock_guard lock(slot->Lock);
  change(slot->Task);
}

void CTaskList::Replace(int index, const CTaskItem& task) {
  Update(index, [&](CTaskItem& live) {
    std::string key = std::move(live.TaskKey);
    live = task;
    live.TaskKey = std::move(key);
  });
}

std::string CTaskList::MakeTaskKey() const { return brevanto::MakeTaskKey(m_clock.Now(), Count()); }

int CTaskList::AddTask(const CTaskItem& task) {
  auto slot = std::make_shared<TaskSlot>();
  slot->Task = task;
  slot->Task.TaskKey = MakeTaskKey();
  slot->Task.RunImmediately = 0;
  std::lock_guard lock(m_slotsLock);
  m_slots.push_back(std::move(slot));
  return static_cast<int>(m_slots.size()) - 1;
}

void CTaskList::RemoveAt(int index) {
  std::shared_ptr<TaskSlot> removed;
  {
    std::lock_guard lock(m_slotsLock);
    if (index < 0 || index >= static_cast<int>(m_slots.size())) return;
    removed = std::move(m_slots[static_cast<std::size_t>(index)]);
    m_slots.erase(m_slots.begin() + index);
  }
  // A worker still running keeps its own slot.
}

void CTaskList::RemoveAll() {
  std::vector<std::shared_ptr<TaskSlot>> removed;
  {
    std::lock_guard lock(m_slotsLock);
    removed.swap(m_slots);
  }
}

int CTaskList::FindByName(const std::string& name) const {
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<TaskSlot> slot = SlotAt(i);
    if (!slot) break;
    std::lock_guard lock(slot->Lock);
    if (slot->Task.TaskName == name) return i;
  }
  return -1;
}

std::string CTaskList::ProposeTaskName() const { return "Task " + std::to_string(Count() + 1); }

std::vector<CTaskItem> CTaskList::Snapshot() const {
  const std::vector<std::shared_ptr<TaskSlot>> slots = Slots();
  std::vector<CTaskItem> tasks;
  tasks.reserve(slots.size());
  for (const auto& slot : slots) {
    std::lock_guard lock(slot->Lock);
    tasks.push_back(slot->Task);
  }
  return tasks;
}

namespace {
// One save at a time in the whole process, the snapshot taken inside: a save that
// started later never loses to an older one.
std::mutex g_saveLock;
}  // namespace

bool CTaskList::SaveTaskFile(const std::string& path) const {
  std::lock_guard lock(g_saveLock);
  return WriteTaskFile(path, Snapshot());
}

ReplaceResult CTaskList::SaveTaskFileIfUnchanged(const std::string& path,
                                                 const FileStamp& expected,
                                                 FileStamp* written) const {
  std::lock_guard lock(g_saveLock);
  return WriteTaskFileIfUnchanged(path, Snapshot(), expected, written);
}

std::optional<std::vector<CTaskItem>> CTaskList::ReadTasksToLoad(const std::string& path,
                                                                 bool* loaded) {
  std::vector<CTaskItem> tasks;
  std::string problem;
  switch (ReadTaskFile(path, tasks, &problem)) {
    case TaskFileReadResult::Failure: *loaded = false; return std::nullopt;
    case TaskFileReadResult::NothingToLoad:
      // Either way the current list stays. A file with no tasks loaded fine; a damaged
      // record is a failed load, so Load From never tells the user it succeeded.
      *loaded = problem.empty();
      return std::nullopt;
    case TaskFileReadResult::Loaded: break;
  }
  *loaded = true;
  return tasks;
}

void CTaskList::ReplaceAll(const std::vector<CTaskItem>& tasks) {
  RemoveAll();
  // AddTask gives every task a fresh key.
  for (const CTaskItem& task : tasks) AddTask(task);
}

bool CTaskList::LoadTaskFile(const std::string& path) {
  bool loaded = false;
  const std::optional<std::vector<CTaskItem>> tasks = ReadTasksToLoad(path, &loaded);
  if (tasks) ReplaceAll(*tasks);
  return loaded;
}

}  // namespace brevanto
