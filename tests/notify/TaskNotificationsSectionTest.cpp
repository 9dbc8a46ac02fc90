#include "notify/TaskNotificationsSection.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tasks/AdvancedOptions.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {
namespace {

using nlohmann::json;

TEST(TaskNotificationsSectionTest, ClearingAFieldRemovesItButKeepsForeignKeys) {
  CTaskItem task;
  SetAdvancedOptions(task, CAdvancedOptions());
  SetTaskSection(task, kNotificationsSection, json{{"Pager", "555"}, {"Desktop", true}});

  TaskNotifications own;
  own.EmailTo = "ops@example.org";
  own.EmailOnSuccess = false;
  SetTaskNotifications(task, own);
  EXPECT_EQ(FindTaskNotifications(task), own);  // "Desktop" went back to the default
  EXPECT_EQ(GetTaskSection(task, kNotificationsSection)["Pager"], "555");

  SetTaskSection(task, kNotificationsSection, json());
  SetTaskNotifications(task, TaskNotifications{});
  EXPECT_TRUE(GetTaskSection(task, kNotificationsSection).is_null());
  EXPECT_TRUE(FindAdvancedOptions(task).has_value());  // other sections are untouched
}

TEST(TaskNotificationsSectionTest, ATaskWithoutOrWithADamagedSectionUsesTheDefaults) {
  CTaskItem task;
  EXPECT_TRUE(FindTaskNotifications(task).Empty());
  SetTaskSection(task, kNotificationsSection, json{{"Desktop", "yes"}, {"EmailTo", 5}});
  EXPECT_TRUE(FindTaskNotifications(task).Empty());
}

}  // namespace
}  // namespace brevanto
