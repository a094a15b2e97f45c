#include "platform/interprocess_mutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <boost/interprocess/shared_memory_object.hpp>
#include <string>
#include <thread>
#include <vector>

namespace {

class InterprocessMutexTest : public ::testing::Test {
 protected:
  // A killed run leaves its segment behind, and process numbers come round.
  void SetUp() override { boost::interprocess::shared_memory_object::remove(segment.c_str()); }
  void TearDown() override { boost::interprocess::shared_memory_object::remove(segment.c_str()); }
  std::string segment = "quil_mutex_test_" + std::to_string(getpid());
};

// Threads of one process share one opening (two mappings of the segment in
// one process would show the same mutex at two addresses, which the thread
// sanitizer cannot relate); processes are covered by the log stress test.
TEST_F(InterprocessMutexTest, SerialisesThreads) {
  quil::platform::NamedInterprocessMutex m(segment, 4096, "M");
  int counter = 0;  // deliberately not atomic: the mutex is what protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        quil::platform::InterprocessLock lock(m);
        ++counter;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 8000);
}

using Result = quil::platform::NamedInterprocessMutex::LockResult;

// A holder that is stopped, not dead, keeps the mutex: the wait ends at its
// bound with a failure, and nothing is unlocked that was not taken. Once the
// holder is killed its mutex is taken over, and is an ordinary one again.
TEST_F(InterprocessMutexTest, AStoppedHolderKeepsItAndAKilledOneLosesIt) {
  alarm(30);  // a hang fails the test instead of blocking CI
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    quil::platform::NamedInterprocessMutex held(segment, 4096, "M");
    held.lock();
    (void)!write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(kill(child, SIGSTOP), 0);
  quil::platform::NamedInterprocessMutex m(segment, 4096, "M");
  {
    quil::platform::InterprocessLock guard(m);
    EXPECT_EQ(guard.result(), Result::kFailed);
    EXPECT_FALSE(guard.held());
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(m.lock(), Result::kRecovered) << "the dead holder is reported as recovered";
  m.unlock();
  EXPECT_EQ(m.lock(), Result::kLocked) << "after recovery the mutex is an ordinary one again";
  m.unlock();
  close(ready[0]);
  close(ready[1]);
  alarm(0);
}

}  // namespace
