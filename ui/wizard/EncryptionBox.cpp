#include "ui/wizard/EncryptionBox.h"

#include <sstream>

#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "core/Age.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/UtcTime.h"
#include "tasks/EncryptionOptions.h"
#include "tasks/TaskItem.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

namespace {

// The public key a text names: a line "age1...", an identity file's "# public key:" comment,
// or else the recipient of its secret key.
Status RecipientOfText(const std::string& text, AgeRecipient& recipient) {
  std::istringstream lines(text);
  std::string line;
  const std::string comment = "# public key:";
  while (std::getline(lines, line)) {
    std::string_view view(line);
    while (!view.empty() && (view.front() == ' ' || view.front() == '\t')) view.remove_prefix(1);
    if (view.starts_with(comment)) return ParseAgeRecipient(view.substr(comment.size()), recipient);
    if (view.starts_with("age1")) return ParseAgeRecipient(view, recipient);
  }
  std::vector<AgeIdentity> identities;
  if (text.find("AGE-SECRET-KEY-") != std::string::npos &&
      ParseAgeIdentityFile(text, std::string(), identities).ok() && !identities.empty()) {
    recipient = identities.front().Recipient();
    return Status::Ok();
  }
  return ParseAgeRecipient(text, recipient);  // its message says what is wrong
}

}  // namespace

CEncryptionBox::CEncryptionBox(QWidget* parent, Clock& clock)
    : QWidget(parent),
      m_clock(clock),
      m_key(new QLineEdit(this)),
      m_list(new QListWidget(this)),
      m_note(new QLabel(this)) {
  setObjectName(QStringLiteral("encryptionBox"));
  m_key->setObjectName(QStringLiteral("recipientEdit"));
  m_list->setObjectName(QStringLiteral("recipientsList"));
  m_key->setPlaceholderText(tr("Paste a public key (age1...)"));
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // A few keys at most: three rows keep the dialog within small screens.
  m_list->setMaximumHeight(m_list->fontMetrics().height() * 4 + 8);
  m_note->setWordWrap(true);
  auto* add = new QPushButton(tr("&Add"), this);
  auto* fromFile = new QPushButton(tr("From &File..."), this);
  auto* generate = new QPushButton(tr("&Generate Key Pair..."), this);
  auto* remove = new QPushButton(tr("Remo&ve"), this);
  add->setObjectName(QStringLiteral("addRecipientButton"));
  fromFile->setObjectName(QStringLiteral("recipientFromFileButton"));
  generate->setObjectName(QStringLiteral("generateKeyPairButton"));
  remove->setObjectName(QStringLiteral("removeRecipientButton"));
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_key, 0, 0);
  layout->addWidget(add, 0, 1);
  layout->addWidget(m_list, 1, 0, 3, 1);
  layout->addWidget(fromFile, 1, 1);
  layout->addWidget(generate, 2, 1);
  layout->addWidget(remove, 3, 1);
  layout->addWidget(m_note, 4, 0, 1, 2);
  connect(add, &QPushButton::clicked, this, &CEncryptionBox::AddTyped);
  connect(m_key, &QLineEdit::returnPressed, this, &CEncryptionBox::AddTyped);
  connect(fromFile, &QPushButton::clicked, this, &CEncryptionBox::AddFromFile);
  connect(generate, &QPushButton::clicked, this, &CEncryptionBox::Generate);
  connect(remove, &QPushButton::clicked, this, [this] {
    qDeleteAll(m_list->selectedItems());
    UpdateNote();
  });
  UpdateNote();
}

void CEncryptionBox::Load(const CTaskItem& task) {
  m_list->clear();
  for (const std::string& recipient : EncryptionOptionsOf(task).Recipients) {
    m_list->addItem(ToQt(recipient));
  }
  UpdateNote();
}

QStringList CEncryptionBox::Recipients() const {
  QStringList keys;
  for (int i = 0; i < m_list->count(); ++i) keys << m_list->item(i)->text();
  return keys;
}

void CEncryptionBox::Store(CTaskItem& task) const {
  EncryptionOptions options = EncryptionOptionsOf(task);
  options.Recipients.clear();
  for (const QString& key : Recipients()) options.Recipients.push_back(FromQt(key));
  SetEncryptionOptions(task, options);
}

Status CEncryptionBox::AddRecipientText(const QString& text) {
  AgeRecipient recipient;
  if (Status status = RecipientOfText(FromQt(text), recipient); !status.ok()) return status;
  const QString key = ToQt(recipient.Text());
  if (!Recipients().contains(key)) m_list->addItem(key);
  UpdateNote();
  return Status::Ok();
}

bool CEncryptionBox::Commit() {
  if (m_key->text().trimmed().isEmpty()) return true;
  const Status status = AddRecipientText(m_key->text());
  if (!status.ok()) {
    ui::Dialogs::Warning(this, ToQt(status.message()));
    m_key->setFocus();
    return false;
  }
  m_key->clear();
  return true;
}

void CEncryptionBox::AddTyped() {
  Commit();
}

void CEncryptionBox::AddFromFile() {
  const QString path =
      ui::Dialogs::OpenFileName(this, tr("Key Files (*.txt *.pub *.key);;All Files (*)"));
  if (path.isEmpty()) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ui::Dialogs::Warning(this, tr("%1 cannot be read: %2").arg(path, file.errorString()));
    return;
  }
  const Status status = AddRecipientText(QString::fromUtf8(file.read(64 * 1024)));
  if (!status.ok()) ui::Dialogs::Warning(this, ToQt(status.message()));
}

Status CEncryptionBox::GenerateKeyPair(const QString& path) {
  const AgeIdentity identity = GenerateAgeIdentity();
  const std::string text = AgeIdentityFileText(identity, UtcIso8601(m_clock.Now()));
  if (Status status = CreateFileExclusively(FromQt(path), text); !status.ok()) return status;
  m_list->addItem(ToQt(identity.Recipient().Text()));
  UpdateNote();
  return Status::Ok();
}

void CEncryptionBox::Generate() {
  const QString path =
      ui::Dialogs::SaveFileName(this, tr("Identity Files (*.txt);;All Files (*)"),
                                QStringLiteral("txt"), QStringLiteral("brevanto-identity.txt"));
  if (path.isEmpty()) return;
  const Status status = GenerateKeyPair(path);
  if (!status.ok()) {
    ui::Dialogs::Warning(this, ToQt(status.message()));
    return;
  }
  ui::Dialogs::Warning(
      this, tr("The secret key was saved to %1.\n\nKeep a copy of it in a safe place away from "
               "the backups: without it the encrypted files cannot be opened by anyone, and a "
               "lost identity means lost backups.")
                .arg(path));
}

void CEncryptionBox::UpdateNote() {
  m_note->setText(m_list->count() == 0
                      ? tr("No encryption: the files are written in plain.")
                      : tr("Files are encrypted; each identity of the keys listed opens them."));
}

QString EncryptionSummary(const CTaskItem& task) {
  const EncryptionOptions options = EncryptionOptionsOf(task);
  if (options.Recipients.empty()) return QObject::tr("Encryption: None");
  QStringList keys;
  for (const std::string& key : options.Recipients) keys << ToQt(key);
  return QObject::tr("Encryption: %1").arg(keys.join(QStringLiteral(", ")));
}

}  // namespace brevanto::wizard
