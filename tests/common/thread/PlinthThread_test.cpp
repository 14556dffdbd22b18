#include "common/thread/PlinthThread.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "support/TestSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

TEST(PlinthThreadTest, NeverStartedThreadIsDestroyedPromptlyWithoutCallingTheHandler) {
  std::atomic<int> work{0}, starts{0}, ends{0};
  auto started = std::chrono::steady_clock::now();
  {
    TPlinthTaskThread t;
    t.OnWork = [&](void*, TPlinthThread&) { ++work; };
    t.OnThreadStart = [&](TPlinthThread&) { ++starts; };
    t.OnThreadTerminate = [&](TPlinthThread&) { ++ends; };
  }
  EXPECT_EQ(work, 0);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(ends, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

TEST(PlinthThreadTest, HandlerIsCalledRepeatedlyWithAPauseBetweenCalls) {
  std::atomic<int> work{0};
  TPlinthTaskThread t;
  t.OnWork = [&](void*, TPlinthThread&) { ++work; };
  t.Start();
  ASSERT_TRUE(test::WaitUntil([&] { return work >= 3; }, 2s));
  t.StopAndWait();
  int calls = work;
  EXPECT_LE(calls, 15) << "about ten calls a second, not a busy loop";
}

TEST(PlinthThreadTest, StopInterruptsThePauseAtOnce) {
  std::atomic<int> work{0};
  TPlinthTaskThread t;
  t.OnWork = [&](void*, TPlinthThread&) { ++work; };
  t.Start();
  ASSERT_TRUE(test::WaitUntil([&] { return work >= 1; }, 2s));
  auto before = std::chrono::steady_clock::now();
  t.StopAndWait();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 90ms);
}

TEST(PlinthThreadTest, StopDuringALongHandlerReturnsAtOnceAndDestructionWaitsForTheHandler) {
  std::atomic<bool> inHandler{false}, handlerDone{false};
  auto t = std::make_unique<TPlinthTaskThread>();
  t->OnWork = [&](void*, TPlinthThread&) {
    inHandler = true;
    std::this_thread::sleep_for(300ms);
    handlerDone = true;
  };
  t->Start();
  ASSERT_TRUE(test::WaitUntil([&] { return inHandler.load(); }, 2s));
  auto before = std::chrono::steady_clock::now();
  t->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 50ms) << "Stop does not wait";
  EXPECT_FALSE(handlerDone);
  t.reset();
  EXPECT_TRUE(handlerDone) << "destruction waits for the running handler";
}

TEST(PlinthThreadTest, AHandlerThatRaisesOnEveryCallKeepsTheThreadAliveAndLogsEachTime) {
  test::LogCapture log;
  std::atomic<int> work{0};
  TPlinthTaskThread t;
  t.ThreadName = "worker";
  t.OnWork = [&](void*, TPlinthThread&) {
    ++work;
    throw std::runtime_error("always fails");
  };
  t.Start();
  ASSERT_TRUE(test::WaitUntil([&] { return work >= 3; }, 2s));
  t.StopAndWait();
  EXPECT_EQ(log.Count("[TPlinthTaskThread.DoWork] Thread : worker | Error : always fails"),
            static_cast<size_t>(work.load()));
}

TEST(PlinthThreadTest, WithoutAHandlerTheThreadIdlesUntilStopped) {
  TPlinthTaskThread t;
  t.Start();
  std::this_thread::sleep_for(150ms);
  EXPECT_FALSE(t.Terminated());
  t.StopAndWait();
  EXPECT_TRUE(t.Terminated());
}

}  // namespace
}  // namespace courio
