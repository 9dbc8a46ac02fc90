#pragma once
// The server pages of the database-to-database types: CSourceDatabasePage picks the
// source database and loads its tables; CDestDatabasePage picks an existing destination
// database or names a new one.

#include <functional>

#include <QComboBox>

#include "ui/wizard/ServerPage.h"

class QLineEdit;
class QRadioButton;

namespace brevanto::wizard {

// A drop-down that asks for its entries each time it is opened.
class CDatabaseCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit CDatabaseCombo(QWidget* parent) : QComboBox(parent) {}
  std::function<void()> BeforeOpen;
  void showPopup() override {
    if (BeforeOpen) BeforeOpen();
    QComboBox::showPopup();
  }
};

class CSourceDatabasePage : public CMySQLServerPage {
  Q_OBJECT

 public:
  explicit CSourceDatabasePage(CSheetContext& context)
      : CSourceDatabasePage(context, Role::Source) {}
  void Load() override;
  bool Leave() override;

 protected:
  // The destination page shares the server fields and the database listing.
  CSourceDatabasePage(CSheetContext& context, Role role);

  // Validates the fields, connects and lists the server's databases into `combo`.
  void FillDatabases(QComboBox* combo);

 private:
  CDatabaseCombo* m_database = nullptr;  // source page only
};

class CDestDatabasePage : public CSourceDatabasePage {
  Q_OBJECT

 public:
  explicit CDestDatabasePage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  void UpdateEnabled();

  QRadioButton* m_existing;
  CDatabaseCombo* m_existingName;
  QRadioButton* m_new;
  QLineEdit* m_newName;
};

}  // namespace brevanto::wizard
