#pragma once
// The password hash the cloud stores for a driver: 32 lower-case hex digits of
// the MD5 digest of the password after A-Z are lowered (no other byte
// changes). Throws std::runtime_error when the digest cannot be computed.

#include <string>
#include <string_view>

namespace courio {

std::string PasswordHash(std::string_view password);

}  // namespace courio
