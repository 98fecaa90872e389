#include "ostra/thread.h"

#include <new>
#include <utility>

#include "ostra/fatal.h"

namespace Ostra {

namespace {

// Process-wide thread state, built in this order: the main thread's record,
// the thread-local slot, the default group, then the main thread's
// registration. It is never destroyed, so a thread still running at process
// exit cannot find it gone.
struct ThreadRuntime {
  ThrControl mainRecord;
  platform::ThreadSlot slot = platform::allocThreadSlot();
  ThrGroup defaultGroup;

  ThreadRuntime() {
    mainRecord.threadId = platform::currentThreadId();
    mainRecord.group = &defaultGroup;
    platform::setThreadSlotValue(slot, &mainRecord);
  }
};

ThreadRuntime& runtime() {
  static ThreadRuntime* const r = new ThreadRuntime;
  return *r;
}

// Static initialisation runs on the main thread: registering it here makes
// its record the main thread's whatever translation unit asks first.
[[maybe_unused]] const bool g_registered = (runtime(), true);

// Runs `leave` when the scope ends, also while an exception unwinds.
template <class Fn>
class ScopeExit {
 public:
  explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
  ~ScopeExit() { fn_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Fn fn_;
};

}  // namespace

ThrControl* ThrControl::current() {
  ThreadRuntime& r = runtime();
  if (auto* record = static_cast<ThrControl*>(platform::threadSlotValue(r.slot))) return record;
  // A thread the runtime did not start (a test's, a library's) still needs
  // a record to wait, join or stop; it lives as long as the thread.
  // The storage is trivially destructible on purpose: a thread-exit
  // destructor would run inside the system's thread-detach processing,
  // which on Windows can deadlock against another thread ending at the same
  // time. Nothing is lost: a foreign thread's record holds no body once its
  // runHere has returned.
  alignas(ThrControl) thread_local unsigned char storage[sizeof(ThrControl)];
  auto* adopted = new (storage) ThrControl;
  adopted->threadId = platform::currentThreadId();
  adopted->group = &r.defaultGroup;
  platform::setThreadSlotValue(r.slot, adopted);
  return adopted;
}

void ThrControl::setCurrent(ThrControl* record) { platform::setThreadSlotValue(runtime().slot, record); }

ThrGroup::ThrGroup() = default;

ThrGroup::~ThrGroup() {
  LockGuard guard(lock_);
  while (ThrControl* record = spare_.pop_front()) delete record;
  reapLocked();
  if (live_ != 0) fatal("ThrGroup::~ThrGroup: members are still running");
}

ThrGroup& ThrGroup::defaultGroup() { return runtime().defaultGroup; }

template <class Fn>
void ThrGroup::forEachMemberBody(Fn fn) {
  for (ThrControl* r = members_.front(); r; r = members_.next(r))
    if (r->body) fn(r->body.get());
}

bool ThrGroup::reserveRecords(std::int32_t count) {
  LockGuard guard(lock_);
  std::int32_t spare = 0;
  for (ThrControl* r = spare_.front(); r; r = spare_.next(r)) ++spare;
  for (; spare < count; ++spare) {
    auto* record = new (std::nothrow) ThrControl;
    if (!record) return false;
    spare_.push_back(record);
  }
  return true;
}

bool ThrGroup::startThread(xtd::ref_ptr<Thread::ThrBody> body, platform::ThreadId* threadId) {
  ThrControl* record;
  {
    LockGuard guard(lock_);
    record = spare_.pop_front();
  }
  if (!record) record = new (std::nothrow) ThrControl;
  if (!record) return false;
  record->body = body;
  record->group = this;
  {
    LockGuard guard(lock_);
    members_.push_back(record);
    ++live_;
  }
  const platform::ThreadId id = platform::startThread(&threadRoutine, record);
  if (id == 0) {
    // No thread owns the record: it ends here as a member that ended at once.
    memberExit(record);
    return false;
  }
  // The record now belongs to the new thread and may already be gone.
  if (threadId) *threadId = id;
  return true;
}

void ThrGroup::threadRoutine(void* arg) {
  auto* record = static_cast<ThrControl*>(arg);
  record->threadId = platform::currentThreadId();
  ThrControl::setCurrent(record);
  ThrGroup* group = record->group;
  Thread::ThrBody* body = record->body.get();
  body->groupState = &group->state_;
  body->run();
  // The record is freed by whoever joins the group once memberExit has filed it.
  ThrControl::setCurrent(nullptr);
  group->memberExit(record);
}

void ThrGroup::memberExit(ThrControl* record) {
  xtd::ref_ptr<Thread::ThrBody> body;
  {
    LockGuard guard(lock_);
    // The body leaves the record under the lock: suspend and stop reach the
    // bodies of listed members under it.
    body = std::move(record->body);
    if (body) body->groupState = nullptr;
    --live_;
    ++finishedCount_;
    xtd::ivlist<ThrControl, 0>::unlink(record);
    finished_.push_back(record);
    done_.broadcast();
  }
  // Dropping the last reference destroys the body on this thread.
}

void ThrGroup::runHere(xtd::ref_ptr<Thread::ThrBody> body) {
  ThrControl* self = ThrControl::current();
  // A record sits in one member list at a time.
  if (self->is_linked()) fatal("ThrGroup::runHere: the thread is a member of a group already");
  body->groupState = &state_;
  xtd::ref_ptr<Thread::ThrBody> savedBody;
  ThrGroup* const savedGroup = self->group;
  {
    LockGuard guard(lock_);
    savedBody = std::move(self->body);
    self->body = body;
    self->group = this;
    members_.push_back(self);
    ++live_;
  }
  xtd::ref_ptr<Thread::ThrBody> ranBody;
  ScopeExit leave([&] {
    LockGuard guard(lock_);
    xtd::ivlist<ThrControl, 0>::unlink(self);
    --live_;
    // Whoever waits for acknowledgements or for the group to empty must
    // see that this member left.
    done_.broadcast();
    ranBody = std::move(self->body);
    self->body = std::move(savedBody);
    self->group = savedGroup;
  });
  body->run();
}

// Lock held. False when the group is stopping.
bool ThrGroup::requestSuspendLocked() {
  switch (state_.load(std::memory_order_relaxed)) {
    case Active:
      state_.store(Suspended, std::memory_order_relaxed);
      forEachMemberBody([](Thread::ThrBody* b) { b->onSuspend(); });
      return true;
    case Stopping:
      return false;
    default:
      return true;
  }
}

void ThrGroup::requestSuspend() {
  LockGuard guard(lock_);
  requestSuspendLocked();
}

void ThrGroup::suspendAndWait() {
  ThrControl* self = ThrControl::current();
  LockGuard guard(lock_);
  const bool member = self->group == this;
  if (!requestSuspendLocked()) return;
  if (member) ++acks_;
  // A stop ends the suspension early: nobody acknowledges it any more.
  while (state_.load(std::memory_order_relaxed) == Suspended && acks_ < live_) {
    self->waitingOn.store(done_.name(), std::memory_order_relaxed);
    done_.wait(lock_);
    self->waitingOn.store(nullptr, std::memory_order_relaxed);
  }
  if (member) --acks_;
}

void ThrGroup::acknowledgeSuspend() {
  ThrControl* self = ThrControl::current();
  LockGuard guard(lock_);
  ++acks_;
  if (acks_ >= live_) done_.broadcast();
  while (state_.load(std::memory_order_relaxed) == Suspended) {
    self->activity.store("ThrGroup::suspend_ack", std::memory_order_relaxed);
    self->waitingOn.store(resume_.name(), std::memory_order_relaxed);
    resume_.wait(lock_);
    self->activity.store(nullptr, std::memory_order_relaxed);
    self->waitingOn.store(nullptr, std::memory_order_relaxed);
  }
  --acks_;
}

void ThrGroup::stop() {
  LockGuard guard(lock_);
  const std::int32_t was = state_.load(std::memory_order_relaxed);
  if (was == Stopping) return;
  state_.store(Stopping, std::memory_order_relaxed);
  if (was == Suspended) {
    resume_.broadcast();
    // A suspend still waiting for acknowledgements gives up.
    done_.broadcast();
  }
  forEachMemberBody([](Thread::ThrBody* b) { b->onStop(); });
}

void ThrGroup::join() {
  ThrControl* self = ThrControl::current();
  LockGuard guard(lock_);
  // A member would wait for itself.
  if (self->group == this && self->is_linked()) fatal("ThrGroup::join: a member would wait for itself");
  for (;;) {
    reapLocked();
    if (members_.empty()) return;
    self->activity.store("ThrGroup::wait", std::memory_order_relaxed);
    self->waitingOn.store(done_.name(), std::memory_order_relaxed);
    done_.wait(lock_);
    self->activity.store(nullptr, std::memory_order_relaxed);
    self->waitingOn.store(nullptr, std::memory_order_relaxed);
  }
}

void ThrGroup::reap() {
  LockGuard guard(lock_);
  reapLocked();
}

void ThrGroup::reapLocked() {
  while (ThrControl* record = finished_.pop_front()) {
    --finishedCount_;
    platform::waitForThread(record->threadId);
    delete record;
  }
}

std::int32_t ThrGroup::live() {
  LockGuard guard(lock_);
  return live_;
}

std::int32_t ThrGroup::finishedCount() {
  LockGuard guard(lock_);
  return finishedCount_;
}

std::int32_t ThrGroup::acks() {
  LockGuard guard(lock_);
  return acks_;
}

}  // namespace Ostra
