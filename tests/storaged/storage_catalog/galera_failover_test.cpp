// The front on a three-node Galera cluster that loses a node under a mixed
// write load (kill -9) and gets it back. Every call that reported success
// must be on every node afterwards, the load must go on through the other
// nodes, and no call may hold its caller past the connection's time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/sql/mariadb_connection.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "tests/support/front_fixture.h"
#include "tests/support/sql_rows.h"
#include "tests/support/test_mariadb.h"

using database::sql::Connection_Ptr;
using Clock = std::chrono::steady_clock;

namespace {

// What one writer thread saw.
struct Writer_Record {
  std::vector<std::string> added;    // sets whose add_catalog succeeded
  std::vector<std::string> expired;  // sets whose set_state(expired) succeeded
  std::vector<long long> jobs;       // replicate jobs added
  int failed = 0;
  int failed_after_loss = 0;
  int succeeded_after_loss = 0;
  Clock::time_point first_success_after_loss{};  // of a call begun after the kill
  Clock::time_point call_start{};
  double longest_call = 0;  // seconds
};

class Galera_Failover : public Front_Test {
 protected:
  void SetUp() override {
    if (!test_mariadb::cluster::available())
      GTEST_SKIP() << "no Galera test cluster (SCAT_TEST_GALERA_DIR)";
    Front_Test::SetUp();
    open_server(Engine::MARIADB);
    ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  }

  void TearDown() override {
    if (test_mariadb::cluster::available())
      test_mariadb::cluster::restart_node(kLost);
    Front_Test::TearDown();
  }

  // Runs calls until `stop_`, noting each outcome.
  void write(int writer, Writer_Record& record) {
    for (int k = 0; !stop_; ++k) {
      const std::string uuid = uuid_of(writer * 1000000 + k + 1);
      bool ok =
          timed(record, [&] { return front_->add_catalog(kPoolA, catalog_record(uuid, kPoolA)); });
      note(record, ok);
      if (!ok)
        continue;
      record.added.push_back(uuid);
      if (k % 2 == 0) {
        ok = timed(record, [&] { return front_->set_state(kPoolA, uuid, CST_EXPIRED); });
        note(record, ok);
        if (ok)
          record.expired.push_back(uuid);
      } else {
        long long id = -1;
        Object job{{"type", "replicate"},
                   {"catalog_uuid", uuid},
                   {"source_pool_uuid", kPoolA},
                   {"target_pool_uuid", kPoolB},
                   {"state", "pending"}};
        ok = timed(record, [&] { return front_->add_replicate_job(job, id); });
        note(record, ok);
        if (ok)
          record.jobs.push_back(id);
      }
    }
  }

  template <class Call>
  bool timed(Writer_Record& record, Call call) {
    Clock::time_point start = Clock::now();
    record.call_start = start;
    bool ok = call();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    record.longest_call = std::max(record.longest_call, seconds);
    return ok;
  }

  void note(Writer_Record& record, bool ok) {
    if (!ok)
      ++record.failed;
    if (!lost_)
      return;
    if (!ok) {
      ++record.failed_after_loss;
    } else if (killed_ && record.call_start >= killed_at_ && record.succeeded_after_loss++ == 0) {
      record.first_success_after_loss = Clock::now();
    }
  }

