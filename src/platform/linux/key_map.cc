#include "platform/linux/key_map.h"

#include "saver/saver.h"

namespace quenvale {

namespace {

// Windows codes the saver's own table does not name.
constexpr uint16_t kVkBack = 0x08;
constexpr uint16_t kVkTab = 0x09;
constexpr uint16_t kVkClear = 0x0C;
constexpr uint16_t kVkReturn = 0x0D;
constexpr uint16_t kVkShift = 0x10;
constexpr uint16_t kVkControl = 0x11;
constexpr uint16_t kVkMenu = 0x12;
constexpr uint16_t kVkPause = 0x13;
constexpr uint16_t kVkCapital = 0x14;
constexpr uint16_t kVkSpace = 0x20;
constexpr uint16_t kVkPrior = 0x21;
constexpr uint16_t kVkNext = 0x22;
constexpr uint16_t kVkEnd = 0x23;
constexpr uint16_t kVkHome = 0x24;
constexpr uint16_t kVkSnapshot = 0x2C;
constexpr uint16_t kVkInsert = 0x2D;
constexpr uint16_t kVkDelete = 0x2E;
constexpr uint16_t kVkLwin = 0x5B;
constexpr uint16_t kVkRwin = 0x5C;
constexpr uint16_t kVkApps = 0x5D;
constexpr uint16_t kVkF1 = 0x70;
constexpr uint16_t kVkNumlock = 0x90;
constexpr uint16_t kVkScroll = 0x91;
constexpr uint16_t kVkOem1 = 0xBA;     // ;:
constexpr uint16_t kVkOemPlus = 0xBB;  // =+
constexpr uint16_t kVkOemComma = 0xBC;
constexpr uint16_t kVkOemMinus = 0xBD;
constexpr uint16_t kVkOemPeriod = 0xBE;
constexpr uint16_t kVkOem2 = 0xBF;  // /?
constexpr uint16_t kVkOem3 = 0xC0;  // `~
constexpr uint16_t kVkOem4 = 0xDB;  // [{
constexpr uint16_t kVkOem5 = 0xDC;  // backslash
constexpr uint16_t kVkOem6 = 0xDD;  // ]}
constexpr uint16_t kVkOem7 = 0xDE;  // '"

uint16_t KeypadKey(SDL_Scancode scancode) {
  switch (scancode) {
    case SDL_SCANCODE_KP_0:
      return kVkNumpad0;
    case SDL_SCANCODE_KP_1:
      return kVkNumpad1;
    case SDL_SCANCODE_KP_2:
      return kVkNumpad2;
    case SDL_SCANCODE_KP_3:
      return kVkNumpad3;
    case SDL_SCANCODE_KP_4:
      return kVkNumpad4;
    case SDL_SCANCODE_KP_5:
      return kVkNumpad5;
    case SDL_SCANCODE_KP_6:
      return kVkNumpad6;
    case SDL_SCANCODE_KP_7:
      return kVkNumpad7;
    case SDL_SCANCODE_KP_8:
      return kVkNumpad8;
    case SDL_SCANCODE_KP_9:
      return kVkNumpad9;
    case SDL_SCANCODE_KP_PLUS:
      return kVkAdd;
    case SDL_SCANCODE_KP_MINUS:
      return kVkSubtract;
    case SDL_SCANCODE_KP_MULTIPLY:
      return kVkMultiply;
    case SDL_SCANCODE_KP_DIVIDE:
      return kVkDivide;
    case SDL_SCANCODE_KP_PERIOD:
      return kVkDecimal;
    case SDL_SCANCODE_KP_COMMA:
      return kVkSeparator;
    case SDL_SCANCODE_KP_ENTER:
      return kVkReturn;
    default:
      return 0;
  }
}

}  // namespace

uint16_t VirtualKeyFor(SDL_Keycode key, SDL_Scancode scancode) {
  if (const uint16_t keypad = KeypadKey(scancode)) return keypad;
  if (key >= SDLK_a && key <= SDLK_z) return static_cast<uint16_t>('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return static_cast<uint16_t>('0' + (key - SDLK_0));
  if (key >= SDLK_F1 && key <= SDLK_F12) return static_cast<uint16_t>(kVkF1 + (key - SDLK_F1));
  if (key >= SDLK_F13 && key <= SDLK_F24) {
    return static_cast<uint16_t>(kVkF1 + 12 + (key - SDLK_F13));
  }
  switch (key) {
    case SDLK_LEFT:
      return kVkLeft;
    case SDLK_UP:
      return kVkUp;
    case SDLK_RIGHT:
      return kVkRight;
    case SDLK_DOWN:
      return kVkDown;
    case SDLK_BACKSPACE:
      return kVkBack;
    case SDLK_TAB:
      return kVkTab;
    case SDLK_CLEAR:
      return kVkClear;
    case SDLK_RETURN:
      return kVkReturn;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return kVkShift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return kVkControl;
    case SDLK_LALT:
    case SDLK_RALT:
      return kVkMenu;
    case SDLK_PAUSE:
      return kVkPause;
    case SDLK_CAPSLOCK:
      return kVkCapital;
    case SDLK_ESCAPE:
      return kVkEscape;
    case SDLK_SPACE:
      return kVkSpace;
    case SDLK_PAGEUP:
      return kVkPrior;
    case SDLK_PAGEDOWN:
      return kVkNext;
    case SDLK_END:
      return kVkEnd;
    case SDLK_HOME:
      return kVkHome;
    case SDLK_PRINTSCREEN:
      return kVkSnapshot;
    case SDLK_INSERT:
      return kVkInsert;
    case SDLK_DELETE:
      return kVkDelete;
    case SDLK_LGUI:
      return kVkLwin;
    case SDLK_RGUI:
      return kVkRwin;
    case SDLK_APPLICATION:
      return kVkApps;
    case SDLK_NUMLOCKCLEAR:
      return kVkNumlock;
    case SDLK_SCROLLLOCK:
      return kVkScroll;
    case SDLK_SEMICOLON:
      return kVkOem1;
    case SDLK_EQUALS:
      return kVkOemPlus;
    case SDLK_COMMA:
      return kVkOemComma;
    case SDLK_MINUS:
      return kVkOemMinus;
    case SDLK_PERIOD:
      return kVkOemPeriod;
    case SDLK_SLASH:
      return kVkOem2;
    case SDLK_BACKQUOTE:
      return kVkOem3;
    case SDLK_LEFTBRACKET:
      return kVkOem4;
    case SDLK_BACKSLASH:
      return kVkOem5;
    case SDLK_RIGHTBRACKET:
      return kVkOem6;
    case SDLK_QUOTE:
      return kVkOem7;
    default:
      return 0;
  }
}

}  // namespace quenvale
