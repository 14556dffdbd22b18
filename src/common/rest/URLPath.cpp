#include "common/rest/URLPath.hpp"

namespace courio {
namespace {
constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string& out, unsigned char c) {
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

bool IsAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}  // namespace

IURLPath& TURLPath::SetBase(const std::string& base) {
  path_ = base;
  return *this;
}

IURLPath& TURLPath::AddSegment(const std::string& segment) {
  if (segment.empty()) return *this;
  bool pathSlash = !path_.empty() && path_.back() == '/';
  bool segmentSlash = segment.front() == '/';
  if (pathSlash && segmentSlash) {
    path_.append(segment, 1, std::string::npos);
  } else if (pathSlash || segmentSlash) {
    path_ += segment;
  } else {
    path_ += '/';
    path_ += segment;
  }
  return *this;
}

IURLPath& TURLPath::AddSegments(const std::vector<std::string>& segments) {
  for (const auto& s : segments) AddSegment(s);
  return *this;
}

IURLPath& TURLPath::AddParams(const std::vector<std::string>& params) {
  for (const auto& p : params) query_ += p + "&";
  if (!query_.empty()) query_.pop_back();
  return *this;
}

std::string TURLPath::GetURL() const {
  std::string url = URLEncodePath(path_);
  if (!query_.empty()) url += "?" + query_;
  return url;
}

std::string URLEncodePath(std::string_view text, bool keepQueryChars) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    bool keep = IsAlnum(c);
    switch (c) {
      case '$': case '(': case ')': case '*': case ',': case '-': case '.': case '/':
      case ':': case '@': case '_':
        keep = true;
        break;
      case '&': case ';': case '=': case '?':
        keep = keepQueryChars;
        break;
      default:
        break;
    }
    if (keep)
      out += ch;
    else
      AppendEscaped(out, c);
  }
  return out;
}

std::string URLEncodeForm(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (IsAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~')
      out += ch;
    else if (c == ' ')
      out += '+';
    else
      AppendEscaped(out, c);
  }
  return out;
}

}  // namespace courio
