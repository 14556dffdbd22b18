#include "console/ViewRenderer.hpp"

#include <fstream>
#include <iterator>
#include <kainjow/mustache.hpp>
#include <stdexcept>

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

namespace mustache = kainjow::mustache;

mustache::data ToMustache(const TJson& value) {
  switch (value.type()) {
    case TJson::value_t::object: {
      mustache::data out(mustache::data::type::object);
      for (const auto& [key, member] : value.items()) out.set(key, ToMustache(member));
      return out;
    }
    case TJson::value_t::array: {
      mustache::data out(mustache::data::type::list);
      for (const auto& element : value) out.push_back(ToMustache(element));
      return out;
    }
    case TJson::value_t::string:
      return mustache::data(value.get<std::string>());
    case TJson::value_t::null:
    case TJson::value_t::discarded:
      return mustache::data(false);
    default:  // numbers in decimal, booleans as true/false
      return mustache::data(JsonAsText(value));
  }
}

// UTF-16 code units (little or big endian) to UTF-8; unpaired surrogates
// become U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  auto unit = [&](size_t i) -> uint32_t {
    auto b0 = static_cast<unsigned char>(bytes[i]), b1 = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ReadTemplateFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return "";
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return bytes.substr(3);
  if (bytes.rfind("\xFF\xFE", 0) == 0) return Utf16ToUtf8(std::string_view(bytes).substr(2), false);
  if (bytes.rfind("\xFE\xFF", 0) == 0) return Utf16ToUtf8(std::string_view(bytes).substr(2), true);
  return bytes;
}

std::string RenderTemplate(const std::string& templateText, const TJson& data, const std::string& what) {
  mustache::mustache view(templateText);
  if (!view.is_valid()) throw std::runtime_error("Template " + what + " cannot be read: " + view.error_message());
  std::string html = view.render(ToMustache(data));
  if (!view.is_valid()) throw std::runtime_error("Template " + what + " cannot be rendered: " + view.error_message());
  return html;
}

}  // namespace courio
