// The admin console's settings page (an authenticated GET of
// /admin/settings/Store: credential check, routing, one store query under the
// store's lock, two template renders) in requests per second, next to a
// minimal cpp-httplib handler that answers a fixed text on the same machine.
//
//   console_bench [SECONDS] [CLIENTS]      (defaults: 3 s, 2 keep-alive clients)
//
// Both servers listen on loopback with the same pool of 32 request threads and
// TCP_NODELAY;
// the clients run in this process. The templates are the project's own, from
// HTTP/ beside this binary.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/log/LogFacility.hpp"
#include "common/util/HomeFolder.hpp"
#include "common/util/StrUtils.hpp"
#include "console/implCourioHTTP.hpp"
#include "store/clsCourioData.hpp"

using namespace courio;

namespace {

struct TResult {
  long ok = 0;
  long failed = 0;
  double seconds = 0;
};

// `clients` keep-alive clients each GET `path` until `seconds` have passed.
TResult Hammer(int port, const std::string& path, const httplib::Headers& headers, double seconds, int clients) {
  std::atomic<long> ok{0}, failed{0};
  auto start = std::chrono::steady_clock::now();
  auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i)
    threads.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      while (std::chrono::steady_clock::now() < end) {
        auto res = client.Get(path.c_str(), headers);
        (res && res->status == 200 ? ok : failed)++;
      }
    });
  for (auto& t : threads) t.join();
  return {ok.load(), failed.load(), std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

void Report(const char* what, const TResult& r) {
  std::printf("%-44s %9.0f requests/s  (%ld in %.2f s, %ld failed)\n", what, r.ok / r.seconds, r.ok, r.seconds,
              r.failed);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  int clients = argc > 2 ? std::atoi(argv[2]) : 2;
  if (seconds <= 0 || seconds > 60 || clients < 1 || clients > 32) {
    std::fprintf(stderr, "usage: console_bench [SECONDS (0-60]] [CLIENTS 1-32]\n");
    return 2;
  }
  std::string root = ExecutableFolder() + "HTTP/";
  if (!std::filesystem::exists(root + "views/settings.html")) {
    std::fprintf(stderr, "No templates in %s: build the CourioSvc target first\n", root.c_str());
    return 1;
  }
  auto dir = std::filesystem::temp_directory_path() / ("console-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  TLogConfig logConfig;
  logConfig.folder = dir.string() + "/";
  logConfig.baseName = "bench";
  logConfig.archiveFolder = logConfig.folder + "Logs/";
  LogFacility::Instance().Configure(logConfig);

  auto store = std::make_shared<TCourioDataStore>((dir / "CourioSvc.db3").string());
  TSQLSettings row;
  row.Name = "Store";
  row.Value = {{"id", 7}};
  store->GetORM().Add(row);

  TConsoleConfig config;
  config.bind = "127.0.0.1";
  config.port = 0;
  config.credential = Base64Encode("bench:bench");
  config.builtInCredential = false;
  TCourioHTTP console(root, config);
  console.Initialise(store);

  httplib::Server minimal;
  minimal.new_task_queue = [] { return new httplib::ThreadPool(32); };
  minimal.set_tcp_nodelay(true);  // as the console
  minimal.Get("/admin/settings/Store", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
  int minimalPort = minimal.bind_to_any_port("127.0.0.1");
  std::thread minimalThread([&] { minimal.listen_after_bind(); });

  httplib::Headers auth = {{"Authorization", "Basic " + Base64Encode("bench:bench")}};
  std::printf("%d keep-alive clients, %.1f s each, 2 cores shared with the servers\n", clients, seconds);
  // A short warm-up so both servers have their threads and caches ready.
  Hammer(console.Port(), "/admin/settings/Store", auth, 0.3, clients);
  Hammer(minimalPort, "/admin/settings/Store", {}, 0.3, clients);
  TResult page = Hammer(console.Port(), "/admin/settings/Store", auth, seconds, clients);
  TResult bare = Hammer(minimalPort, "/admin/settings/Store", {}, seconds, clients);
  Report("console settings page /admin/settings/Store", page);
  Report("minimal cpp-httplib handler", bare);
  if (bare.ok > 0) std::printf("the page costs %.1fx the minimal handler\n", (bare.ok / bare.seconds) / (page.ok / page.seconds));

  minimal.stop();
  minimalThread.join();
  console.Stop();
  store.reset();
  LogFacility::Instance().Close();
  std::filesystem::remove_all(dir);
  return page.failed == 0 && bare.failed == 0 ? 0 : 1;
}
