// Kill tests of both partitioned stores, opened through wdb::OpenKCFromConfig with and
// without "<name>.auto_sync". A writer child (this binary run again with the writer test
// selected: a fresh process without inherited threads) performs a fixed sequence of puts
// (new ascending keys and overwrites of earlier keys, every value self-checking) and reports
// each put that returned success through a pipe. The parent kills it with SIGKILL once a
// random number of puts is reported, after a random extra delay, then reopens the store:
//   - always: the store opens, every record is intact and not newer than the put in flight,
//     and the store's own get reaches it;
//   - with auto-sync: every reported put is there with its exact value (the put in flight
//     may have landed too).
// The next child resumes at the first unreported put. Fixed seeds; a bounded number of kill
// points per configuration.
// For a longer hunt: TOKA_KILL_POINTS=<n> kill points per configuration, TOKA_KILL_SEED=<n>
// another sequence of kill points, TOKA_KILL_LOG=<file>
// collects the writers' lines, TOKA_KILL_KEEP=<dir> keeps the directory of a failed round
// after its reopen in <dir> and as the kill left it in <dir>.as-killed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "src/wdb/kc/OpenKCFromConfig.h"
#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "src/wdb/kc/SKV_UniMKCStg.h"
#include "tests/storage-faults/fault_util.h"
#include "tests/support/child_test.h"

using faulttest::checkValue;
using faulttest::get;
using faulttest::keyOf;
using faulttest::mix;
using faulttest::valueOf;

