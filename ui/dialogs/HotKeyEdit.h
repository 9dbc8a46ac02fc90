#pragma once
// CHotKeyEdit: the field that takes a key combination for the global hot key and keeps it
// as the options store it: a virtual-key code and modifier flags (1 Shift, 2 Ctrl, 4 Alt,
// 8 Meta). Backspace or Delete alone clear it; Tab and Escape alone are left to the dialog.
// GUI thread only.

#include <cstdint>

#include <QLineEdit>

namespace brevanto::ui {

// The virtual-key code of a Qt key (keypad keys when `keypad`), or 0 when the key has none.
std::uint16_t VirtualKeyFromQt(int qtKey, bool keypad);
// "Ctrl + Alt + M"; "None" when no key is set.
QString HotKeyText(std::uint16_t virtualKey, std::uint16_t modifierFlags);

class CHotKeyEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit CHotKeyEdit(QWidget* parent = nullptr);

  void SetHotKey(std::uint16_t virtualKey, std::uint16_t modifierFlags);
  std::uint16_t VirtualKey() const { return m_virtualKey; }
  std::uint16_t Modifiers() const { return m_modifiers; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  std::uint16_t m_virtualKey = 0;
  std::uint16_t m_modifiers = 0;
};

}  // namespace brevanto::ui
