// Kyoto Cabinet takes thread-specific keys for every open database, and a process has a
// fixed number of them: at the limit an open fails with a line that names the cause, the
// databases already open keep every record, and a database closed makes room again. Runs
// in a child process, since it uses up the process's keys.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "src/wdb/kc/SKV_KCStg.h"
#include "tests/support/death_child.h"
#include "tests/support/tmpdir.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

const char* const kCauseLine =
    "[ERR] wdb::SKV_KCStg::open: Fail open DB for want of thread-specific keys (Kyoto "
    "Cabinet takes two per open database and the process has used them up; close databases "
    "or open fewer at once): \"";

std::unique_ptr<wdb::SKV_KCStg> makeDb(const TmpDir& dir, int i) {
  std::unique_ptr<wdb::SKV_KCStg> db(new wdb::SKV_KCStg());
  db->setDBPath(xstring(dir.file("db-" + std::to_string(i) + ".kch").c_str()));
  db->setTuneOptions(xstring("#bnum=64"));
  return db;
}

bool holds(wdb::SKV_KCStg& db, int i) {
  const std::string key = "k" + std::to_string(i), want = "v" + std::to_string(i);
  wdb::ValueBuffer v(db);
  return db.getTx0(nullptr, v.out(), v.outLength(), key.data(), key.size()) == 0 &&
         std::string(v.chars(), v.length()) == want;
}

void scenario() {
  TmpDir dir;
  CaptureStdout();
  // Keys come back on close: many opens and closes in turn never run out.
  for (int i = 0; i < 1500; ++i) {
    std::unique_ptr<wdb::SKV_KCStg> db = makeDb(dir, 0);
    CHECK_OR_EXIT(db->open(23) == 0, 2);
  }
  // Held open up to the limit, each with one record.
  std::vector<std::unique_ptr<wdb::SKV_KCStg>> dbs;
  std::string err;
  for (int i = 0; i < 4000; ++i) {
    std::unique_ptr<wdb::SKV_KCStg> db = makeDb(dir, i);
    int r = 0;
    err = stderrOf([&]() { r = db->open(23); });
    if (r < 0) break;
    const std::string key = "k" + std::to_string(i), value = "v" + std::to_string(i);
    CHECK_OR_EXIT(db->putTx0(nullptr, key.data(), key.size(), value.data(), value.size(), 3) == 0,
                  3);
    dbs.push_back(std::move(db));
  }
  const int held = static_cast<int>(dbs.size());
  // glibc has 1024 keys per process: about 510 databases, fewer when others use keys.
  CHECK_OR_EXIT(held >= 400 && held < 512, 4);
  const std::string path = dir.file("db-" + std::to_string(held) + ".kch#bnum=64");
  CHECK_OR_EXIT(err == "[ERR] wdb::SKV_KCStg::open: pthread_key_create\n" +
                           std::string(kCauseLine) + path + "\"\n",
                5);
  // Nothing lost: every database serves its record, and the refused one is closed.
  for (int i = 0; i < held; ++i) CHECK_OR_EXIT(holds(*dbs[i], i), 6);
  // One closed makes room for the refused one.
  dbs[0].reset();
  std::unique_ptr<wdb::SKV_KCStg> late = makeDb(dir, held);
  CHECK_OR_EXIT(late->open(23) == 0, 7);
  CHECK_OR_EXIT(late->putTx0(nullptr, "k", 1, "v", 1, 3) == 0, 8);
  late.reset();
  dbs.clear();
  for (int i = 0; i < held; i += 50) {
    std::unique_ptr<wdb::SKV_KCStg> db = makeDb(dir, i);
    CHECK_OR_EXIT(db->open(23) == 0 && holds(*db, i), 9);
  }
  GetCapturedStdout();
  _exit(0);
}

TEST(KCKeyLimit, OpenAtTheLimitNamesTheCauseAndLosesNothing) {
  EXPECT_EXIT(scenario(), testing::ExitedWithCode(0), "");
}

}  // namespace
