#pragma once
// URL building for the REST transport: TURLPath joins a base URL with path
// segments and ready-encoded query parameters; URLEncodePath percent-encodes
// a path; URLEncodeForm form-encodes a query value.
//
// Thread-safety: a TURLPath is made per request and used by one thread.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/di/intfInterface.hpp"

namespace courio {

class IURLPath : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{B7EAB30A-D1D2-4140-A27B-D7EECBE04A32}");

  // The path becomes `base`.
  virtual IURLPath& SetBase(const std::string& base) = 0;
  // Joins a non-empty segment with exactly one "/" at the seam.
  virtual IURLPath& AddSegment(const std::string& segment) = 0;
  virtual IURLPath& AddSegments(const std::vector<std::string>& segments) = 0;
  // Appends "name=value" parameters (not encoded here), joined with "&".
  virtual IURLPath& AddParams(const std::vector<std::string>& params) = 0;
  // URLEncodePath(path), then "?" and the query when there is one.
  virtual std::string GetURL() const = 0;
};

class TURLPath final : public IURLPath {
 public:
  IURLPath& SetBase(const std::string& base) override;
  IURLPath& AddSegment(const std::string& segment) override;
  IURLPath& AddSegments(const std::vector<std::string>& segments) override;
  IURLPath& AddParams(const std::vector<std::string>& params) override;
  std::string GetURL() const override;

  const std::string& Path() const { return path_; }
  const std::string& Query() const { return query_; }

 private:
  std::string path_;   // scheme to last segment, not yet encoded
  std::string query_;  // parameters joined with "&", no leading "?"
};

// Percent-encodes every byte except $ ( ) * , - . / 0-9 : @ A-Z a-z _ as
// "%XX" (upper-case hex). With keepQueryChars, "&", ";", "=" and "?" are
// also kept.
std::string URLEncodePath(std::string_view text, bool keepQueryChars = false);

// Form encoding of a query value: letters, digits, "-", ".", "_" and "~"
// stay, a blank becomes "+", every other byte "%XX" (upper-case hex).
std::string URLEncodeForm(std::string_view text);

}  // namespace courio
