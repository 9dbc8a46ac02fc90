#pragma once
// A digits-only text field with up/down arrows, as the settings dialogs use for ports and
// sizes. The text stays free (it may be empty or out of range) so that the dialog's own
// check on OK says what is wrong; the arrows step within [minimum, maximum].

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace brevanto::ui {

class CSpinEdit : public QWidget {
  Q_OBJECT

 public:
  CSpinEdit(int minimum, int maximum, int maxLength, QWidget* parent = nullptr);

  QLineEdit* Edit() const { return m_edit; }
  QString text() const;
  void setText(const QString& text);
  // Steps the value by `delta`, clamped to the range; an empty or unreadable text starts
  // from the minimum.
  void Step(int delta);

 protected:
  // The Up and Down keys in the field step like the arrows.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* m_edit;
  QToolButton* m_up;
  QToolButton* m_down;
  int m_minimum;
  int m_maximum;
};

}  // namespace brevanto::ui
