#include <string>
#include <vector>

#include "service/CourioSvcMain.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return courio::CourioSvcMain(args);
}
