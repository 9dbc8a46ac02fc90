#include "ui/wizard/OffsitePage.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <thread>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <nlohmann/json.hpp>

#include "remote/RemoteStore.h"
#include "tasks/TaskOptionsStore.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

namespace {

constexpr RemoteKind kKinds[] = {RemoteKind::None, RemoteKind::S3, RemoteKind::Sftp,
                                 RemoteKind::Rclone};
// The local-copies choices, in the combo's order.
enum LocalRule { kAsTaskRule, kNoneOnceOffsite, kNewest };
constexpr int kMaxCount = 100000;

// Every key the section may hold for any kind: those are rewritten on save, the rest kept.
const nlohmann::json& KnownRemoteKeys() {
  static const nlohmann::json keys = [] {
    nlohmann::json all = nlohmann::json::object();
    for (RemoteKind kind : {RemoteKind::S3, RemoteKind::Sftp, RemoteKind::Rclone}) {
      RemoteOptions every;
      every.Kind = kind;
      for (std::string* text :
           {&every.Endpoint, &every.Region, &every.Bucket, &every.Prefix, &every.AccessKeyId,
            &every.SecretAccessKey, &every.StorageClass, &every.CaFile, &every.Host, &every.User,
            &every.Password, &every.PrivateKeyFile, &every.HostKeySha256, &every.Path,
            &every.RcloneRemote}) {
        text->push_back('x');
      }
      every.PathStyle = true;
      every.Port = 2222;
      every.KeepCopies = 1;
      every.KeepLocalCopies = 1;
      every.Direct = true;
      every.BandwidthBytesPerSecond = 1;
      all.update(RemoteOptionsToJson(every, true));
    }
    return all;
  }();
  return keys;
}

QLineEdit* Edit(QWidget* parent, const char* name, const QString& placeholder = QString()) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setPlaceholderText(placeholder);
  return edit;
}

QSpinBox* Spin(QWidget* parent, const char* name, int minimum, int maximum) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(minimum, maximum);
  return spin;
}

// A label for `field` in `grid` at (row, column), the field beside it spanning `span`.
void AddRow(QGridLayout* grid, int row, int column, const QString& label, QWidget* field,
            int span = 1) {
  auto* text = new QLabel(label, field->parentWidget());
  text->setBuddy(field);
  grid->addWidget(text, row, column);
  grid->addWidget(field, row, column + 1, 1, span);
}

// A path field with a file chooser beside it.
QWidget* FileRow(QWidget* parent, QLineEdit* edit, const QString& button, const char* name,
                 const QString& filter) {
  auto* row = new QWidget(parent);
  edit->setParent(row);
  auto* browse = new QPushButton(button, row);
  browse->setObjectName(QString::fromLatin1(name));
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit, 1);
  layout->addWidget(browse);
  QObject::connect(browse, &QPushButton::clicked, row, [row, edit, filter] {
    const QString file = ui::Dialogs::OpenFileName(row, filter);
    if (!file.isEmpty()) edit->setText(file);
  });
  row->setFocusProxy(edit);
  return row;
}

QGridLayout* PageGrid(QWidget* page) {
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  return grid;
}

bool IsKeyCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

Status TestRemoteTarget(const RemoteOptions& options, const TransferControl& control) {
  std::unique_ptr<RemoteStore> store;
  if (Status status = MakeRemoteStore(options, control, store); !status.ok()) return status;
  return TestRemoteStore(*store);
}

void StoreRemoteOptions(CTaskItem& task, const RemoteOptions& options) {
  if (options.Empty()) {
    SetRemoteOptions(task, options);
    return;
  }
  nlohmann::json section = GetTaskSection(task, kRemoteSection);
  if (!section.is_object()) section = nlohmann::json::object();
  for (const auto& known : KnownRemoteKeys().items()) section.erase(known.key());
  section.update(RemoteOptionsToJson(options, true));
  SetTaskSection(task, kRemoteSection, section);
}

