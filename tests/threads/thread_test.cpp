// Thread objects: one run per start on one persistent OS thread, waiting, repeating, quitting
// and destruction on the object's own thread.
#include "support/proc_counts.h"

#include <host/error.h>
#include <host/threads.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Records each run's arguments and OS thread; optionally holds each run until released.
class Recorder : public host::Thread {
  public:
    struct Run {
        host::ThreadArgs args;
        std::thread::id thread;
    };
    std::vector<Run> runs() {
        std::lock_guard lk(m_);
        return runs_;
    }
    void holdRuns(bool on) {
        std::lock_guard lk(m_);
        hold_ = on;
        cv_.notify_all();
    }
    void waitRuns(std::size_t n) {
        std::unique_lock lk(m_);
        cv_.wait(lk, [&] { return runs_.size() >= n; });
    }

  protected:
    void execute(const host::ThreadArgs& args) override {
        std::unique_lock lk(m_);
        runs_.push_back({args, std::this_thread::get_id()});
        cv_.notify_all();
        cv_.wait(lk, [&] { return !hold_; });
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool hold_ = false;
    std::vector<Run> runs_;
};

TEST(Thread, EachStartIsOneRunOnTheSameOsThreadWithItsArguments) {
    auto t = std::make_shared<Recorder>();
    t->init();
    EXPECT_TRUE(t->start(host::Nil, host::Text("tip one"), 7, 2.5, true));
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_TRUE(t->start(host::Nil, host::Text(host::Nil)));
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_TRUE(t->start(host::Nil));
    EXPECT_TRUE(t->synchronize(0));

    const auto runs = t->runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].args, (host::ThreadArgs{std::string("tip one"), 7LL, 2.5, true}));
    EXPECT_EQ(host::TextArg(runs[0].args, 0), host::Text("tip one"));
    EXPECT_EQ(runs[1].args, host::ThreadArgs{std::monostate{}});
    EXPECT_EQ(host::TextArg(runs[1].args, 0), host::Text(host::Nil));
    EXPECT_TRUE(runs[2].args.empty());
    EXPECT_EQ(host::TextArg(runs[2].args, 0), host::Text(host::Nil));
    EXPECT_THROW(host::TextArg(runs[0].args, 1), host::Error);
    EXPECT_NE(runs[0].thread, std::this_thread::get_id());
    EXPECT_EQ(runs[0].thread, runs[1].thread);
    EXPECT_EQ(runs[1].thread, runs[2].thread);
    EXPECT_EQ(t->runCount(), 3);
}

TEST(Thread, StartWhileARunIsInProgressWaitsForItAndDropsNoRun) {
    auto t = std::make_shared<Recorder>();
    t->holdRuns(true);
    ASSERT_TRUE(t->start(host::Nil, 1));
    t->waitRuns(1);
    EXPECT_TRUE(t->active());
    EXPECT_FALSE(t->synchronize(2)); // still held after 20 ms

    // A second start blocks until the first run ends, then runs.
    auto second = std::async(std::launch::async, [&] { return t->start(host::Nil, 2); });
    EXPECT_EQ(second.wait_for(50ms), std::future_status::timeout);
    t->holdRuns(false);
    EXPECT_TRUE(second.get());
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_FALSE(t->active());

    // Starts in quick succession: each one runs, in order.
    for (int i = 3; i <= 6; ++i) {
        ASSERT_TRUE(t->start(host::Nil, i));
    }
    EXPECT_TRUE(t->synchronize(0));
    const auto runs = t->runs();
    ASSERT_EQ(runs.size(), 6u);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].args, host::ThreadArgs{static_cast<long long>(i + 1)});
    }
}

TEST(Thread, SynchronizeWaitsForTheRunToEnd) {
    auto t = std::make_shared<host::Thread>();
    EXPECT_FALSE(t->active());
    EXPECT_TRUE(t->synchronize(0)); // never started: nothing to wait for
    std::atomic<bool> finished{false};
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| pause}", [&] {
        std::this_thread::sleep_for(80ms);
        finished = true;
    })));
    EXPECT_TRUE(t->active());
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_TRUE(finished);
    EXPECT_FALSE(t->active());
}

TEST(Thread, IntervalRepeatsTheRoutineUntilCleared) {
    auto t = std::make_shared<host::Thread>();
    std::atomic<int> count{0};
    t->setInterval(1); // every 10 ms
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| count++}", [&] { ++count; })));
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (count < 4 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(count, 4);
    EXPECT_TRUE(t->active()); // repeating is one run
    t->setInterval(host::Nil);
    EXPECT_TRUE(t->synchronize(0));
    const int settled = count;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(count, settled);
    EXPECT_THROW(t->setInterval(-1), host::Error);
}

TEST(Thread, QuitEndsTheOsThreadAndALaterStartMakesAFreshOne) {
    const int before = proc::baselineThreadCount();
    auto t = std::make_shared<Recorder>();
    ASSERT_TRUE(t->start(host::Nil));
    ASSERT_TRUE(t->synchronize(0));
    EXPECT_EQ(proc::threadCount(), before + 1); // idle between runs, still there
    ASSERT_TRUE(t->start(host::Nil));
    ASSERT_TRUE(t->synchronize(0));
    EXPECT_EQ(proc::threadCount(), before + 1); // the same one served the second run

    t->quit();
    EXPECT_TRUE(proc::waitThreadCount(before, 2s));

    ASSERT_TRUE(t->start(host::Nil));
    ASSERT_TRUE(t->synchronize(0));
    EXPECT_EQ(proc::threadCount(), before + 1);
    const auto runs = t->runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].thread, runs[1].thread);
    t.reset();
    EXPECT_TRUE(proc::waitThreadCount(before, 2s));
}

