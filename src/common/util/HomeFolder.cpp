#include "common/util/HomeFolder.hpp"

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace courio {
namespace {
std::mutex gHomeMutex;
std::string gHome;  // guarded by gHomeMutex; empty = not resolved yet

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}
}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("./") : WithSlash(exe.parent_path().string());
}

std::string HomeFolder() {
  std::lock_guard lock(gHomeMutex);
  if (gHome.empty()) {
    const char* env = std::getenv("COURIO_HOME");
    gHome = (env && *env) ? WithSlash(std::filesystem::absolute(env).lexically_normal().string())
                          : ExecutableFolder();
  }
  return gHome;
}

void SetHomeFolder(const std::string& folder) {
  std::lock_guard lock(gHomeMutex);
  gHome = folder.empty() ? std::string() : WithSlash(std::filesystem::absolute(folder).lexically_normal().string());
}

}  // namespace courio
