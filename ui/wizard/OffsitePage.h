#pragma once
// COffsitePage: where a backup's copies go off-site (the task's "Remote" section): none, an
// S3-compatible bucket, an SFTP folder or an rclone remote, with how many copies are kept
// there and here, whether the copy skips the local file, and a bandwidth cap. Test reaches
// the target on a worker thread and shows what it found on the page.

#include <atomic>
#include <cstdint>
#include <memory>

#include "tasks/RemoteOptions.h"
#include "ui/wizard/TaskPage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QWidget;

namespace brevanto {
struct TransferControl;
}

namespace brevanto::wizard {

// MakeRemoteStore and TestRemoteStore: Ok, or the Error naming the step that failed.
Status TestRemoteTarget(const RemoteOptions& options, const TransferControl& control);

// Stores `options` as the task's "Remote" section. Keys this program does not know (written
// by a later version) are kept; "None" removes the section.
void StoreRemoteOptions(CTaskItem& task, const RemoteOptions& options);

class COffsitePage : public CTaskPage {
  Q_OBJECT

 public:
  explicit COffsitePage(CSheetContext& context);
  ~COffsitePage() override;
  void Load() override;
  bool Leave() override;

  // What the fields say: only the chosen kind's fields.
  RemoteOptions Entered() const;
  // Starts the Test; does nothing while one runs or when the fields are incomplete (the
  // result line then says why).
  void Test();
  bool Testing() const { return m_testing; }

 signals:
  void testFinished();

 private:
  void ShowKind();
  void UpdateEnabled();
  void ShowTestResult(const Status& status, const QString& target);
  QWidget* FieldOfProblem(const std::string& problem) const;

  QComboBox* m_kind;
  QPushButton* m_test;
  QLabel* m_result;
  QStackedWidget* m_fields;
  // S3.
  QLineEdit* m_endpoint;
  QLineEdit* m_region;
  QLineEdit* m_bucket;
  QLineEdit* m_prefix;
  QCheckBox* m_pathStyle;
  QLineEdit* m_accessKey;
  QLineEdit* m_secretKey;
  QLineEdit* m_storageClass;
  QLineEdit* m_caFile;
  // SFTP.
  QLineEdit* m_host;
  QSpinBox* m_port;
  QLineEdit* m_user;
  QLineEdit* m_password;
  QLineEdit* m_keyFile;
  QLineEdit* m_hostKey;
  QLineEdit* m_sftpPath;
  // rclone.
  QLineEdit* m_remote;
  QLineEdit* m_remotePath;
  // Copies.
  QWidget* m_copies;
  QSpinBox* m_keepThere;
  QComboBox* m_localRule;
  QSpinBox* m_keepHere;
  QCheckBox* m_direct;
  QSpinBox* m_bandwidth;
  // The cap as stored: kept when the KB/s field still shows it, so a value that is no
  // whole number of KB survives an edit of other fields.
  std::uint64_t m_loadedBandwidth = 0;

  bool m_testing = false;
  // Set when the page goes: a Test still running stops at its next chance.
  std::shared_ptr<std::atomic<bool>> m_closed = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace brevanto::wizard