COffsitePage::COffsitePage(CSheetContext& context)
    : CTaskPage(context, tr("Off-site Copy")),
      m_kind(new QComboBox(this)),
      m_test(new QPushButton(tr("T&est"), this)),
      m_result(new QLabel(this)),
      m_fields(new QStackedWidget(this)),
      m_copies(new QGroupBox(tr("Copies"), this)) {
  setObjectName(QStringLiteral("offsitePage"));
  m_kind->setObjectName(QStringLiteral("offsiteKindCombo"));
  m_test->setObjectName(QStringLiteral("offsiteTestButton"));
  m_result->setObjectName(QStringLiteral("offsiteTestResult"));
  m_copies->setObjectName(QStringLiteral("offsiteCopiesGroup"));
  m_kind->addItem(tr("None: copies stay on this machine"));
  m_kind->addItem(tr("S3-compatible storage"));
  m_kind->addItem(tr("SFTP"));
  m_kind->addItem(tr("rclone remote"));
  m_result->setWordWrap(true);
  m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* none = new QLabel(
      tr("Each copy is kept on this machine only: it is lost with the machine. An off-site "
         "target keeps copies elsewhere, and any host can restore from there."),
      m_fields);
  none->setWordWrap(true);
  none->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_fields->addWidget(none);

  auto* s3 = new QWidget(m_fields);
  m_endpoint = Edit(s3, "s3EndpointEdit", QStringLiteral("https://s3.eu-central-1.amazonaws.com"));
  m_region = Edit(s3, "s3RegionEdit", QStringLiteral("us-east-1"));
  m_bucket = Edit(s3, "s3BucketEdit");
  m_prefix = Edit(s3, "s3PrefixEdit", tr("none"));
  m_pathStyle = new QCheckBox(tr("Path-st&yle addressing (endpoint/bucket/name)"), s3);
  m_pathStyle->setObjectName(QStringLiteral("s3PathStyleCheck"));
  m_accessKey = Edit(s3, "s3AccessKeyEdit");
  m_secretKey = Edit(s3, "s3SecretKeyEdit");
  m_secretKey->setEchoMode(QLineEdit::Password);
  m_storageClass = Edit(s3, "s3StorageClassEdit", tr("the bucket's default"));
  m_caFile = Edit(s3, "s3CaFileEdit", tr("the system's CAs"));
  auto* s3Grid = PageGrid(s3);
  AddRow(s3Grid, 0, 0, tr("Endpoint"), m_endpoint, 3);
  AddRow(s3Grid, 1, 0, tr("Region"), m_region);
  AddRow(s3Grid, 1, 2, tr("Bucket"), m_bucket);
  AddRow(s3Grid, 2, 0, tr("Prefix"), m_prefix);
  AddRow(s3Grid, 2, 2, tr("Storage class"), m_storageClass);
  AddRow(s3Grid, 3, 0, tr("Access key ID"), m_accessKey);
  AddRow(s3Grid, 3, 2, tr("Secret access key"), m_secretKey);
  AddRow(s3Grid, 4, 0, tr("CA file"),
         FileRow(s3, m_caFile, tr("Bro&wse..."), "s3CaFileBrowse",
                 tr("Certificates (*.pem *.crt *.cer);;All Files (*)")),
         3);
  s3Grid->addWidget(m_pathStyle, 5, 0, 1, 4);
  s3Grid->setRowStretch(6, 1);
  m_fields->addWidget(s3);

  auto* sftp = new QWidget(m_fields);
  m_host = Edit(sftp, "sftpHostEdit");
  m_port = Spin(sftp, "sftpPortSpin", 1, 65535);
  m_user = Edit(sftp, "sftpUserEdit");
  m_password = Edit(sftp, "sftpPasswordEdit", tr("key login"));
  m_password->setEchoMode(QLineEdit::Password);
  m_keyFile = Edit(sftp, "sftpKeyFileEdit", tr("none: the password or the SSH agent"));
  m_hostKey = Edit(sftp, "sftpHostKeyEdit", tr("none: check known_hosts"));
  m_sftpPath = Edit(sftp, "sftpPathEdit", tr("the login folder"));
  auto* sftpGrid = PageGrid(sftp);
  AddRow(sftpGrid, 0, 0, tr("Host"), m_host);
  AddRow(sftpGrid, 0, 2, tr("Port"), m_port);
  AddRow(sftpGrid, 1, 0, tr("User"), m_user);
  AddRow(sftpGrid, 1, 2, tr("Password"), m_password);
  AddRow(sftpGrid, 2, 0, tr("Private key file"),
         FileRow(sftp, m_keyFile, tr("Brow&se..."), "sftpKeyFileBrowse", tr("All Files (*)")), 3);
  AddRow(sftpGrid, 3, 0, tr("Host key SHA-256"), m_hostKey, 3);
  AddRow(sftpGrid, 4, 0, tr("Path"), m_sftpPath, 3);
  m_hostKey->setToolTip(
      tr("The server's host key fingerprint as ssh-keygen -lf prints it "
         "(SHA256:...). Empty: the key must be in your known_hosts file."));
  sftpGrid->setRowStretch(5, 1);
  m_fields->addWidget(sftp);

  auto* rclone = new QWidget(m_fields);
  m_remote = Edit(rclone, "rcloneRemoteEdit", QStringLiteral("gdrive"));
  m_remotePath = Edit(rclone, "rclonePathEdit", tr("the remote's top"));
  auto* rcloneGrid = PageGrid(rclone);
  AddRow(rcloneGrid, 0, 0, tr("Remote"), m_remote);
  AddRow(rcloneGrid, 0, 2, tr("Path"), m_remotePath);
  auto* rcloneNote = new QLabel(
      tr("A remote as rclone config named it for the user this program runs as."), rclone);
  rcloneNote->setWordWrap(true);
  rcloneGrid->addWidget(rcloneNote, 1, 0, 1, 4);
  rcloneGrid->setRowStretch(2, 1);
  m_fields->addWidget(rclone);

  m_keepThere = Spin(m_copies, "keepOffsiteSpin", 0, kMaxCount);
  m_keepThere->setSpecialValueText(tr("All"));
  m_bandwidth = Spin(m_copies, "bandwidthSpin", 0, 1 << 30);
  m_bandwidth->setSpecialValueText(tr("No cap"));
  m_bandwidth->setSuffix(tr(" KB/s"));
  m_localRule = new QComboBox(m_copies);
  m_localRule->setObjectName(QStringLiteral("localCopiesCombo"));
  m_localRule->addItem(tr("As the backup file settings say"));
  m_localRule->addItem(tr("None, once a copy is off-site"));
  m_localRule->addItem(tr("The newest"));
  m_keepHere = Spin(m_copies, "keepLocalSpin", 1, kMaxCount);
  m_direct = new QCheckBox(tr("Write &directly to the target, no local file"), m_copies);
  m_direct->setObjectName(QStringLiteral("directCheck"));
  auto* copies = new QGridLayout(m_copies);
  copies->setColumnStretch(1, 1);
  copies->setColumnStretch(3, 1);
  AddRow(copies, 0, 0, tr("Keep off-site"), m_keepThere);
  AddRow(copies, 0, 2, tr("Bandwidth cap"), m_bandwidth);
  // The count belongs to "The newest": beside it, not under another column's heading.
  auto* localRow = new QHBoxLayout;
  localRow->addWidget(m_localRule);
  localRow->addWidget(m_keepHere);
  localRow->addStretch();
  auto* localLabel = new QLabel(tr("Keep here"), m_copies);
  localLabel->setBuddy(m_localRule);
  copies->addWidget(localLabel, 1, 0);
  copies->addLayout(localRow, 1, 1, 1, 3);
  copies->addWidget(m_direct, 2, 0, 1, 4);

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* kindLabel = new QLabel(tr("&Target"), this);
  kindLabel->setBuddy(m_kind);
  top->addWidget(kindLabel);
  top->addWidget(m_kind, 1);
  top->addWidget(m_test);
  layout->addLayout(top);
  layout->addWidget(m_result);
  layout->addWidget(m_fields);
  layout->addWidget(m_copies);
  layout->addStretch();

  connect(m_kind, &QComboBox::currentIndexChanged, this, &COffsitePage::ShowKind);
  connect(m_localRule, &QComboBox::currentIndexChanged, this, &COffsitePage::UpdateEnabled);
  connect(m_direct, &QCheckBox::toggled, this, &COffsitePage::UpdateEnabled);
  connect(m_test, &QPushButton::clicked, this, &COffsitePage::Test);
  ShowKind();
}

