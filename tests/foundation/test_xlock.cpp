// The allocator lock: a taker asleep in the futex is woken by the release, in both release
// kinds; a taker held in each window of the slow path (counted before any barrier, woken
// before it spins again) gets the lock, the first counted taker with one barrier at most
// and a later one with none; a wake-up lost because the barrier did not run is recovered
// by the sleep's backstop; the registry of unpooled blocks answers without any shard
// before a first record.
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/membarrier.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>

#include "src/xlabs.h"
#include "src/xlock.h"

namespace {

// Scheduler state of a thread of this process ('S' while it sleeps).
char thread_state(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(in, line);
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

std::string thread_wchan(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/wchan");
  std::string s;
  std::getline(in, s);
  return s;
}

class XlockWake : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    saved_ = xlock_detail::plain_release;
    if (GetParam() && !saved_) GTEST_SKIP() << "membarrier not available: releases exchange";
    xlock_detail::plain_release = GetParam();  // no other thread uses a lock here
    xlock_detail::backstop = {3600, 0};        // a lost wake-up hangs, not just waits 50 ms
  }
  void TearDown() override {
    xlock_detail::plain_release = saved_;
    xlock_detail::backstop = {0, 50 * 1000000};
  }
  bool saved_ = false;
};

// The waiter is asleep in the futex (counted in the second word, thread state S, kernel
// wait channel a futex wait where the kernel shows it) before the release; it must then
// return from xlock_acquire. A lost wake-up leaves it asleep for good: the test fails
// after the deadline instead of hanging.
TEST_P(XlockWake, SleepingTakerIsWokenByRelease) {
  for (int round = 0; round < 20; ++round) {
    pthread_mutex_t m;
    pthread_mutex_init(&m, nullptr);
    uint32_t* w = reinterpret_cast<uint32_t*>(&m);
    xlock_acquire(&m);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> got{false};
    std::thread waiter([&] {
      tid.store(static_cast<pid_t>(syscall(SYS_gettid)));
      xlock_acquire(&m);
      got.store(true);
      xlock_release(&m);
    });
    while (tid.load() == 0) std::this_thread::yield();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool asleep = false;
    while (!asleep && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::string wchan = thread_wchan(tid.load());
      asleep = __atomic_load_n(w + 1, __ATOMIC_RELAXED) == 1 && thread_state(tid.load()) == 'S' &&
               (wchan.empty() || wchan == "0" || wchan.find("futex") != std::string::npos);
    }
    ASSERT_TRUE(asleep) << "round " << round;
    EXPECT_FALSE(got.load());
    xlock_release(&m);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!got.load() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (!got.load()) {
      ADD_FAILURE() << "round " << round << ": the sleeping taker was not woken";
      std::fflush(nullptr);
      _exit(1);  // the waiter sleeps for ever: no clean way to join it
    }
    waiter.join();
    EXPECT_EQ(w[0], 0u);
    EXPECT_EQ(w[1], 0u);  // the woken taker no longer counts as a sleeper
  }
}

INSTANTIATE_TEST_SUITE_P(ReleaseKind, XlockWake, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Plain" : "Exchange";
                         });

// A lock word read while another thread may change it.
uint32_t word_at(const uint32_t* w, int i) { return __atomic_load_n(w + i, __ATOMIC_RELAXED); }

pid_t gettid_now() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// True once the thread is asleep in a futex wait (thread state S, and the kernel's wait
// channel a futex wait where the kernel shows it), and the lock counts `counted` takers.
bool wait_until_asleep(pid_t tid, const uint32_t* w, uint32_t counted = 1) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string wchan = thread_wchan(tid);
    if (__atomic_load_n(w + 1, __ATOMIC_RELAXED) == counted && thread_state(tid) == 'S' &&
        (wchan.empty() || wchan == "0" || wchan.find("futex") != std::string::npos))
      return true;
  }
  return false;
}

// Waits for flag; false after the deadline.
bool wait_for(const std::atomic<bool>& flag, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!flag.load() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  return flag.load();
}

// Holds one thread at one point of the slow path until let go; counts the barriers it
// issues.
struct Gate {
  std::atomic<pid_t> tid{0};
  xlock_detail::slow_point point = xlock_detail::point_counted;
  std::atomic<bool> armed{false};    // the next pass at the point stops
  std::atomic<bool> reached{false};  // the thread stopped there
  std::atomic<bool> go{false};
  std::atomic<int> barriers{0};
};
Gate* g_gates[2] = {nullptr, nullptr};

