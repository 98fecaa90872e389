#pragma once

#include <atomic>
#include <cstdint>

#include "ostra/cond.h"
#include "ostra/lock.h"
#include "platform/threads.h"
#include "xtd/ivlink.h"
#include "xtd/refcount.h"

namespace Ostra {

class ThrGroup;

namespace Thread {

// The work of a runtime thread. Bodies are shared through an intrusive
// reference count and are destroyed on whichever thread drops the last one.
class ThrBody : public xtd::IvRefCount_T<xtd::atomic_ref_count> {
 public:
  ThrBody() noexcept = default;

  // The thread's work.
  virtual void run() = 0;
  // A hook that nudges the thread out of a wait of its own; nothing by default.
  virtual void wake() {}
  // Called by the group's stop and suspend requests for every member, with
  // the group lock held: an override must not take that lock.
  virtual void onStop() { wake(); }
  virtual void onSuspend() { wake(); }

  // The state of the group running the body; set by the group before run.
  const std::atomic<std::int32_t>* groupState = nullptr;
};

}  // namespace Thread

// One per runtime thread, reached through the runtime's thread-local slot.
// The labels say what the thread is doing and what it waits on while it
// blocks; they are for whoever inspects a stuck process.
class ThrControl : public xtd::ivlink<ThrControl, 0> {
 public:
  ThrControl() noexcept = default;
  ThrControl(const ThrControl&) = delete;
  ThrControl& operator=(const ThrControl&) = delete;

  // The calling thread's record. A thread the runtime did not start gets
  // one of its own, in the default group, on its first call.
  static ThrControl* current();
  // Makes `record` the calling thread's record.
  static void setCurrent(ThrControl* record);

  std::atomic<const char*> waitingOn{nullptr};
  std::atomic<const char*> activity{nullptr};
  xtd::ref_ptr<Thread::ThrBody> body;
  platform::ThreadId threadId = 0;
  ThrGroup* group = nullptr;
};

// A group of threads running bodies: it starts member threads, hosts a
// body on an existing thread, suspends all members until each has
// acknowledged, stops them for good and joins them.
class ThrGroup {
 public:
  enum State : std::int32_t { Active = 0, Stopping = 1, Suspended = 2 };

  ThrGroup();
  // Frees the records of ended threads; a group destroyed with live members
  // is a broken invariant (they would go on using it).
  ~ThrGroup();
  ThrGroup(const ThrGroup&) = delete;
  ThrGroup& operator=(const ThrGroup&) = delete;

  // The group in which the main thread (and any thread not started by a
  // group) lives outside runHere; no thread is ever started in it.
  static ThrGroup& defaultGroup();

  // Starts a thread that runs `body` as a member, on a record reserved
  // earlier or made now. False if there was no memory for the record
  // (nothing changes) or no thread could be started (the member then counts
  // as one that ended at once).
  bool startThread(xtd::ref_ptr<Thread::ThrBody> body, platform::ThreadId* threadId = nullptr);
  // Makes the records of the next `count` startThread calls now, so that
  // those calls need no memory; false when memory ran out (records already
  // made stay reserved until used or the group goes).
  bool reserveRecords(std::int32_t count);
  // Runs `body` on the calling thread as a member until its run returns.
  void runHere(xtd::ref_ptr<Thread::ThrBody> body);
  // Requests suspension (Active becomes Suspended) and returns; a stopping
  // group stays as it is.
  void requestSuspend();
  // Requests suspension, then waits until every member has acknowledged or
  // ended, or the group stopped; a calling member counts as acknowledged.
  // Returns at once when Stopping.
  void suspendAndWait();
  // Called by a member that has seen Suspended: counts itself as
  // acknowledged and blocks while the group stays Suspended.
  void acknowledgeSuspend();
  // Switches the group to Stopping for good and releases suspended members.
  void stop();
  // Returns once no member is left, freeing the records of ended threads.
  void join();
  // Frees the records of ended threads, waiting for each thread's end.
  void reap();

  std::int32_t state() const noexcept { return state_.load(std::memory_order_relaxed); }
  const std::atomic<std::int32_t>* stateWord() const noexcept { return &state_; }
  // Snapshots taken under the group lock.
  std::int32_t live();
  std::int32_t finishedCount();
  std::int32_t acks();

 private:
  static void threadRoutine(void* record);
  void memberExit(ThrControl* record);
  bool requestSuspendLocked();
  void reapLocked();
  template <class Fn>
  void forEachMemberBody(Fn fn);

  Lock lock_{"ThrMgr::Qevt"};
  Cond resume_{"ThrGroup.resume"};
  Cond done_{"ThrGroup.done"};
  std::int32_t acks_ = 0;
  std::atomic<std::int32_t> state_{Active};
  std::int32_t live_ = 0;
  xtd::ivlist<ThrControl, 0> members_;
  std::int32_t finishedCount_ = 0;
  xtd::ivlist<ThrControl, 0> finished_;
  xtd::ivlist<ThrControl, 0> spare_;
};

}  // namespace Ostra