COffsitePage::~COffsitePage() {
  *m_closed = true;
}

void COffsitePage::Load() {
  const RemoteOptions o = RemoteOptionsOf(Task());
  int kind = 0;
  while (kind + 1 < static_cast<int>(std::size(kKinds)) && kKinds[kind] != o.Kind) ++kind;
  m_kind->setCurrentIndex(o.Kind == RemoteKind::None ? 0 : kind);
  m_endpoint->setText(ToQt(o.Endpoint));
  m_region->setText(ToQt(o.Region));
  m_bucket->setText(ToQt(o.Bucket));
  m_prefix->setText(ToQt(o.Prefix));
  m_pathStyle->setChecked(o.PathStyle);
  m_accessKey->setText(ToQt(o.AccessKeyId));
  m_secretKey->setText(ToQt(o.SecretAccessKey));
  m_storageClass->setText(ToQt(o.StorageClass));
  m_caFile->setText(ToQt(o.CaFile));
  m_host->setText(ToQt(o.Host));
  m_port->setValue(o.Port >= 1 && o.Port <= 65535 ? o.Port : 22);
  m_user->setText(ToQt(o.User));
  m_password->setText(ToQt(o.Password));
  m_keyFile->setText(ToQt(o.PrivateKeyFile));
  m_hostKey->setText(ToQt(o.HostKeySha256));
  m_sftpPath->setText(o.Kind == RemoteKind::Sftp ? ToQt(o.Path) : QString());
  m_remote->setText(ToQt(o.RcloneRemote));
  m_remotePath->setText(o.Kind == RemoteKind::Rclone ? ToQt(o.Path) : QString());
  m_keepThere->setValue(std::clamp(o.KeepCopies, 0, kMaxCount));
  m_localRule->setCurrentIndex(o.KeepLocalCopies < 0    ? kAsTaskRule
                               : o.KeepLocalCopies == 0 ? kNoneOnceOffsite
                                                        : kNewest);
  m_keepHere->setValue(std::clamp(o.KeepLocalCopies, 1, kMaxCount));
  m_direct->setChecked(o.Direct);
  m_loadedBandwidth = o.BandwidthBytesPerSecond;
  // Rounded up, so a cap below 1 KB/s does not read as "No cap".
  m_bandwidth->setValue(static_cast<int>(
      std::min<std::uint64_t>((o.BandwidthBytesPerSecond + 1023) / 1024, m_bandwidth->maximum())));
  // A stored setting no run could use (an import, a hand edit) is said at once, not only
  // when the page is left.
  if (!m_testing) m_result->setText(ToQt(RemoteOptionsProblem(o)));
  ShowKind();
}

