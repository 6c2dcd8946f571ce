#include "thread_timer.h"

#include <map>

namespace spy {
namespace {
// Which object a timer's tick is for; a tick of a timer no object holds any more stops it.
std::map<UINT_PTR, ThreadTimer*>& Running() {
  static std::map<UINT_PTR, ThreadTimer*> timers;
  return timers;
}
}  // namespace

bool ThreadTimer::Start(UINT ms) {
  if (id_) return true;
  id_ = SetTimer(nullptr, 0, ms, &ThreadTimer::Tick);
  if (id_) Running()[id_] = this;
  return id_ != 0;
}

void ThreadTimer::Stop() {
  if (!id_) return;
  KillTimer(nullptr, id_);
  Running().erase(id_);
  id_ = 0;
}

void CALLBACK ThreadTimer::Tick(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = Running().find(id);
  if (it == Running().end()) {
    KillTimer(nullptr, id);
    return;
  }
  // The tick may stop its own timer (or start another): nothing of the entry is used after it.
  ThreadTimer* self = it->second;
  self->tick_();
}

}  // namespace spy
