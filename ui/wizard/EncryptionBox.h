#pragma once
// CEncryptionBox: the age public keys a backup or export is encrypted to (the task's
// "Encryption" section). An empty list means plain files. Keys are pasted, read from a
// file, or made here as a new key pair whose identity is saved to a file the user picks.

#include <QStringList>
#include <QWidget>

#include "core/Status.h"

class QLabel;
class QLineEdit;
class QListWidget;

namespace brevanto {
class Clock;
struct CTaskItem;
}  // namespace brevanto

namespace brevanto::wizard {

class CEncryptionBox : public QWidget {
  Q_OBJECT

 public:
  CEncryptionBox(QWidget* parent, Clock& clock);
  void Load(const CTaskItem& task);
  // Takes a key still typed in the field; false (after saying why) when it is not a key.
  bool Commit();
  // Stores the list, keeping the task's identity file.
  void Store(CTaskItem& task) const;
  QStringList Recipients() const;

  // Adds the key of `text`: "age1...", or the text of a file holding one (a bare line, an
  // identity file's "# public key:" line, or its secret key). The parser's message otherwise.
  Status AddRecipientText(const QString& text);
  // Writes a new identity to `path` (owner-only, never over an existing file) and lists
  // its public key.
  Status GenerateKeyPair(const QString& path);

 private:
  void AddTyped();
  void AddFromFile();
  void Generate();
  void UpdateNote();

  Clock& m_clock;
  QLineEdit* m_key;
  QListWidget* m_list;
  QLabel* m_note;
};

// "Encryption: none" or one line naming the keys, for the properties sheet.
QString EncryptionSummary(const CTaskItem& task);

}  // namespace brevanto::wizard