RemoteOptions COffsitePage::Entered() const {
  RemoteOptions o;
  o.Kind = kKinds[std::clamp(m_kind->currentIndex(), 0, static_cast<int>(std::size(kKinds)) - 1)];
  const auto text = [](const QLineEdit* edit) { return FromQt(edit->text().trimmed()); };
  switch (o.Kind) {
    case RemoteKind::S3:
      o.Endpoint = text(m_endpoint);
      o.Region = text(m_region);
      o.Bucket = text(m_bucket);
      o.Prefix = text(m_prefix);
      o.PathStyle = m_pathStyle->isChecked();
      o.AccessKeyId = text(m_accessKey);
      o.SecretAccessKey = FromQt(m_secretKey->text());
      o.StorageClass = text(m_storageClass);
      o.CaFile = text(m_caFile);
      break;
    case RemoteKind::Sftp:
      o.Host = text(m_host);
      o.Port = m_port->value();
      o.User = text(m_user);
      // A password is taken as typed: spaces may belong to it.
      o.Password = FromQt(m_password->text());
      o.PrivateKeyFile = text(m_keyFile);
      o.HostKeySha256 = text(m_hostKey);
      o.Path = text(m_sftpPath);
      break;
    case RemoteKind::Rclone:
      o.RcloneRemote = text(m_remote);
      o.Path = text(m_remotePath);
      break;
    case RemoteKind::None: return o;
  }
  o.KeepCopies = m_keepThere->value();
  switch (m_localRule->currentIndex()) {
    case kNoneOnceOffsite: o.KeepLocalCopies = 0; break;
    case kNewest: o.KeepLocalCopies = m_keepHere->value(); break;
    default: o.KeepLocalCopies = -1; break;
  }
  o.Direct = m_direct->isChecked();
  const std::uint64_t shown = static_cast<std::uint64_t>(m_bandwidth->value());
  o.BandwidthBytesPerSecond =
      shown == (m_loadedBandwidth + 1023) / 1024 ? m_loadedBandwidth : shown * 1024;
  return o;
}

void COffsitePage::ShowKind() {
  m_fields->setCurrentIndex(m_kind->currentIndex());
  UpdateEnabled();
}

