#include "platform/win32/user_time.h"

#include <windows.h>

namespace quenvale {

std::string UserLongTimeText() {
  char text[64] = "";
  if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, sizeof text) == 0) return "";
  return text;
}

}  // namespace quenvale
