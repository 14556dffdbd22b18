#pragma once
// Masks secrets before a line reaches the log: passwords and password hashes
// in JSON ("password", "password_hash"), connection-string passwords
// ("PWD=", "Password="), and Authorization header values.

#include <string>
#include <string_view>

namespace courio {

std::string MaskSecrets(std::string_view text);

}  // namespace courio