void COffsitePage::UpdateEnabled() {
  const bool any = m_kind->currentIndex() > 0;
  m_copies->setEnabled(any);
  m_test->setEnabled(any && !m_testing);
  // A copy written straight to the target has no local files to keep.
  m_localRule->setEnabled(!m_direct->isChecked());
  m_keepHere->setEnabled(!m_direct->isChecked() && m_localRule->currentIndex() == kNewest);
}

QWidget* COffsitePage::FieldOfProblem(const std::string& problem) const {
  const bool sftp = Entered().Kind == RemoteKind::Sftp;
  const std::pair<const char*, QWidget*> fields[] = {
      {"Endpoint", m_endpoint},
      {"Region", m_region},
      {"Bucket", m_bucket},
      {"Prefix", m_prefix},
      {"PathStyle", m_pathStyle},
      {"AccessKeyId", m_accessKey},
      {"SecretAccessKey", m_secretKey},
      {"StorageClass", m_storageClass},
      {"CaFile", m_caFile},
      {"Host", m_host},
      {"Port", m_port},
      {"User", m_user},
      {"Password", m_password},
      {"PrivateKeyFile", m_keyFile},
      {"HostKeySha256", m_hostKey},
      {"Path", sftp ? m_sftpPath : m_remotePath},
      {"RcloneRemote", m_remote},
      {"KeepCopies", m_keepThere},
      {"KeepLocalCopies", m_keepHere},
      {"Direct", m_direct},
      {"BandwidthBytesPerSecond", m_bandwidth},
  };
  // The key named as a word of its own: "Host" is not found in "HostKeySha256".
  for (const auto& [key, field] : fields) {
    const std::string name = key;
    for (std::size_t at = problem.find(name); at != std::string::npos;
         at = problem.find(name, at + 1)) {
      const std::size_t end = at + name.size();
      if ((at == 0 || !IsKeyCharacter(problem[at - 1])) &&
          (end == problem.size() || !IsKeyCharacter(problem[end]))) {
        return field;
      }
    }
  }
  return nullptr;
}

bool COffsitePage::Leave() {
  const RemoteOptions options = Entered();
  if (const std::string problem = RemoteOptionsProblem(options); !problem.empty()) {
    ui::Dialogs::Warning(this, ToQt(problem));
    if (QWidget* field = FieldOfProblem(problem)) field->setFocus();
    return false;
  }
  StoreRemoteOptions(Task(), options);
  return true;
}

void COffsitePage::Test() {
  if (m_testing) return;
  const RemoteOptions options = Entered();
  if (options.Empty()) return;
  if (const std::string problem = RemoteOptionsProblem(options); !problem.empty()) {
    m_result->setText(ToQt(problem));
    if (QWidget* field = FieldOfProblem(problem)) field->setFocus();
    return;
  }
  m_testing = true;
  UpdateEnabled();
  m_result->setText(tr("Testing..."));
  const auto tester = Context().TestRemote ? Context().TestRemote : TestRemoteTarget;
  // A store may take as long as the network's time-outs: the test runs on its own thread
  // and reports through the event loop, to this page only if it is still there.
  QPointer<COffsitePage> self(this);
  std::thread([self, closed = m_closed, tester, options] {
    const auto post = [self](std::function<void(COffsitePage&)> show) {
      QCoreApplication* app = QCoreApplication::instance();
      if (app == nullptr) return;
      QMetaObject::invokeMethod(
          app,
          [self, show] {
            if (self) show(*self);
          },
          Qt::QueuedConnection);
    };
    TransferControl control;
    control.StopRequested = [closed] { return closed->load(); };
    control.Warn = [post](const std::string& line) {
      post([text = ToQt(line)](COffsitePage& page) {
        if (page.m_testing) page.m_result->setText(tr("Testing... %1").arg(text));
      });
    };
    // One retry: a user waiting on the button wants the cause, not minutes of backoff.
    control.Retry.Attempts = 2;
    control.Retry.ConnectTimeoutSeconds = 15;
    control.Retry.StallSeconds = 30;
    const Status status = tester(options, control);
    post([status, target = ToQt(RemoteTargetText(options))](COffsitePage& page) {
      page.ShowTestResult(status, target);
    });
  }).detach();
}

void COffsitePage::ShowTestResult(const Status& status, const QString& target) {
  m_testing = false;
  UpdateEnabled();
  m_result->setText(status.ok() ? tr("The target works: %1 took, listed, returned and deleted a "
                                     "test object.")
                                      .arg(target)
                                : ToQt(status.message()));
  emit testFinished();
}

}  // namespace brevanto::wizard
