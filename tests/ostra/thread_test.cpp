#include "ostra/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "runtime_test_support.h"

namespace {

using namespace std::chrono_literals;
using Ostra::ThrControl;
using Ostra::ThrGroup;
using ostra_test::eventually;
using ostra_test::Watchdog;

class MemberBody : public Ostra::Thread::ThrBody {
 public:
  using Fn = std::function<void(MemberBody&)>;
  explicit MemberBody(Fn fn, std::atomic<int>* destroyed = nullptr) : fn_(std::move(fn)), destroyed_(destroyed) {}
  ~MemberBody() override {
    if (destroyed_) ++*destroyed_;
  }

  void run() override {
    record = ThrControl::current();
    threadId = platform::currentThreadId();
    fn_(*this);
  }
  void onStop() override {
    ++stops;
    ThrBody::onStop();
  }
  void onSuspend() override {
    ++suspends;
    ThrBody::onSuspend();
  }

  std::atomic<ThrControl*> record{nullptr};
  std::atomic<platform::ThreadId> threadId{0};
  std::atomic<int> stops{0};
  std::atomic<int> suspends{0};
  std::atomic<bool> release{false};

 private:
  Fn fn_;
  std::atomic<int>* destroyed_;
};

using BodyRef = xtd::ref_ptr<MemberBody>;

xtd::ref_ptr<Ostra::Thread::ThrBody> asBody(const BodyRef& b) { return xtd::ref_ptr<Ostra::Thread::ThrBody>(b.get()); }

void waitForRelease(MemberBody& b) {
  while (!b.release.load()) std::this_thread::sleep_for(1ms);
}

// A member that acknowledges suspensions and ends when the group stops.
void cooperativeMember(MemberBody& b) {
  for (;;) {
    const std::int32_t s = b.groupState->load();
    if (s == ThrGroup::Stopping) return;
    if (s == ThrGroup::Suspended)
      ThrControl::current()->group->acknowledgeSuspend();
    else
      std::this_thread::sleep_for(1ms);
  }
}

bool label(const std::atomic<const char*>& l, const char* text) {
  const char* v = l.load();
  return v != nullptr && std::strcmp(v, text) == 0;
}

TEST(ThrGroupTest, StartedMemberRunsOnItsOwnThreadAndJoinFreesItsRecord) {
  Watchdog dog("started member");
  ThrGroup group;
  std::atomic<ThrGroup*> seenGroup{nullptr};
  BodyRef body(new MemberBody([&](MemberBody& b) {
    seenGroup = ThrControl::current()->group;
    waitForRelease(b);
  }));
  platform::ThreadId id = 0;
  ASSERT_TRUE(group.startThread(asBody(body), &id));
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(eventually([&] { return seenGroup.load() != nullptr; }));
  EXPECT_EQ(seenGroup.load(), &group);
  EXPECT_EQ(body->threadId.load(), id);
  EXPECT_NE(id, platform::currentThreadId());
  EXPECT_EQ(body->groupState, group.stateWord());
  EXPECT_EQ(group.live(), 1);
  EXPECT_EQ(body->ref_count(), 2);  // ours and the member record's
  body->release = true;
  group.join();
  EXPECT_EQ(group.live(), 0);
  EXPECT_EQ(group.finishedCount(), 0);
  // The record let go of the body, and the body no longer points at the group.
  EXPECT_EQ(body->ref_count(), 1);
  EXPECT_EQ(body->groupState, nullptr);
}

TEST(ThrGroupTest, BodyHeldOnlyByTheMemberIsDestroyedWhenTheThreadEnds) {
  Watchdog dog("body destruction");
  ThrGroup group;
  std::atomic<int> destroyed{0};
  ASSERT_TRUE(group.startThread(xtd::ref_ptr<Ostra::Thread::ThrBody>(new MemberBody([](MemberBody&) {}, &destroyed))));
  group.join();
  EXPECT_EQ(destroyed.load(), 1);
  // Joining a group whose members have all ended returns at once.
  group.join();
}

TEST(ThrGroupTest, RunHereRunsOnTheCallingThreadAndRestoresTheRecord) {
  Watchdog dog("runHere");
  ThrGroup group;
  ThrControl* self = ThrControl::current();
  ThrGroup* const outerGroup = self->group;
  ASSERT_NE(outerGroup, nullptr);
  ASSERT_NE(outerGroup, &group);
  bool sawMembership = false;
  BodyRef body(new MemberBody([&](MemberBody& b) {
    sawMembership = ThrControl::current() == self && self->group == &group && self->body.get() == &b &&
                    group.live() == 1 && b.groupState == group.stateWord();
  }));
  group.runHere(asBody(body));
  EXPECT_TRUE(sawMembership);
  EXPECT_EQ(body->threadId.load(), platform::currentThreadId());
  EXPECT_EQ(self->group, outerGroup);
  EXPECT_EQ(self->body.get(), nullptr);
  EXPECT_EQ(group.live(), 0);
  // A hosted member leaves no record behind to reap.
  EXPECT_EQ(group.finishedCount(), 0);
  EXPECT_EQ(body->ref_count(), 1);
}

TEST(ThrGroupTest, SuspendByTheOnlyMemberCountsItselfAndReturnsAtOnce) {
  Watchdog dog("suspend by sole member", 20s);
  ThrGroup group;
  std::int32_t stateAfter = -1;
  std::int32_t acksAfter = -1;
  BodyRef body(new MemberBody([&](MemberBody&) {
    group.suspendAndWait();
    stateAfter = group.state();
    acksAfter = group.acks();
  }));
  group.runHere(asBody(body));
  EXPECT_EQ(stateAfter, ThrGroup::Suspended);
  EXPECT_EQ(acksAfter, 0);
  EXPECT_EQ(body->suspends.load(), 1);
  group.stop();
  EXPECT_EQ(group.state(), ThrGroup::Stopping);
}

TEST(ThrGroupTest, SuspendOnAStoppingGroupReturnsAtOnceEitherWay) {
  Watchdog dog("suspend on stopping group", 20s);
  ThrGroup group;
  BodyRef body(new MemberBody(&cooperativeMember));
  ASSERT_TRUE(group.startThread(asBody(body)));
  group.stop();
  group.suspendAndWait();
  group.requestSuspend();
  EXPECT_EQ(group.state(), ThrGroup::Stopping);
  EXPECT_EQ(body->suspends.load(), 0);
  group.join();
}

TEST(ThrGroupTest, SuspendWaitsUntilEveryMemberAcknowledgedAndStopReleasesThem) {
  Watchdog dog("suspend and acknowledge");
  ThrGroup group;
  BodyRef a(new MemberBody(&cooperativeMember));
  BodyRef b(new MemberBody(&cooperativeMember));
  ASSERT_TRUE(group.startThread(asBody(a)));
  ASSERT_TRUE(group.startThread(asBody(b)));
  group.suspendAndWait();
  // Both members have counted themselves and block until the state changes.
  EXPECT_EQ(group.acks(), 2);
  EXPECT_EQ(group.state(), ThrGroup::Suspended);
  for (const BodyRef* body : {&a, &b}) {
    ThrControl* r = (*body)->record.load();
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(label(r->activity, "ThrGroup::suspend_ack"));
    EXPECT_TRUE(label(r->waitingOn, "ThrGroup.resume"));
    EXPECT_EQ((*body)->suspends.load(), 1);
  }
  // Suspending again changes nothing and calls no hook.
  group.suspendAndWait();
  EXPECT_EQ(a->suspends.load(), 1);
  group.stop();
  group.join();
  EXPECT_EQ(a->stops.load(), 1);
  EXPECT_EQ(b->stops.load(), 1);
  EXPECT_EQ(group.acks(), 0);
  EXPECT_EQ(group.live(), 0);
}

TEST(ThrGroupTest, AMemberThatEndsDuringASuspensionWakesTheSuspender) {
  Watchdog dog("member ending during suspension");
  ThrGroup group;
  BodyRef member(new MemberBody(&waitForRelease));
  ASSERT_TRUE(group.startThread(asBody(member)));
  std::atomic<ThrControl*> suspender{nullptr};
  std::atomic<bool> returned{false};
  std::thread t([&] {
    suspender = ThrControl::current();
    group.suspendAndWait();
    returned = true;
  });
  ASSERT_TRUE(eventually([&] {
    ThrControl* r = suspender.load();
    return r != nullptr && label(r->waitingOn, "ThrGroup.done");
  }));
  EXPECT_FALSE(returned.load());
  member->release = true;
  t.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(group.live(), 0);
  group.stop();
  group.join();
}

TEST(ThrGroupTest, StopOnAnActiveGroupSwitchesStateCallsOnStopAndASecondStopDoesNothing) {
  Watchdog dog("stop");
  ThrGroup group;
  BodyRef a(new MemberBody(&cooperativeMember));
  BodyRef b(new MemberBody(&cooperativeMember));
  ASSERT_TRUE(group.startThread(asBody(a)));
  ASSERT_TRUE(group.startThread(asBody(b)));
  group.stop();
  EXPECT_EQ(group.state(), ThrGroup::Stopping);
  group.stop();
  EXPECT_EQ(a->stops.load(), 1);
  EXPECT_EQ(b->stops.load(), 1);
  EXPECT_EQ(a->suspends.load(), 0);
  group.join();
  EXPECT_EQ(group.state(), ThrGroup::Stopping);
}

platform::ThreadId refuseToStart(platform::ThreadRoutine, void*) { return 0; }

TEST(ThrGroupTest, AFailedThreadStartCountsAsAMemberThatEndedAtOnce) {
  Watchdog dog("failed start");
  ThrGroup group;
  std::atomic<int> destroyed{0};
  BodyRef body(new MemberBody([](MemberBody&) { ADD_FAILURE() << "a body whose thread never started ran"; }, &destroyed));
  platform::setThreadStarterForTesting(&refuseToStart);
  platform::ThreadId id = 12345;
  const bool started = group.startThread(asBody(body), &id);
  platform::setThreadStarterForTesting(nullptr);
  EXPECT_FALSE(started);
  EXPECT_EQ(id, 12345u);
  EXPECT_EQ(group.live(), 0);
  EXPECT_EQ(group.finishedCount(), 1);
  EXPECT_EQ(body->ref_count(), 1);
  EXPECT_EQ(body->groupState, nullptr);
  group.join();
  EXPECT_EQ(group.finishedCount(), 0);
  body.reset();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ThrGroupTest, JoinShowsItsLabelsAndReturnsWhenAHostedMemberLeaves) {
  Watchdog dog("join with a hosted member");
  ThrGroup group;
  BodyRef hosted(new MemberBody(&waitForRelease));
  std::thread host([&] { group.runHere(asBody(hosted)); });
  ASSERT_TRUE(eventually([&] { return group.live() == 1; }));
  std::atomic<ThrControl*> joiner{nullptr};
  std::atomic<bool> joined{false};
  std::atomic<bool> labelsCleared{false};
  std::thread j([&] {
    joiner = ThrControl::current();
    group.join();
    labelsCleared = joiner.load()->waitingOn.load() == nullptr && joiner.load()->activity.load() == nullptr;
    joined = true;
  });
  ASSERT_TRUE(eventually([&] {
    ThrControl* r = joiner.load();
    return r != nullptr && label(r->activity, "ThrGroup::wait") && label(r->waitingOn, "ThrGroup.done");
  }));
  EXPECT_FALSE(joined.load());
  hosted->release = true;
  host.join();
  j.join();
  EXPECT_TRUE(joined.load());
  // Labels are cleared once the wait is over.
  EXPECT_TRUE(labelsCleared.load());
}

TEST(ThrGroupTest, DefaultGroupHoldsThreadsOutsideAnyOtherGroup) {
  EXPECT_EQ(ThrControl::current()->group, &ThrGroup::defaultGroup());
  std::atomic<ThrGroup*> seen{nullptr};
  std::atomic<platform::ThreadId> seenId{0};
  std::thread t([&] {
    ThrControl* r = ThrControl::current();
    seen = r->group;
    seenId = r->threadId;
  });
  t.join();
  EXPECT_EQ(seen.load(), &ThrGroup::defaultGroup());
  EXPECT_NE(seenId.load(), 0u);
  EXPECT_NE(seenId.load(), platform::currentThreadId());
}

}  // namespace
