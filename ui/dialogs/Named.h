#pragma once
// Small pieces the settings dialogs share: object names for tests, and a row of buttons.

#include <initializer_list>
#include <utility>
#include <vector>

#include <QHBoxLayout>
#include <QPushButton>
#include <QString>

namespace brevanto::ui {

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// A right-aligned row of named buttons, in order; the first is the default button.
inline QHBoxLayout* ButtonRow(QWidget* parent,
                              std::initializer_list<std::pair<QString, const char*>> buttons,
                              std::vector<QPushButton*>& made) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (const auto& [text, name] : buttons) {
    made.push_back(Named(new QPushButton(text, parent), name));
    row->addWidget(made.back());
  }
  if (!made.empty()) made.front()->setDefault(true);
  return row;
}

}  // namespace brevanto::ui
