// fork while other threads allocate: the child, whose only thread is the forking one,
// must find every allocator lock free and every pool whole, allocate and exit. A child
// that does not exit in time (a lock held for ever) fails the test. The same in a fresh
// process, where the allocator's first start matters: a fork while another thread is inside
// the first start, and fork handlers registered before the first start that allocate.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ostream>
#include <random>
#include <thread>
#include <vector>

#include "src/xlabs.h"
#include "src/xlock.h"
#include "tests/support/child_test.h"

namespace {

// Sizes over the three default sets; rarely a null-pool block.
size_t pick_size(std::mt19937& rng) {
  const uint32_t r = rng();
  switch (r % 32) {
    case 0: return 1881 + (r >> 8) % 100000;
    case 1: return (r & 256) != 0 ? 2084825 + (r >> 9) % 1000 : 12582873;
    default: return 1 + (r >> 8) % 1880;
  }
}

// In the child: allocates from every kind of block, checks, frees; 0 when all went well.
// Its own bookkeeping takes no memory from the system allocator.
int child_work() {
  std::mt19937 rng(7);
  static void* live[200];
  for (void*& slot : live) {
    const size_t size = pick_size(rng);
    void* m = xa_malloc(size);
    if (m == nullptr || xchunk_get_class_size(m) < size) return 2;
    std::memset(m, 0x5a, size < 64 ? size : 64);
    slot = m;
  }
  void* moved = xa_realloc(live[199], 5000);
  if (moved == nullptr) return 3;
  live[199] = moved;
  for (void* m : live) xa_free(m);
  return 0;
}

// The sanitizers' own malloc (this compiler's AddressSanitizer, and ThreadSanitizer's
// allocator of large blocks) does not take all its locks around fork.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool kSystemMallocForkSafe = false;
#else
const bool kSystemMallocForkSafe = true;
#endif

// Ends the child at once: no exit handlers, and no thread-leak check of a sanitizer,
// which would count the parent's threads that the child never had.
[[noreturn]] void child_exit(int code) {
  syscall(SYS_exit_group, code);
  _exit(code);
}

// Waits for the child; kills it and reports false when it has not exited in time.
bool child_exits_cleanly(pid_t pid, int seconds, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid) return true;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

xpool* pool_of(const void* chunk) {
  uint32_t tag;
  std::memcpy(&tag, static_cast<const char*>(chunk) - 4, 4);
  return reinterpret_cast<const xpage_in_pool*>(static_cast<const char*>(chunk) - 4 - tag)->pool;
}

TEST(StressFork, ChildrenOfAllocatingThreadsAllocateAndExit) {
  // New pages and null-pool blocks come from malloc, in the parent's threads and in the
  // child: a child can only be sure to go on when malloc itself is fork-safe.
  if (!kSystemMallocForkSafe) GTEST_SKIP() << "the system allocator of this build is not fork-safe";
  testing::internal::CaptureStdout();
  init_xallocator();
  const int kThreads = 4, kForks = 200;
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(100 + t);
      std::vector<void*> live(64, nullptr);
      for (size_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
        void*& slot = live[i % live.size()];
        xa_free(slot);
        const size_t size = pick_size(rng);
        slot = xa_malloc(size);
        if (slot == nullptr) ++bad;
      }
      for (void* m : live) xa_free(m);
    });
  }
  int hung = 0, failed = 0;
  for (int i = 0; i < kForks; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(200 + 37 * (i % 10)));
    std::fflush(stdout);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) child_exit(child_work());
    int status = 0;
    if (!child_exits_cleanly(pid, 20, &status))
      ++hung;
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ++failed;
  }
  stop.store(true);
  for (auto& th : threads) th.join();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(hung, 0) << "children that did not exit in time";
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(bad.load(), 0);
}

// The race a fork loses without the handlers: another thread holds the very pool lock the
// child needs at the moment of fork. With them, fork waits until it is released.
TEST(StressFork, ForkWhileAnotherThreadHoldsThePoolLock) {
  testing::internal::CaptureStdout();
  init_xallocator();
  void* probe = xa_malloc(16);  // the pool this thread allocates 16 bytes from
  ASSERT_NE(probe, nullptr);
  xpool* pool = pool_of(probe);
  xa_free(probe);
  std::atomic<bool> held{false};
  std::thread holder([&] {
    xlock_acquire(&pool->mutex);
    held.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    xlock_release(&pool->mutex);
  });
  while (!held.load()) std::this_thread::yield();
  std::fflush(stdout);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    void* m = xa_malloc(16);
    child_exit(m != nullptr && pool_of(m) == pool ? 0 : 2);
  }
  holder.join();
  testing::internal::GetCapturedStdout();
  int status = 0;
  ASSERT_TRUE(child_exits_cleanly(pid, 20, &status)) << "the child hung on the pool lock";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Scenarios for a fresh process, where the allocator has not started yet. Each forks once
