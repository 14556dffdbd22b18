// courio-settings --home DIR NAME JSON [NAME JSON ...]
// courio-settings --home DIR --list
// Creates the local store when missing and sets each named settings row's
// Value to the JSON object given (adding the row when it does not exist).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/util/HomeFolder.hpp"
#include "common/util/Json.hpp"
#include "store/clsCourioData.hpp"

namespace {
int Usage() {
  std::fprintf(stderr,
               "usage: courio-settings --home DIR NAME JSON [NAME JSON ...]\n"
               "       courio-settings --home DIR --list\n"
               "example: courio-settings --home /srv/courio WebService '{\"Url\":\"https://cloud.example\"}'\n");
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  using namespace courio;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 3 || args[0] != "--home") return Usage();
  SetHomeFolder(args[1]);
  try {
    std::filesystem::create_directories(HomeFolder());
    TCourioDataStore store;
    if (args[2] == "--list") {
      std::printf("%s\n", store.GetDatabase().ExecuteJSON("SELECT Name, Value FROM Settings ORDER BY ID").c_str());
      return 0;
    }
    if ((args.size() - 2) % 2 != 0) return Usage();
    for (size_t i = 2; i < args.size(); i += 2) {
      TJson value;
      if (!TryParseJson(args[i + 1], value) || !value.is_object()) {
        std::fprintf(stderr, "courio-settings: the value of %s is not a JSON object: %s\n", args[i].c_str(),
                     args[i + 1].c_str());
        return 2;
      }
      TSQLSettings row;
      bool exists = store.GetORM().Retrieve("Name = ?", {args[i]}, row);
      row.Name = exists ? row.Name : args[i];
      row.Value = value;
      if (exists)
        store.GetORM().Update(row);
      else
        store.GetORM().Add(row);
      std::printf("%s %s = %s\n", exists ? "updated" : "added", row.Name.c_str(), JsonDump(value).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "courio-settings: %s\n", e.what());
    return 1;
  }
  return 0;
}
