#include "ui/wizard/ExportFilePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "appcore/ApplicationCore.h"
#include "appcore/TaskRules.h"
#include "appcore/WizardText.h"
#include "engines/CompressedOutput.h"
#include "tasks/AdvancedOptions.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/wizard/AdvancedOptionsDialog.h"
#include "ui/wizard/BackupFilePage.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;


CExportFilePage::CExportFilePage(CSheetContext& context)
    : CTaskPage(context, tr("Export File")),
      m_type(new QComboBox(this)),
      m_folder(new QLineEdit(this)),
      m_example(new QLineEdit(this)),
      m_terminated(new QLineEdit(this)),
      m_enclosed(new QLineEdit(this)),
      m_escaped(new QLineEdit(this)),
      m_lines(new QLineEdit(this)),
      m_columnNames(new QCheckBox(tr("Add Column Names On Top"), this)) {
  setObjectName(QStringLiteral("exportFilePage"));
  m_type->setObjectName(QStringLiteral("fileTypeCombo"));
  m_folder->setObjectName(QStringLiteral("directoryEdit"));
  m_example->setObjectName(QStringLiteral("fileNameExample"));
  m_example->setReadOnly(true);
  m_terminated->setObjectName(QStringLiteral("fieldsTerminatedEdit"));
  m_enclosed->setObjectName(QStringLiteral("fieldsEnclosedEdit"));
  m_escaped->setObjectName(QStringLiteral("fieldsEscapedEdit"));
  m_lines->setObjectName(QStringLiteral("linesTerminatedEdit"));
  m_columnNames->setObjectName(QStringLiteral("columnNamesCheck"));
  m_type->addItems({QStringLiteral("  CSV Files  "), QStringLiteral("  XML Files  "),
                    QStringLiteral("  HTML Files  "), QStringLiteral("  TEXT Files  ")});
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(tr("File Type"), m_type);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(m_folder, 1);
  auto* browse = new QPushButton(tr("&Folder..."), this);
  folderRow->addWidget(browse);
  form->addRow(tr("Directory"), folderRow);
  form->addRow(tr("File Name"), m_example);
  layout->addLayout(form);
  auto* group = new QGroupBox(tr("CSV and TEXT File Format"), this);
  auto* formatForm = new QFormLayout(group);
  formatForm->addRow(tr("Fields Terminated By"), m_terminated);
  formatForm->addRow(tr("Fields Enclosed By"), m_enclosed);
  formatForm->addRow(tr("Fields Escaped By"), m_escaped);
  formatForm->addRow(tr("Lines Terminated By"), m_lines);
  formatForm->addRow(m_columnNames);
  layout->addWidget(group);
  auto* options = new QPushButton(tr("Advanced Options..."), this);
  options->setObjectName(QStringLiteral("advancedOptionsButton"));
  connect(options, &QPushButton::clicked, this, [this] {
    CAdvancedOptionsDialog dialog(this, Task(),
                                  Context().Core ? &Context().Core->GetClock() : nullptr);
    if (dialog.exec() == QDialog::Accepted) ChooseExample();
  });
  auto* optionsRow = new QHBoxLayout;
  optionsRow->addStretch();
  optionsRow->addWidget(options);
  layout->addLayout(optionsRow);
  layout->addStretch();
  connect(m_type, &QComboBox::activated, this, &CExportFilePage::ChooseType);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = ChooseFolder(
        this, tr("Please select a folder where you want to store the files:"), m_folder->text());
    if (!folder.isEmpty()) m_folder->setText(folder.endsWith('/') ? folder : folder + '/');
  });
}

void CExportFilePage::ChooseExample() {
  static const char* const kExamples[] = {"Tablename.csv", "Tablename.xml", "Tablename.html",
                                          "Tablename.txt"};
  const int index = m_type->currentIndex();
  if (index < 0 || index > 3) return;
  // A compressed export adds the compressor's suffix to every name.
  const Compression compression = AdvancedOptionsOf(Task()).Compression;
  m_example->setText(QString::fromLatin1(kExamples[index]) +
                     QString::fromLatin1(CompressedFileSuffix(compression)));
}

void CExportFilePage::ChooseType(int index) {
  if (index < 0 || index > 3) return;
  ChooseExample();
  const bool delimited = index == 0 || index == 3;
  m_terminated->setText(index == 0   ? QStringLiteral(",")
                        : index == 3 ? QStringLiteral("\\t")
                                     : QString());
  m_enclosed->setText(index == 0 ? QStringLiteral("\"") : QString());
  m_escaped->setText(delimited ? QStringLiteral("\\\\") : QString());
  m_lines->setText(delimited ? QStringLiteral("\\r\\n") : QString());
  for (QWidget* field : std::initializer_list<QWidget*>{m_terminated, m_enclosed, m_escaped,
                                                        m_lines, m_columnNames}) {
    field->setEnabled(delimited);
  }
  if (!delimited) m_columnNames->setChecked(false);
}

void CExportFilePage::Load() {
  const ExportSettings& e = Task().ExportSettings;
  const int index = e.Format >= 1 && e.Format <= 4 ? e.Format - 1 : 0;
  m_type->setCurrentIndex(index);
  ChooseType(index);
  // A task that has its format keeps it; a new one starts from the type's defaults.
  if (!e.Folder.empty()) {
    m_terminated->setText(ToQt(EncodeEscapes(e.FieldsTerminatedBy)));
    m_enclosed->setText(ToQt(EncodeEscapes(e.FieldsEnclosedBy)));
    m_escaped->setText(ToQt(EncodeEscapes(e.FieldsEscapedBy)));
    m_lines->setText(ToQt(EncodeEscapes(e.LinesTerminatedBy)));
    m_columnNames->setChecked(e.AddColumnNamesOnTop != 0);
  }
  m_folder->setText(ToQt(e.Folder.empty()
                             ? DefaultTaskFolder(OptionsBackupFolder(Context()), Task().TaskName)
                             : e.Folder));
}

bool CExportFilePage::Leave() {
  std::string folder = FromQt(m_folder->text());
  ExportSettings entered;
  entered.Format = static_cast<std::uint8_t>(m_type->currentIndex() + 1);
  entered.Folder = folder;
  if (const std::string problem = ValidateExportFile(entered); !problem.empty()) {
    ui::Dialogs::Warning(this, tr(problem.c_str()));
    (m_type->currentIndex() < 0 ? static_cast<QWidget*>(m_type) : m_folder)->setFocus();
    return false;
  }
  if (folder.back() != '/') folder += '/';
  ExportSettings& e = Task().ExportSettings;
  e.Format = static_cast<std::uint8_t>(m_type->currentIndex() + 1);
  e.Folder = folder;
  e.FieldsTerminatedBy = DecodeEscapes(FromQt(m_terminated->text()));
  e.FieldsEnclosedBy = DecodeEscapes(FromQt(m_enclosed->text()));
  e.FieldsEscapedBy = DecodeEscapes(FromQt(m_escaped->text()));
  e.LinesTerminatedBy = DecodeEscapes(FromQt(m_lines->text()));
  e.AddColumnNamesOnTop = m_columnNames->isChecked() ? 1 : 0;
  return true;
}

}  // namespace brevanto::wizard
