// The current time as the user has Windows write it (the long time format of the user's locale:
// "10:13:20 AM" in the United States, "10:13:20" in Germany). Read anew at every call, so a
// change in the regional settings shows at the next clock tick.
#ifndef QUENVALE_PLATFORM_WIN32_USER_TIME_H_
#define QUENVALE_PLATFORM_WIN32_USER_TIME_H_

#include <string>

namespace quenvale {

// Empty when Windows cannot format the time.
std::string UserLongTimeText();

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_USER_TIME_H_
