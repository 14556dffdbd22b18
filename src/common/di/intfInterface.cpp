#include "common/di/intfInterface.hpp"

namespace courio {

std::string TGUID::ToString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s = "{";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    s += kHex[bytes[i] >> 4];
    s += kHex[bytes[i] & 0xF];
  }
  s += '}';
  return s;
}

}  // namespace courio
