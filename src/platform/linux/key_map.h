// SDL's keys onto the Windows virtual-key codes of the saver's key table.
#ifndef QUENVALE_PLATFORM_LINUX_KEY_MAP_H_
#define QUENVALE_PLATFORM_LINUX_KEY_MAP_H_

#include <SDL.h>

#include <cstdint>

namespace quenvale {

// Escape, which ends the saver in a normal window.
constexpr uint16_t kVkEscape = 0x1B;

// The virtual-key code Windows gives the same physical key. The keypad goes by scancode, so it
// means the same with Num Lock on or off; the rest by the key's symbol, so letters follow the
// keyboard layout as on Windows. Keys Windows has no code for give 0, which the saver's key
// table, like every code outside it, takes as a key that ends the saver.
uint16_t VirtualKeyFor(SDL_Keycode key, SDL_Scancode scancode);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_KEY_MAP_H_