  // Waits until every writer has had `calls` successes since the loss, or
  // a minute passed.
  void wait_for_progress(const std::vector<Writer_Record>& records, int calls) {
    for (int i = 0; i < 600; ++i) {
      bool all = true;
      for (const Writer_Record& r : records)
        all = all && r.succeeded_after_loss >= calls;
      if (all)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  static const int kLost = 1;  // the node every session starts on
  std::atomic<bool> stop_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> killed_{false};
  Clock::time_point killed_at_{};  // set before killed_
};

std::string in_list(const std::vector<std::string>& uuids) {
  std::string list;
  for (const std::string& uuid : uuids)
    list += (list.empty() ? "x'" : ",x'") + uuid + "'";
  return list.empty() ? "NULL" : list;
}

TEST_F(Galera_Failover, WritesGoOnThroughTheOtherNodesAndNoSuccessIsLost) {
  const int kWriters = 3;
  std::vector<Writer_Record> records(kWriters);
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] { write(w + 1, records[w]); });

  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // Calls in flight when the node goes count as after the loss.
  lost_ = true;
  ASSERT_TRUE(test_mariadb::cluster::kill_node(kLost));
  killed_at_ = Clock::now();
  killed_ = true;
  wait_for_progress(records, 20);
  ASSERT_TRUE(test_mariadb::cluster::restart_node(kLost));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  stop_ = true;
  for (std::thread& t : writers)
    t.join();

  std::vector<std::string> added, expired;
  std::set<long long> jobs;
  int failed = 0, failed_after_loss = 0;
  double longest_call = 0, to_go_on = 0;
  for (const Writer_Record& r : records) {
    EXPECT_GT(r.succeeded_after_loss, 0) << "a writer did not go on after the loss";
    added.insert(added.end(), r.added.begin(), r.added.end());
    expired.insert(expired.end(), r.expired.begin(), r.expired.end());
    jobs.insert(r.jobs.begin(), r.jobs.end());
    failed += r.failed;
    failed_after_loss += r.failed_after_loss;
    longest_call = std::max(longest_call, r.longest_call);
    if (r.succeeded_after_loss > 0)
      to_go_on = std::max(
          to_go_on, std::chrono::duration<double>(r.first_success_after_loss - killed_at_).count());
  }
  // At most the call each writer had in flight on the lost node fails.
  EXPECT_LE(failed, kWriters * 2) << log_.dump();
  EXPECT_LT(longest_call, static_cast<double>(database::sql::Mariadb_Connection::kReadTimeout));

  long long lost_rows = 0;
  std::string schema = database::Manager::instance()->database("storage_catalog").schema();
  for (int n = 1; n <= 3; ++n) {
    Connection_Ptr conn = database::sql::open_connection(test_mariadb::cluster::node(n, schema));
    ASSERT_TRUE(conn) << "node " << n << ": " << log_.dump();
    long long sets = select_scalar(
        conn, "SELECT COUNT(*) FROM `" + kPoolA + "` WHERE uuid IN (" + in_list(added) + ")");
    long long expired_sets =
        select_scalar(conn, "SELECT COUNT(*) FROM `" + kPoolA +
                                "` WHERE state & 8 = 8 AND uuid IN (" + in_list(expired) + ")");
    std::string ids;
    for (long long id : jobs)
      ids += (ids.empty() ? "" : ",") + std::to_string(id);
    long long job_rows = select_scalar(conn,
                                       "SELECT COUNT(*) FROM storage_catalog_pool_replicate_job "
                                       "WHERE id IN (" +
                                           (ids.empty() ? "NULL" : ids) + ")");
    EXPECT_EQ(sets, static_cast<long long>(added.size())) << "node " << n;
    EXPECT_EQ(expired_sets, static_cast<long long>(expired.size())) << "node " << n;
    EXPECT_EQ(job_rows, static_cast<long long>(jobs.size())) << "node " << n;
    lost_rows += static_cast<long long>(added.size() + expired.size() + jobs.size()) - sets -
                 expired_sets - job_rows;
  }
  std::printf(
      "failover: %zu sets, %zu state changes, %zu jobs reported written; %d calls failed "
      "(%d in flight at the loss or after it); went on %.2f s after the kill; longest call %.2f s; "
      "rows lost %lld\n",
      added.size(), expired.size(), jobs.size(), failed, failed_after_loss, to_go_on, longest_call,
      lost_rows);
  RecordProperty("failed_calls", failed);
  RecordProperty("rows_lost", static_cast<int>(lost_rows));
}

}  // namespace