namespace {

const char kEnvDir[] = "TOKA_KILL_DIR";
const char kEnvKind[] = "TOKA_KILL_KIND";
const char kEnvSync[] = "TOKA_KILL_SYNC";
const char kEnvStart[] = "TOKA_KILL_START";
const char kEnvFd[] = "TOKA_KILL_FD";
const char kEnvBig[] = "TOKA_KILL_BIG";

// Kill points per configuration; TOKA_KILL_POINTS sets another number for a longer hunt.
int killPointsWanted() {
  const char* n = std::getenv("TOKA_KILL_POINTS");
  return n != nullptr && std::atoi(n) > 0 ? std::atoi(n) : 20;
}
const uint32_t kMaxStretch = 40;    // puts reported before a kill, at most
const uint32_t kChildOps = 100000;  // the child never runs out of work before its kill

// The key number of put i: a new key (its own number) three times in four, else an earlier
// new key (a multiple of 4 below i).
uint32_t keyNumberOf(uint32_t i) {
  if (i % 4 != 3) return i;
  return 4 * static_cast<uint32_t>(mix(i) % (i / 4 + 1));
}

// Large values: the header and filler of valueOf, then more filler up to 3..20 KB, so that a
// record and the pre-image Kyoto Cabinet logs for it span several pages.
std::string bigValueOf(const std::string& key, uint32_t version) {
  std::string v = valueOf(key, version);
  uint64_t h = mix(mix(version) ^ std::hash<std::string>()(key));
  const size_t len = 3000 + static_cast<size_t>(h % 17001);
  while (v.size() < len) {
    h = mix(h);
    for (int b = 0; b < 8 && v.size() < len; ++b)
      v.push_back(static_cast<char>('A' + ((h >> (8 * b)) & 0xFF) % 26));
  }
  return v;
}

// checkValue for the values of valueOf or bigValueOf.
bool checkAnyValue(bool big, const std::string& key, const std::string& value, uint32_t* version) {
  if (!big) return checkValue(key, value, version);
  const size_t bar = value.find('|', key.size() + 1);
  if (value.compare(0, key.size() + 1, key + "|") != 0 || bar == std::string::npos ||
      bar - key.size() - 1 > 10 || bar == key.size() + 1)
    return false;
  const std::string digits = value.substr(key.size() + 1, bar - key.size() - 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long n = std::stoull(digits);
  if (n > UINT32_MAX || bigValueOf(key, static_cast<uint32_t>(n)) != value) return false;
  *version = static_cast<uint32_t>(n);
  return true;
}

faulttest::Config storeConfig(const std::string& home, bool contiguous, bool autoSync) {
  faulttest::Config c;
  c.set("kv.distrib_type", contiguous ? "contiguous" : "uniform");
  c.set("kv.auto_sync", autoSync ? "true" : "false");
  c.set("kv.home", home);
  c.set("kv.dbname", "kv");
  c.set("kv.dbtype", "kch");
  c.set("kv.tune_options", "#bnum=4096");
  if (contiguous) {
    // Rollovers happen, retirements do not: every record stays in a live partition.
    c.set("kv.partitions", "1000");
    c.set("kv.partition_records", "40");
  } else {
    c.set("kv.partitions", "4");
  }
  return c;
}

std::unique_ptr<wdb::ISKVStorage> openStore(faulttest::Config& c) {
  const std::pair<wdb::ISKVStorage*, bool> r = wdb::OpenKCFromConfig(
      c.get(), "kv", static_cast<xstring*>(nullptr));
  return std::unique_ptr<wdb::ISKVStorage>(r.first);
}

// The writer; runs only in the child process.
TEST(StoreKillChild, Writer) {
  const char* home = std::getenv(kEnvDir);
  if (home == nullptr) GTEST_SKIP() << "run by StoreKill only";
  const bool contiguous = std::string(std::getenv(kEnvKind)) == "contiguous";
  const bool autoSync = std::string(std::getenv(kEnvSync)) == "1";
  const uint32_t start = static_cast<uint32_t>(std::strtoul(std::getenv(kEnvStart), nullptr, 10));
  const int fd = std::atoi(std::getenv(kEnvFd));
  const bool big = std::string(std::getenv(kEnvBig)) == "1";
  faulttest::Config c = storeConfig(home, contiguous, autoSync);
  std::unique_ptr<wdb::ISKVStorage> s = openStore(c);
  if (!s) _exit(2);
  for (uint32_t i = start; i < start + kChildOps; ++i) {
    const std::string k = keyOf(keyNumberOf(i));
    if (faulttest::put(*s, k, big ? bigValueOf(k, i) : valueOf(k, i)) != 0) _exit(4);
    if (write(fd, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(5);
  }
  _exit(6);
}

struct KillCase {
  const char* name;
  bool contiguous;
  bool autoSync;
  bool bigValues;
};

void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }

class StoreKill : public ::testing::TestWithParam<KillCase> {};

// Reads reports until `target` puts are reported in all or the child is gone; false when it
// is gone or nothing came for a long time (the child is stuck).
bool readUntil(int fd, uint32_t target, std::vector<uint32_t>* acked) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (acked->size() < target) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    uint32_t i;
    const ssize_t n = read(fd, &i, sizeof i);
    if (n != static_cast<ssize_t>(sizeof i)) return false;  // the child is gone
    acked->push_back(i);
  }
  return true;
}

TEST_P(StoreKill, ReportedPutsSurviveAndEveryRecordIsIntact) {
  const KillCase& kc = GetParam();
  faulttest::TmpDir dir;
  const char* seed = std::getenv("TOKA_KILL_SEED");
  std::mt19937 rng(kc.bigValues * 4 + kc.contiguous * 2 + kc.autoSync + 20261211 +
                   (seed != nullptr ? 8 * std::strtoul(seed, nullptr, 10) : 0));
  std::vector<uint32_t> acked;  // put numbers in report order: 0, 1, 2, ...
  uint64_t missingUnsynced = 0;
  int killPoints = 0;
  const int wanted = killPointsWanted();
  for (int round = 0; round < wanted; ++round) {
    const uint32_t next = static_cast<uint32_t>(acked.size());
    const uint32_t target = next + 1 + rng() % kMaxStretch;
    pid_t pid = -1;
    int fds[2] = {-1, -1};
    // TOKA_KILL_LOG: a file for the writers' lines, for a hunt.
    ASSERT_NO_FATAL_FAILURE(startChildTest("kill_child", "StoreKillChild.Writer", "TOKA_KILL_LOG",
                                           kEnvFd,
                                           {{kEnvDir, dir.path()},
                                            {kEnvKind, kc.contiguous ? "contiguous" : "uniform"},
                                            {kEnvSync, kc.autoSync ? "1" : "0"},
                                            {kEnvBig, kc.bigValues ? "1" : "0"},
                                            {kEnvStart, std::to_string(next)}},
                                           &pid, &fds[0]));
    const bool reached = readUntil(fds[0], target, &acked);
    // Lands the kill somewhere inside one of the following puts.
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    uint32_t i;
    while (read(fds[0], &i, sizeof i) == static_cast<ssize_t>(sizeof i)) acked.push_back(i);
    ::close(fds[0]);
    ASSERT_TRUE(reached) << "round " << round << ": the writer stopped early, status " << status;
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    for (uint32_t n = next; n < acked.size(); ++n) ASSERT_EQ(n, acked[n]) << "report order";
    ++killPoints;

    // What the reported puts left: the last version of every key.
    const uint32_t inFlight = static_cast<uint32_t>(acked.size());  // may have landed
    std::map<std::string, uint32_t> expected;
    for (uint32_t n = 0; n < inFlight; ++n) expected[keyOf(keyNumberOf(n))] = n;
    const std::string inFlightKey = keyOf(keyNumberOf(inFlight));

    // For a hunt: the directory as the kill left it, before the reopen below changes it.
    const char* keep = std::getenv("TOKA_KILL_KEEP");
    const std::string asKilled = keep != nullptr ? std::string(keep) + ".as-killed" : "";
    if (keep != nullptr) {
      const std::string cmd = "rm -rf " + asKilled + " && cp -a " + dir.path() + " " + asKilled;
      if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not copy " << dir.path();
    }

    std::vector<std::string> problems;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
      faulttest::Config c = storeConfig(dir.path(), kc.contiguous, kc.autoSync);
      std::unique_ptr<wdb::ISKVStorage> s = openStore(c);
      if (!s) {
        problems.push_back("the store does not open");
      } else {
        faulttest::Collect all;
        const int r = kc.contiguous
                          ? static_cast<wdb::SKV_ContMKCStg*>(s.get())->kc_iterate(&all, 0)
                          : static_cast<wdb::SKV_UniMKCStg*>(s.get())->kc_iterate(&all, 0);
        if (r < 0) problems.push_back("iteration failed: " + std::to_string(r));
        for (const auto& rec : all.records) {
          uint32_t version = 0;
          if (!checkAnyValue(kc.bigValues, rec.first, rec.second, &version)) {
            problems.push_back("damaged record " + rec.first + " = " + rec.second.substr(0, 40) +
                               " (" + std::to_string(rec.second.size()) + " bytes)");
            continue;
          }
          if (version > inFlight) problems.push_back("record from the future " + rec.first);
          if (get(*s, rec.first) != rec.second) problems.push_back("unreachable " + rec.first);
          auto e = expected.find(rec.first);
          const bool isInFlight = rec.first == inFlightKey && version == inFlight;
          if (!isInFlight && (e == expected.end() || e->second != version) && kc.autoSync)
            problems.push_back("stale or unreported version of " + rec.first + ": " +
                               std::to_string(version));
        }
        for (const auto& e : expected) {
          if (all.records.count(e.first) != 0) continue;
          if (kc.autoSync)
            problems.push_back("lost " + e.first);
          else
            ++missingUnsynced;
        }
      }
    }
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    for (size_t p = 0; p < problems.size() && p < 10; ++p)
      ADD_FAILURE() << kc.name << " round " << round << ": " << problems[p];
    if (!problems.empty()) {
      ADD_FAILURE() << "store errors:\n" << err;
      if (keep != nullptr) {
        const std::string cmd = "cp -a " + dir.path() + " " + keep;
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not keep " << dir.path();
      }
      break;
    }
    if (keep != nullptr && std::system(("rm -rf " + asKilled).c_str()) != 0)
      ADD_FAILURE() << "could not remove " << asKilled;
  }
  std::printf("[ kill points ] %s: %d kill points, %zu puts reported", kc.name, killPoints,
              acked.size());
  if (!kc.autoSync)
    std::printf(", %llu of them missing at some reopen",
                static_cast<unsigned long long>(missingUnsynced));
  std::printf("\n");
  EXPECT_EQ(wanted, killPoints);
}

const KillCase kKillCases[] = {
    {"uniform_autosync", false, true, false},      {"uniform_nosync", false, false, false},
    {"contiguous_autosync", true, true, false},    {"contiguous_nosync", true, false, false},
    {"uniform_autosync_big", false, true, true},   {"uniform_nosync_big", false, false, true},
    {"contiguous_autosync_big", true, true, true}, {"contiguous_nosync_big", true, false, true},
};

INSTANTIATE_TEST_SUITE_P(Stores, StoreKill, ::testing::ValuesIn(kKillCases),
                         [](const ::testing::TestParamInfo<KillCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