// and returns 0 when the fork returned in the parent and the child allocated and exited.
enum FreshResult { kFreshOk, kChildHung, kChildFailed, kHandlerFailed, kNotFresh };

int fork_and_check_child(int (*in_child)()) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) return kChildFailed;
  if (pid == 0) child_exit(in_child());
  int status = 0;
  if (!child_exits_cleanly(pid, 20, &status)) return kChildHung;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kFreshOk : kChildFailed;
}

// Another thread is inside the first start (held there a while) when this one forks.
std::atomic<bool> g_in_first_start{false};
int fork_during_first_start() {
  xlabs_detail::first_start_hook = [] {
    g_in_first_start.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  };
  std::atomic<bool> forked{false};
  std::thread starter([&] {
    void* m = xa_malloc(16);
    while (!forked.load()) std::this_thread::yield();  // no allocation while the fork runs
    xa_free(m);
  });
  while (!g_in_first_start.load()) std::this_thread::yield();
  const int r = fork_and_check_child(child_work);
  forked.store(true);
  starter.join();
  return r;
}

// Fork handlers of other code that allocate pooled memory in prepare, parent and child.
std::atomic<int> g_handler_allocs[3];
template <int kPhase>
void allocating_handler() {
  void* m = xa_malloc(24);
  if (m != nullptr) ++g_handler_allocs[kPhase];
  xa_free(m);
}
int child_after_allocating_handler() {
  return g_handler_allocs[2].load() == 1 ? child_work() : kHandlerFailed;
}
int fork_with_allocating_handlers(bool start_first) {
  pthread_atfork(allocating_handler<0>, allocating_handler<1>, allocating_handler<2>);
  if (start_first) xa_free(xa_malloc(16));  // else the prepare handler starts the allocator
  const int r = fork_and_check_child(child_after_allocating_handler);
  if (r == kFreshOk && (g_handler_allocs[0].load() != 1 || g_handler_allocs[1].load() != 1))
    return kHandlerFailed;
  return r;
}

struct FreshCase {
  const char* name;
  int (*run)();
};
void PrintTo(const FreshCase& c, std::ostream* os) { *os << c.name; }

const FreshCase kFreshCases[] = {
    {"WhileAnotherThreadIsInTheFirstStart", fork_during_first_start},
    {"HandlersRegisteredBeforeTheStartAllocate",
     [] { return fork_with_allocating_handlers(true); }},
    {"PrepareHandlerMakesTheFirstStart", [] { return fork_with_allocating_handlers(false); }},
};

const char kFreshVar[] = "STRESS_FORK_FRESH_CASE";

// Waits for the fresh process; on the deadline kills its process group (its hung child
// with it) and reports false.
bool fresh_exits(pid_t pid, int seconds, int* status) {
  if (child_exits_cleanly(pid, seconds, status)) return true;
  kill(-pid, SIGKILL);
  return false;
}

class FreshFork : public ::testing::TestWithParam<FreshCase> {};

TEST_P(FreshFork, ChildAllocatesAndExits) {
  const FreshCase& c = GetParam();
  if (const char* want = std::getenv(kFreshVar)) {  // the fresh process
    setpgid(0, 0);
    testing::internal::CaptureStdout();
    const int r = std::strcmp(want, c.name) != 0 ? kChildFailed
                  : xa_max_class_size() != 0     ? kNotFresh
                                                 : c.run();
    child_exit(r);
  }
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string(info->test_suite_name()) + "." + info->name();
  pid_t pid = 0;
  int fd = -1;
  ASSERT_NO_FATAL_FAILURE(startChildTest("fresh_fork", filter.c_str(), "STRESS_FORK_FRESH_LOG",
                                         "STRESS_FORK_FRESH_FD", {{kFreshVar, c.name}}, &pid, &fd));
  close(fd);
  int status = 0;
  ASSERT_TRUE(fresh_exits(pid, 40, &status)) << "the forking process hung in fork";
  ASSERT_TRUE(WIFEXITED(status));
  static const char* const kWhat[] = {"ok", "the child hung", "the child failed",
                                      "a fork handler could not allocate", "not a fresh process"};
  const int code = WEXITSTATUS(status);
  EXPECT_EQ(code, kFreshOk) << (code < 5 ? kWhat[code] : "unexpected exit code");
}

INSTANTIATE_TEST_SUITE_P(Fresh, FreshFork, ::testing::ValuesIn(kFreshCases),
                         [](const ::testing::TestParamInfo<FreshCase>& i) { return i.param.name; });

}  // namespace
