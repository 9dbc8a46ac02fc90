#pragma once
// CTipOfTheDayDlg: "Tip of the Day". It opens on the tip after the last one shown, pages
// through the tips in a ring and, when closed, remembers the tip and the show-at-start
// choice in the options. GUI thread only.

#include <string>

#include <QDialog>

class QCheckBox;
class QLabel;

namespace brevanto::ui {

// The number of tips, and the text of one (index 0..count-1).
int TipCount();
std::string TipText(int index);

class CTipOfTheDayDlg : public QDialog {
  Q_OBJECT

 public:
  // Opens on the tip after `lastTipIndex` (wrapping), with the check box `showAtStart`.
  CTipOfTheDayDlg(int lastTipIndex, bool showAtStart, QWidget* parent = nullptr);

  int CurrentIndex() const { return m_index; }
  bool ShowAtStart() const { return m_showAtStart; }

  void NextTip();
  void PreviousTip();

 private:
  void ShowTip(int index);
  void ReadCheckBox();

  int m_index = 0;
  bool m_showAtStart;
  QLabel* m_tip;
  QLabel* m_counter;
  QCheckBox* m_check;
};

}  // namespace brevanto::ui
