#include "cloud/PasswordHash.hpp"

#include <openssl/evp.h>

#include <stdexcept>

#include "common/util/StrUtils.hpp"

namespace courio {

std::string PasswordHash(std::string_view password) {
  std::string lowered(password);
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(lowered.data(), lowered.size(), digest, &size, EVP_md5(), nullptr) != 1 || size != 16)
    throw std::runtime_error("MD5 digest is not available");
  return HexLower(digest, size);
}

}  // namespace courio
