#include "ui/dialogs/HotKeyEdit.h"

#include <QKeyEvent>

namespace brevanto::ui {

namespace {

struct KeyName {
  int qtKey;
  std::uint16_t virtualKey;
  const char* name;
};

// Keys outside the letter, digit and function-key ranges.
constexpr KeyName kKeys[] = {
    {Qt::Key_Backspace, 0x08, "Backspace"},
    {Qt::Key_Tab, 0x09, "Tab"},
    {Qt::Key_Return, 0x0D, "Enter"},
    {Qt::Key_Enter, 0x0D, "Enter"},
    {Qt::Key_Pause, 0x13, "Pause"},
    {Qt::Key_Escape, 0x1B, "Esc"},
    {Qt::Key_Space, 0x20, "Space"},
    {Qt::Key_PageUp, 0x21, "Page Up"},
    {Qt::Key_PageDown, 0x22, "Page Down"},
    {Qt::Key_End, 0x23, "End"},
    {Qt::Key_Home, 0x24, "Home"},
    {Qt::Key_Left, 0x25, "Left"},
    {Qt::Key_Up, 0x26, "Up"},
    {Qt::Key_Right, 0x27, "Right"},
    {Qt::Key_Down, 0x28, "Down"},
    {Qt::Key_Insert, 0x2D, "Insert"},
    {Qt::Key_Delete, 0x2E, "Delete"},
    {Qt::Key_ScrollLock, 0x91, "Scroll Lock"},
    {Qt::Key_Semicolon, 0xBA, ";"},
    {Qt::Key_Equal, 0xBB, "="},
    {Qt::Key_Comma, 0xBC, ","},
    {Qt::Key_Minus, 0xBD, "-"},
    {Qt::Key_Period, 0xBE, "."},
    {Qt::Key_Slash, 0xBF, "/"},
    {Qt::Key_QuoteLeft, 0xC0, "`"},
    {Qt::Key_BracketLeft, 0xDB, "["},
    {Qt::Key_Backslash, 0xDC, "\\"},
    {Qt::Key_BracketRight, 0xDD, "]"},
    {Qt::Key_Apostrophe, 0xDE, "'"},
};

constexpr KeyName kKeypadKeys[] = {
    {Qt::Key_Asterisk, 0x6A, "Num *"}, {Qt::Key_Plus, 0x6B, "Num +"},
    {Qt::Key_Minus, 0x6D, "Num -"},    {Qt::Key_Period, 0x6E, "Num Del"},
    {Qt::Key_Slash, 0x6F, "Num /"},
};

bool IsModifierKey(int key) {
  return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
         key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_Super_L ||
         key == Qt::Key_Super_R;
}

std::uint16_t FlagsFromQt(Qt::KeyboardModifiers modifiers) {
  std::uint16_t flags = 0;
  if (modifiers & Qt::ShiftModifier) flags |= 1;
  if (modifiers & Qt::ControlModifier) flags |= 2;
  if (modifiers & Qt::AltModifier) flags |= 4;
  if (modifiers & Qt::MetaModifier) flags |= 8;
  return flags;
}

QString ModifierText(std::uint16_t flags) {
  QString text;
  if (flags & 2) text += QStringLiteral("Ctrl + ");
  if (flags & 1) text += QStringLiteral("Shift + ");
  if (flags & 4) text += QStringLiteral("Alt + ");
  if (flags & 8) text += QStringLiteral("Meta + ");
  return text;
}

}  // namespace

std::uint16_t VirtualKeyFromQt(int qtKey, bool keypad) {
  if (keypad) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
      return static_cast<std::uint16_t>(0x60 + (qtKey - Qt::Key_0));
    }
    for (const KeyName& k : kKeypadKeys) {
      if (k.qtKey == qtKey) return k.virtualKey;
    }
  }
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<std::uint16_t>(qtKey);
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return static_cast<std::uint16_t>(qtKey);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
    return static_cast<std::uint16_t>(0x70 + (qtKey - Qt::Key_F1));
  }
  for (const KeyName& k : kKeys) {
    if (k.qtKey == qtKey) return k.virtualKey;
  }
  return 0;
}

QString HotKeyText(std::uint16_t vk, std::uint16_t flags) {
  if (vk == 0) return flags == 0 ? QStringLiteral("None") : ModifierText(flags);
  QString key;
  if ((vk >= 0x41 && vk <= 0x5A) || (vk >= 0x30 && vk <= 0x39)) {
    key = QChar(vk);
  } else if (vk >= 0x70 && vk <= 0x87) {
    key = QStringLiteral("F%1").arg(vk - 0x70 + 1);
  } else if (vk >= 0x60 && vk <= 0x69) {
    key = QStringLiteral("Num %1").arg(vk - 0x60);
  } else {
    for (const KeyName& k : kKeypadKeys) {
      if (k.virtualKey == vk) key = QString::fromLatin1(k.name);
    }
    for (const KeyName& k : kKeys) {
      if (key.isEmpty() && k.virtualKey == vk) key = QString::fromLatin1(k.name);
    }
    if (key.isEmpty()) key = QStringLiteral("0x%1").arg(vk, 2, 16, QLatin1Char('0'));
  }
  return ModifierText(flags) + key;
}

CHotKeyEdit::CHotKeyEdit(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setContextMenuPolicy(Qt::NoContextMenu);
  setText(HotKeyText(0, 0));
}

void CHotKeyEdit::SetHotKey(std::uint16_t virtualKey, std::uint16_t modifierFlags) {
  m_virtualKey = virtualKey;
  m_modifiers = virtualKey == 0 ? 0 : modifierFlags;
  setText(HotKeyText(m_virtualKey, m_modifiers));
}

// Tab and Backtab with Ctrl or Alt held belong to the key; alone (or with Shift) they move
// on to the next field, so the keyboard can leave the field.
bool CHotKeyEdit::event(QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(e);
    const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      keyPressEvent(key);
      return true;
    }
  }
  return QLineEdit::event(e);
}

void CHotKeyEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const std::uint16_t flags = FlagsFromQt(event->modifiers());
  if (IsModifierKey(key)) {
    setText(HotKeyText(0, flags));  // show the modifiers held so far
    return;
  }
  // Escape alone is left to the dialog (it closes it); Backspace and Delete clear the key.
  if (flags == 0 && key == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  if (flags == 0 && (key == Qt::Key_Backspace || key == Qt::Key_Delete)) {
    SetHotKey(0, 0);
    return;
  }
  const std::uint16_t vk = VirtualKeyFromQt(key == Qt::Key_Backtab ? int(Qt::Key_Tab) : key,
                                            (event->modifiers() & Qt::KeypadModifier) != 0);
  if (vk != 0) SetHotKey(vk, flags);
}

void CHotKeyEdit::keyReleaseEvent(QKeyEvent* event) {
  // Modifiers let go without a key: back to the stored combination.
  if (IsModifierKey(event->key())) setText(HotKeyText(m_virtualKey, m_modifiers));
}

}  // namespace brevanto::ui
