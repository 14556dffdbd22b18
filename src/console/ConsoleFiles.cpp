#include "console/ConsoleFiles.hpp"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace courio {

int InstallConsoleFiles(const std::string& fromFolder, const std::string& homeFolder) {
  std::error_code ec;
  fs::path from = fs::path(fromFolder) / "HTTP";
  fs::path to = fs::path(homeFolder) / "HTTP";
  if (!fs::is_directory(from, ec)) {
    std::fprintf(stderr, "No console files in %s: the admin console will show empty pages\n", from.c_str());
    return 0;
  }
  if (fs::equivalent(from, to, ec)) return 0;
  fs::create_directories(to, ec);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::update_existing, ec);
  if (ec) {
    std::fprintf(stderr, "Could not copy the console files to %s: %s\n", to.c_str(), ec.message().c_str());
    return 1;
  }
  std::printf("Console files in %s\n", to.c_str());
  return 0;
}

}  // namespace courio