Gate* gate_of_this_thread() {
  const pid_t tid = gettid_now();
  for (Gate* g : g_gates)
    if (g != nullptr && g->tid.load() == tid) return g;
  return nullptr;
}

void gate_hook(xlock_detail::slow_point point) {
  Gate* g = gate_of_this_thread();
  if (g == nullptr || point != g->point || !g->armed.exchange(false)) return;
  g->reached.store(true);
  while (!g->go.load()) std::this_thread::yield();
}

long counting_barrier() {
  if (Gate* g = gate_of_this_thread()) ++g->barriers;
  return syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0);
}

// A taker held in a window of the slow path while the holder acts, then let go.
struct WindowCase {
  const char* name;
  bool second;                    // another taker counted itself first (and stays counted)
  xlock_detail::slow_point stop;  // counted (before any barrier), or woken from its sleep
  bool retake;                    // the holder releases there and takes the lock again
  int barriers;                   // barriers the taker issues in all (plain releases)
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

const WindowCase kWindows[] = {
    {"FirstCountedReleased", false, xlock_detail::point_counted, false, 0},
    {"FirstCountedTakenAgain", false, xlock_detail::point_counted, true, 1},
    {"FirstWokenReleased", false, xlock_detail::point_woken, false, 1},
    {"FirstWokenTakenAgain", false, xlock_detail::point_woken, true, 1},
    {"SecondCountedTakenAgain", true, xlock_detail::point_counted, true, 0},
    {"SecondWokenTakenAgain", true, xlock_detail::point_woken, true, 0},
};

class XlockWindow : public ::testing::TestWithParam<std::tuple<bool, WindowCase>> {
 protected:
  void SetUp() override {
    saved_ = xlock_detail::plain_release;
    plain_ = std::get<0>(GetParam());
    if (plain_ && !saved_) GTEST_SKIP() << "membarrier not available: releases exchange";
    xlock_detail::plain_release = plain_;
    xlock_detail::backstop = {3600, 0};
    g_gates[0] = &taker_;
    g_gates[1] = &first_;
    xlock_detail::slow_hook = gate_hook;
    xlock_detail::barrier_hook = counting_barrier;
  }
  void TearDown() override {
    xlock_detail::slow_hook = nullptr;
    xlock_detail::barrier_hook = nullptr;
    g_gates[0] = g_gates[1] = nullptr;
    xlock_detail::plain_release = saved_;
    xlock_detail::backstop = {0, 50 * 1000000};
  }
  bool saved_ = false, plain_ = false;
  Gate taker_, first_;  // the taker under test; the one counted before it ("second" cases)
};

// Starts a thread that takes the lock once through gate g (held at g's point when armed).
std::thread start_taker(pthread_mutex_t* m, Gate* g, std::atomic<bool>* got) {
  std::thread t([=] {
    g->tid.store(gettid_now());
    xlock_acquire(m);
    got->store(true);
    xlock_release(m);
  });
  while (g->tid.load() == 0) std::this_thread::yield();
  return t;
}

TEST_P(XlockWindow, HeldTakerGetsTheLock) {
  const WindowCase& c = std::get<1>(GetParam());
  pthread_mutex_t m;
  pthread_mutex_init(&m, nullptr);
  uint32_t* w = reinterpret_cast<uint32_t*>(&m);
  xlock_acquire(&m);
  std::atomic<bool> first_got{false}, got{false};
  std::thread first;
  if (c.second) {  // held just after counting itself, until the end
    first_.armed.store(true);
    first = start_taker(&m, &first_, &first_got);
    ASSERT_TRUE(wait_for(first_.reached, 10));
  }
  const uint32_t others = c.second ? 1 : 0;
  taker_.point = c.stop;
  taker_.armed.store(c.stop == xlock_detail::point_counted);
  std::thread taker = start_taker(&m, &taker_, &got);
  if (c.stop == xlock_detail::point_woken) {
    ASSERT_TRUE(wait_until_asleep(taker_.tid.load(), w, others + 1));
    taker_.armed.store(true);
    xlock_release(&m);  // wakes it: it stops before spinning again
  }
  ASSERT_TRUE(wait_for(taker_.reached, 10));
  if (c.stop == xlock_detail::point_counted) xlock_release(&m);
  EXPECT_EQ(word_at(w, 1), others + 1);  // still counted
  if (c.retake) xlock_acquire(&m);
  taker_.go.store(true);
  if (c.retake) {
    ASSERT_TRUE(wait_until_asleep(taker_.tid.load(), w, others + 1));
    EXPECT_FALSE(got.load());
    xlock_release(&m);
  }
  const bool taken = wait_for(got, 10);
  if (!taken) xlock_detail::wake_one(w);  // let it go, so that it can be joined
  taker.join();
  EXPECT_TRUE(taken) << "the taker did not get the lock";
  if (c.second) {
    first_.go.store(true);
    first.join();
    EXPECT_TRUE(first_got.load());
  }
  EXPECT_EQ(word_at(w, 0), 0u);
  EXPECT_EQ(word_at(w, 1), 0u);
  EXPECT_EQ(taker_.barriers.load(), plain_ ? c.barriers : 0);
}

INSTANTIATE_TEST_SUITE_P(Windows, XlockWindow,
                         ::testing::Combine(::testing::Values(true, false),
                                            ::testing::ValuesIn(kWindows)),
                         [](const ::testing::TestParamInfo<std::tuple<bool, WindowCase>>& i) {
                           return std::string(std::get<0>(i.param) ? "Plain" : "Exchange") + "_" +
                                  std::get<1>(i.param).name;
                         });

// Makes membarrier return 0 without running, for the calling thread only (as a sandbox's
// filter can); false when the kernel refuses the filter.
bool answer_membarrier_with_zero() {
  struct sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_membarrier, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog prog = {static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &prog) == 0;
}

// A wake-up lost for good without a backstop: the taker sleeps (after a barrier that did
// not run, when it is the first counted taker; without one when another taker counted
// itself first), and the lock is then cleared by a release that read the count before the
// taker counted itself, so it wakes nobody. The sleep's bound must bring the taker back.
class XlockBackstop : public ::testing::TestWithParam<bool> {};

TEST_P(XlockBackstop, LostWakeUpIsRecovered) {
  const bool second = GetParam();
  pthread_mutex_t m;
  pthread_mutex_init(&m, nullptr);
  uint32_t* w = reinterpret_cast<uint32_t*>(&m);
  xlock_acquire(&m);
  if (second) __atomic_fetch_add(w + 1, 1u, __ATOMIC_SEQ_CST);  // a taker counted elsewhere
  std::atomic<pid_t> tid{0};
  std::atomic<bool> filtered{false}, got{false};
  std::thread taker([&] {
    filtered.store(answer_membarrier_with_zero());
    tid.store(gettid_now());
    xlock_acquire(&m);
    got.store(true);
    xlock_release(&m);
  });
  while (tid.load() == 0) std::this_thread::yield();
  if (!filtered.load()) ADD_FAILURE() << "the membarrier filter was refused";
  ASSERT_TRUE(wait_until_asleep(tid.load(), w, second ? 2 : 1));
  __atomic_store_n(w, 0u, __ATOMIC_RELEASE);  // released without a wake-up
  const bool taken = wait_for(got, 10);
  if (!taken) xlock_detail::wake_one(w);
  taker.join();
  EXPECT_TRUE(taken) << "the lost wake-up was not recovered";
  if (second) __atomic_fetch_sub(w + 1, 1u, __ATOMIC_SEQ_CST);
  EXPECT_EQ(word_at(w, 0), 0u);
  EXPECT_EQ(word_at(w, 1), 0u);
}

INSTANTIATE_TEST_SUITE_P(Taker, XlockBackstop, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Second" : "First";
                         });

TEST(XaUnpooled, ForgetBeforeAnyRecordAndRecordedBlocks) {
  int a = 0, b = 0;
  EXPECT_FALSE(xa_unpooled_forget(&a));  // nothing recorded yet in this process
  ASSERT_TRUE(xa_unpooled_record(&a));
  EXPECT_FALSE(xa_unpooled_forget(&b));
  EXPECT_TRUE(xa_unpooled_forget(&a));
  EXPECT_FALSE(xa_unpooled_forget(&a));  // once only
}

}  // namespace
