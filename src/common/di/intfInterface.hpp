#pragma once
// Interface identity: every component is reached through an interface that
// derives from IInterface and carries its GUID as `static constexpr TGUID IID`.
// Reference counting is std::shared_ptr; "query interface" is a dynamic cast.

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace courio {

struct TGUID {
  std::array<uint8_t, 16> bytes{};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at compile time.
  static constexpr TGUID Parse(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
      throw std::invalid_argument("GUID must be 38 characters in braces");
    TGUID g;
    size_t b = 0;
    for (size_t i = 1; i < 37;) {
      if (text[i] == '-') {
        ++i;
        continue;
      }
      g.bytes[b++] = static_cast<uint8_t>(Nibble(text[i]) << 4 | Nibble(text[i + 1]));
      i += 2;
    }
    if (b != 16) throw std::invalid_argument("GUID must hold 16 bytes");
    return g;
  }

  // The usual 38-character form: braces, upper-case hex, 8-4-4-4-12 groups.
  std::string ToString() const;

  constexpr bool operator==(const TGUID&) const = default;

 private:
  static constexpr uint8_t Nibble(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    throw std::invalid_argument("GUID holds a non-hex digit");
  }
};

// The base of every component interface. Interfaces derive from it virtually
// so an object implementing several interfaces still has one IInterface.
class IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00000000-0000-0000-C000-000000000046}");
  virtual ~IInterface() = default;
};

using IInterfacePtr = std::shared_ptr<IInterface>;

}  // namespace courio
