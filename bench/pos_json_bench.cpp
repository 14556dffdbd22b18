// Converts a 100,000-row POS result set to JSON through the database manager
// (ODBC, SQLite3 driver, the service's JSON rules) and, for scale, prints the
// same query with `sqlite3 -json` on the same file.
//
//   pos_json_bench [ROWS]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "PosShop.hpp"
#include "common/posdb/implDBManagerPlinth.hpp"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/pos-json-bench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  const std::string db = dir + "/pos.db";
  int rc = 0;
  try {
    possim::InitDatabase(db);
    possim::ExecSql(db,
                    "CREATE TABLE BENCH (ID INTEGER PRIMARY KEY, EmpNum VARCHAR(10) COLLATE NOCASE, "
                    "Name VARCHAR(60) COLLATE NOCASE, Amount FLOAT, Flag BIT, Stamp DATETIME, Note VARCHAR(80));"
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                        std::to_string(rows) +
                        ") INSERT INTO BENCH SELECT i, printf('%04d', i % 100), 'Customer \"' || i || '\" O''Brien', "
                        "i * 1.25, i % 2, printf('2024-05-%02d %02d:%02d:%02d', 1 + i % 28, i % 24, i % 60, "
                        "(i * 7) % 60), CASE WHEN i % 3 = 0 THEN NULL ELSE 'line ' || i || char(10) || 'next' END "
                        "FROM n;");

    courio::TDBManagerPlinth manager;
    manager.SetConnectionString("Driver=SQLite3;Database=" + db + ";NoCreat=1");
    manager.Open();

    std::string json;
    double best = 1e9;
    for (int run = 0; run < 4; ++run) {  // the first run warms the file cache
      auto t0 = std::chrono::steady_clock::now();
      manager.QueryJSONFmt("SELECT * FROM BENCH", {}, json);
      double s = Seconds(std::chrono::steady_clock::now() - t0);
      if (run > 0 && s < best) best = s;
    }
    std::printf("manager  QueryJSONFmt : %ld rows, %zu bytes, best of 3 %.3f s, %.0f rows/s\n", rows, json.size(),
                best, rows / best);

    const std::string cmd = "sqlite3 -json '" + db + "' 'SELECT * FROM BENCH'";
    double bestCli = 1e9;
    size_t cliBytes = 0;
    for (int run = 0; run < 4; ++run) {
      auto t0 = std::chrono::steady_clock::now();
      FILE* p = popen(cmd.c_str(), "r");
      if (p == nullptr) throw std::runtime_error("cannot run sqlite3");
      char buf[65536];
      size_t n, total = 0;
      while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) total += n;
      int status = pclose(p);
      double s = Seconds(std::chrono::steady_clock::now() - t0);
      if (status != 0) throw std::runtime_error("sqlite3 -json failed");
      cliBytes = total;
      if (run > 0 && s < bestCli) bestCli = s;
    }
    std::printf("sqlite3 -json         : %ld rows, %zu bytes, best of 3 %.3f s, %.0f rows/s\n", rows, cliBytes,
                bestCli, rows / bestCli);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pos_json_bench: %s\n", e.what());
    rc = 1;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return rc;
}
