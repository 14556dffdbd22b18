// The new-invoice tracker recording a burst of new delivery invoices from the
// embedded POS into the local store (events/s), next to the bare cost of the
// same three POS queries per invoice run in a loop with no store writes.
//
//   newinvoice_bench [INVOICES]
//
// The store runs as in the service (WAL, synchronous=FULL), and the log goes
// to a file as in the service, so the figure is what a shop would see.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "PosShop.hpp"
#include "common/log/LogFacility.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/posdb/implDBManagerPlinth.hpp"
#include "common/di/implDI.hpp"
#include "common/log/implLogManager.hpp"
#include "common/registry/implPlinthRegistry.hpp"
#include "pos/implPlinthInvoices.hpp"
#include "store/clsCourioData.hpp"
#include "trackers/implCourioEventTrackerNewInvoice.hpp"

using namespace courio;

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A burst of delivery invoices above every existing number, each with two
// line items and an existing customer, written in one transaction.
void RingBurst(const std::string& db, long count, long first) {
  std::string n = "WITH RECURSIVE n(i) AS (SELECT " + std::to_string(first) + " UNION ALL SELECT i + 1 FROM n WHERE i < " +
                  std::to_string(first + count - 1) + ") ";
  possim::ExecSql(db, n +
                          "INSERT INTO INVOICES (InvoiceNum, TransType, Status, Date, TimeDue, CustLink, OrderNum, "
                          "InvoiceSource, IsPaidOnline, AfterDisc) SELECT i, 3, 1, '2024-03-05 18:00:00', "
                          "'2024-03-05 18:30:00', 1 + i % 3, i % 1000, 'POS', i % 2, 10 + (i % 50) * 0.5 FROM n;" +
                          n +
                          "INSERT INTO LINEITEM (InvoiceNum, Code, ItemDesc, Quantity, Price) "
                          "SELECT i, 'P1', 'Pepperoni Pizza', 1 + i % 3, 14 FROM n UNION ALL "
                          "SELECT i, 'C1', 'Cola', 2, 3.5 FROM n;");
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 10000;
  char tmpl[] = "/tmp/newinvoice-bench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = std::string(tmpl) + "/";
  int rc = 0;
  try {
    const std::string pos = dir + "pos.db";
    possim::InitDatabase(pos);
    {
      FILE* f = std::fopen((dir + "Plinth.reg").c_str(), "w");
      std::fputs(possim::RegFileText(pos).c_str(), f);
      std::fclose(f);
    }
    TLogConfig log;
    log.folder = dir;
    log.baseName = "bench";
    log.archiveFolder = dir + "Logs/";
    auto manager = std::make_shared<TLogManagerPlinth>();
    manager->AddModule(std::make_shared<TLogModuleSimpleFile>(log));
    SetLogManager(manager);

    auto di = std::make_shared<TPlinthDI>();
    std::string reg = dir + "Plinth.reg";
    di->AddFactory(IPlinthRegistry::IID, std::make_shared<TPlinthFnFactory>([reg]() -> IInterfacePtr {
      return std::make_shared<TPlinthRegistry>(reg);
    }));
    RegisterDBManagerPlinth(*di);
    RegisterPlinthInvoices(*di);
    auto store = std::make_shared<TCourioDataStore>(dir + "CourioSvc.db3");
    di->AddInstance<ICourioDataStore>(store);
    TSQLSettings storeRow;
    storeRow.Name = "Store";
    storeRow.Value = {{"id", 7}};
    store->GetORM().Add(storeRow);
    SetPlinthDI(di);

    std::atomic<TDateTime> now{SystemNow()};
    SetClockForTesting([&] { return now.load(); });
    TCourioEventTrackerNewInvoice tracker;
    tracker.Initialise();  // seeds LastInvoice from the shop's existing invoices
    long first = JsonAsInt(JsonGet(tracker.Settings().Value, "LastInvoice")) + 1;
    RingBurst(pos, count, first);

    // Bare POS cost: the builder's three queries for every invoice.
    IDBManagerPtr db;
    di->CreateNamedInstance("plinth", db);
    db->Connect();
    auto q0 = std::chrono::steady_clock::now();
    std::string json;
    for (long i = first; i < first + count; ++i) {
      db->QueryJSONFmt("SELECT INVOICES.InvoiceNum, INVOICES.AfterDisc, INVOICES.Date, INVOICES.TimeDue, "
                       "INVOICES.CustLink, INVOICES.OrderNum, INVOICES.InvoiceSource, INVOICES.IsPaidOnline, "
                       "[OnlineOrderDetails].[ExternalID] AS [PeloraExternalID] FROM INVOICES LEFT JOIN "
                       "[OnlineOrderDetails] ON [OnlineOrderDetails].[InvoiceNum] = INVOICES.InvoiceNum WHERE "
                       "INVOICES.INVOICENUM = %d",
                       {i}, json);
      db->QueryJSONFmt("SELECT Code, ItemDesc, Quantity FROM LINEITEM WHERE InvoiceNum = %d", {i}, json);
      db->QueryJSONFmt("SELECT InvLink, ISNULL( FirstName, '' ) AS FirstName, ISNULL( LastName, '' ) AS LastName, "
                       "Telephone, Cell, Flat, CASE StreetNo WHEN '' THEN '0' ELSE StreetNo END StreetNo, "
                       "StreetNames.Street, ISNULL( Suburb.Suburb, '' ) Suburb, GridRef.GridRef, Coordinates FROM "
                       "CUSTOMER LEFT JOIN STREET ON STREET.ID = CUSTOMER.StreetLink LEFT JOIN STREETNAMES ON "
                       "STREETNAMES.ID = STREET.StreetRef LEFT JOIN SUBURB ON SUBURB.ID = STREET.SuburbRef LEFT JOIN "
                       "GRIDREF ON GRIDREF.ID = STREET.GridRefLink WHERE InvLink = %d",
                       {1 + i % 3}, json);
    }
    double bare = Seconds(std::chrono::steady_clock::now() - q0);

    // The tracker: one pass records the whole burst.
    now = now.load() + 11 / 86400.0;
    auto t0 = std::chrono::steady_clock::now();
    tracker.ThreadTask();
    double pass = Seconds(std::chrono::steady_clock::now() - t0);
    std::string recorded = store->GetDatabase().ExecuteJSON("SELECT count(*) AS n FROM InvoiceEvent");

    std::printf("bare POS queries : %ld invoices x 3 queries in %.2f s = %.0f queries/s (%.0f invoices/s)\n", count,
                bare, 3 * count / bare, count / bare);
    std::printf("tracker pass     : %ld events in %.2f s = %.0f events/s (recorded: %s)\n", count, pass, count / pass,
                recorded.c_str());
    std::printf("ratio            : the tracker records an invoice in %.1fx the time of its bare queries\n",
                pass / bare);
    tracker.Finalise();
    SetClockForTesting(nullptr);
    SetPlinthDI(nullptr);
    SetLogManager(nullptr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "newinvoice_bench: %s\n", e.what());
    rc = 1;
  }
  std::filesystem::remove_all(tmpl);
  return rc;
}
