#include "ui/GlobalHotKey.h"

#include <array>

#include <QGuiApplication>

#ifdef BREVANTO_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace brevanto::ui {

std::uint32_t KeySymForVirtualKey(std::uint16_t vk) {
  if (vk >= '0' && vk <= '9') return vk;                       // XK_0..XK_9
  if (vk >= 'A' && vk <= 'Z') return vk + ('a' - 'A');         // XK_a..XK_z
  if (vk >= 0x70 && vk <= 0x87) return 0xffbe + (vk - 0x70u);  // F1..F24
  if (vk >= 0x60 && vk <= 0x69) return 0xffb0 + (vk - 0x60u);  // keypad 0..9
  struct Pair {
    std::uint16_t vk;
    std::uint32_t keysym;
  };
  static constexpr std::array<Pair, 33> kKeys = {{
      {0x08, 0xff08}, {0x09, 0xff09}, {0x0D, 0xff0d}, {0x13, 0xff13}, {0x1B, 0xff1b},
      {0x20, 0x0020}, {0x21, 0xff55}, {0x22, 0xff56}, {0x23, 0xff57}, {0x24, 0xff50},
      {0x25, 0xff51}, {0x26, 0xff52}, {0x27, 0xff53}, {0x28, 0xff54}, {0x2D, 0xff63},
      {0x2E, 0xffff}, {0x6A, 0xffaa}, {0x6B, 0xffab}, {0x6D, 0xffad}, {0x6E, 0xffae},
      {0x6F, 0xffaf}, {0x91, 0xff14}, {0xBA, 0x003b}, {0xBB, 0x003d}, {0xBC, 0x002c},
      {0xBD, 0x002d}, {0xBE, 0x002e}, {0xBF, 0x002f}, {0xC0, 0x0060}, {0xDB, 0x005b},
      {0xDC, 0x005c}, {0xDD, 0x005d}, {0xDE, 0x0027},
  }};
  for (const Pair& p : kKeys) {
    if (p.vk == vk) return p.keysym;
  }
  return 0;
}

#ifdef BREVANTO_HAVE_XCB

namespace {

xcb_connection_t* X11Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

xcb_window_t RootWindow(xcb_connection_t* connection) {
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  return screen ? screen->root : 0;
}

std::uint8_t KeyCodeFor(xcb_connection_t* connection, std::uint32_t keysym) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
      connection,
      xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)),
      nullptr);
  if (reply == nullptr) return 0;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
  const int perCode = reply->keysyms_per_keycode;
  std::uint8_t found = 0;
  for (int code = 0; code < count && found == 0; ++code) {
    for (int i = 0; i < perCode; ++i) {
      if (syms[code * perCode + i] == keysym) {
        found = static_cast<std::uint8_t>(setup->min_keycode + code);
        break;
      }
    }
  }
  free(reply);
  return found;
}

std::uint16_t X11Modifiers(std::uint16_t flags) {
  std::uint16_t mods = 0;
  if (flags & 1) mods |= XCB_MOD_MASK_SHIFT;
  if (flags & 2) mods |= XCB_MOD_MASK_CONTROL;
  if (flags & 4) mods |= XCB_MOD_MASK_1;  // Alt
  if (flags & 8) mods |= XCB_MOD_MASK_4;  // Super
  return mods;
}

// The key should work whatever the state of Caps Lock and Num Lock, so every combination
// of the two is grabbed.
constexpr std::array<std::uint16_t, 4> kLockCombinations = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                            XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

}  // namespace

GlobalHotKey::GlobalHotKey(QObject* parent) : QObject(parent) {}

GlobalHotKey::~GlobalHotKey() {
  Unregister();
  if (m_filtering && qApp) qApp->removeNativeEventFilter(this);
}

bool GlobalHotKey::Register(std::uint16_t virtualKey, std::uint16_t modifierFlags) {
  Unregister();
  xcb_connection_t* connection = X11Connection();
  const std::uint32_t keysym = KeySymForVirtualKey(virtualKey);
  if (connection == nullptr || keysym == 0) return false;
  const std::uint8_t keyCode = KeyCodeFor(connection, keysym);
  const xcb_window_t root = RootWindow(connection);
  if (keyCode == 0 || root == 0) return false;
  const std::uint16_t mods = X11Modifiers(modifierFlags);
  bool grabbed = true;
  for (std::uint16_t lock : kLockCombinations) {
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_grab_key_checked(connection, 1, root, mods | lock, keyCode,
                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (error != nullptr) {
      grabbed = false;
      free(error);
    }
  }
  m_keyCode = keyCode;
  m_modifiers = mods;
  if (!grabbed) {
    Unregister();
    return false;
  }
  if (!m_filtering) {
    qApp->installNativeEventFilter(this);
    m_filtering = true;
  }
  return true;
}

void GlobalHotKey::Unregister() {
  if (m_keyCode == 0) return;
  if (xcb_connection_t* connection = X11Connection()) {
    const xcb_window_t root = RootWindow(connection);
    for (std::uint16_t lock : kLockCombinations) {
      xcb_ungrab_key(connection, m_keyCode, root, m_modifiers | lock);
    }
    xcb_flush(connection);
  }
  m_keyCode = 0;
  m_modifiers = 0;
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (m_keyCode == 0 || eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
  const auto* key = static_cast<const xcb_key_press_event_t*>(message);
  const std::uint16_t state = key->state & ~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
  if (key->detail != m_keyCode || state != m_modifiers) return false;
  emit pressed();
  return true;
}

#else  // no xcb at build time: the key is never registered

GlobalHotKey::GlobalHotKey(QObject* parent) : QObject(parent) {}
GlobalHotKey::~GlobalHotKey() = default;
bool GlobalHotKey::Register(std::uint16_t, std::uint16_t) {
  return false;
}
void GlobalHotKey::Unregister() {
  m_keyCode = 0;
}
bool GlobalHotKey::nativeEventFilter(const QByteArray&, void*, qintptr*) {
  return false;
}

#endif

}  // namespace brevanto::ui