TEST(Thread, QuitDuringARepeatingRunEndsItAfterTheCurrentPass) {
    const int before = proc::baselineThreadCount();
    auto t = std::make_shared<host::Thread>();
    std::atomic<int> count{0};
    t->setInterval(1);
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| count++}", [&] { ++count; })));
    while (count < 2) {
        std::this_thread::sleep_for(2ms);
    }
    t->quit();
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_TRUE(proc::waitThreadCount(before, 2s));
}

TEST(Thread, ClassSideQuitEndsTheThreadRunningTheRoutine) {
    const int before = proc::baselineThreadCount();
    const auto cls = host::Thread::classFunction();
    auto t = cls->New<host::Thread>();
    EXPECT_EQ(t->classObject(), cls);
    // Sent from outside any run, the class side has no thread to act on.
    cls->threadPart().quit();
    EXPECT_FALSE(cls->threadPart().active());
    EXPECT_TRUE(cls->threadPart().synchronize(0));
    EXPECT_THROW(cls->threadPart().start(host::Nil), host::Error);

    std::atomic<int> count{0};
    t->setInterval(1);
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| ::quitThread()}", [&] {
        ++count;
        cls->threadPart().setInterval(host::Nil);
        cls->threadPart().quit();
    })));
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(t->interval(), std::nullopt);
    EXPECT_TRUE(proc::waitThreadCount(before, 2s));
}

TEST(Thread, LastReferenceDroppedOnItsOwnThreadEndsCleanly) {
    const int before = proc::baselineThreadCount();
    std::promise<void> released;
    std::promise<void> done;
    {
        auto t = std::make_shared<host::Thread>();
        auto mine = t;
        // The callback holds a reference; the test drops its own while the run goes on, so the
        // last one goes when the run's callback is destroyed, on the thread itself.
        ASSERT_TRUE(t->start(host::Callback<void()>(
            "{|| wait}", [held = std::move(mine), f = released.get_future().share(), &done] {
                f.wait();
                done.set_value();
            })));
    }
    released.set_value();
    done.get_future().wait();
    EXPECT_TRUE(proc::waitThreadCount(before, 2s));
}

TEST(Thread, MisuseIsReportedAsAnError) {
    host::Thread unshared;
    EXPECT_THROW(unshared.start(host::Nil), host::Error);

    auto t = std::make_shared<host::Thread>();
    EXPECT_THROW(t->start(host::Callback<void()>{}), host::Error);
    std::atomic<int> errors{0};
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| self-start}", [&] {
        try {
            t->start(host::Nil);
        } catch (const host::Error&) {
            ++errors;
        }
        try {
            t->synchronize(0);
        } catch (const host::Error&) {
            ++errors;
        }
    })));
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_EQ(errors, 2);

    // A run that raises (the base has no execute) is reported; the thread serves on.
    ASSERT_TRUE(t->start(host::Nil));
    EXPECT_TRUE(t->synchronize(0));
    std::atomic<bool> ran{false};
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| ran}", [&] { ran = true; })));
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_TRUE(ran);
}

// A stop request ends a pause in progress and every later one of that run, and wakes a wait
// registered with StopWake; the next run pauses in full again. Off a host thread nothing is
// stopped. The bounds are generous: a pause not cut short would take ten seconds.
TEST(Thread, StopRequestCutsThePausesOfThatRunShort) {
    auto t = std::make_shared<host::Thread>();
    std::promise<void> pausing;
    std::atomic<int> woken{0};
    std::atomic<bool> firstStopped{false}, laterStopped{false}, flagSeen{false};
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| pause}", [&] {
        host::StopWake wake([&] { ++woken; });
        pausing.set_value();
        firstStopped = host::PauseUntilStop(10s);
        laterStopped = host::PauseUntilStop(10s);
        flagSeen = host::StopRequested();
    })));
    pausing.get_future().wait();
    const auto t0 = std::chrono::steady_clock::now();
    t->requestStop();
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_TRUE(firstStopped);
    EXPECT_TRUE(laterStopped);
    EXPECT_TRUE(flagSeen);
    EXPECT_EQ(woken, 1);

    // The request belonged to that run: the next one pauses until its time-out.
    std::atomic<bool> stoppedAgain{true};
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| pause}", [&] {
        stoppedAgain = host::PauseUntilStop(20ms) || host::StopRequested();
    })));
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_FALSE(stoppedAgain);
    // With no run in progress a request is dropped, not kept for the next run.
    t->requestStop();
    ASSERT_TRUE(t->start(host::Callback<void()>("{|| pause}", [&] {
        stoppedAgain = host::PauseUntilStop(20ms) || host::StopRequested();
    })));
    EXPECT_TRUE(t->synchronize(0));
    EXPECT_FALSE(stoppedAgain);
    EXPECT_FALSE(host::StopRequested());
    EXPECT_FALSE(host::PauseUntilStop(1ms));
}

} // namespace
