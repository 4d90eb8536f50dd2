#include <cstdio>

#include "common/strings.h"
#include "saverpack/saverpack.h"

namespace saverpack {

std::string JsonString(const std::string& cp1252) {
  std::string out = "\"";
  for (unsigned char c : cp1252) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          quenvale::AppendUtf8(quenvale::Cp1252CodePoint(c), &out);
        }
    }
  }
  return out + "\"";
}

}  // namespace saverpack
