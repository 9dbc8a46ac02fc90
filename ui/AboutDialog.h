#pragma once
// The About box: program name and version, and links to the web site, the support
// e-mail address and the maker's site.

#include <QDialog>

namespace brevanto::ui {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace brevanto::ui
