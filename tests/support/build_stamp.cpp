#include "tests/support/build_stamp.h"

#include <cstring>

bool isBuildStamp(const std::string& s) {
  const char* shape = "Aaa _9 9999 99:99:99";
  if (s.size() != std::strlen(shape)) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    switch (shape[i]) {
      case 'A':
        if (c < 'A' || c > 'Z') return false;
        break;
      case 'a':
        if (c < 'a' || c > 'z') return false;
        break;
      case '9':
        if (c < '0' || c > '9') return false;
        break;
      case '_':
        if (c != ' ' && (c < '1' || c > '3')) return false;
        break;
      default:
        if (c != shape[i]) return false;
    }
  }
  return true;
}
