#pragma once
// The system-wide key that shows the main window: a key grab on the X11 root window.
// The options store the key as a virtual-key code with modifier flags (1 Shift, 2 Ctrl,
// 4 Alt, 8 Meta). Outside an X11 session registration fails silently. GUI thread only.

#include <cstdint>

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace brevanto::ui {

// The X keysym for a virtual-key code, or 0 when the key has no counterpart.
std::uint32_t KeySymForVirtualKey(std::uint16_t virtualKey);

class GlobalHotKey : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  explicit GlobalHotKey(QObject* parent = nullptr);
  ~GlobalHotKey() override;

  // Replaces any earlier registration. False when the key cannot be grabbed (no X11,
  // unknown key, or another program holds it).
  bool Register(std::uint16_t virtualKey, std::uint16_t modifierFlags);
  void Unregister();
  bool Registered() const { return m_keyCode != 0; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 signals:
  void pressed();

 private:
  std::uint8_t m_keyCode = 0;
  std::uint16_t m_modifiers = 0;
  bool m_filtering = false;
};

}  // namespace brevanto::ui
