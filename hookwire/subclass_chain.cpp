#include "subclass_chain.h"

#include <memory>
#include <unordered_map>
#include <vector>

namespace hookwire::subclass_chain {

namespace {

struct Chain {
  HWND hwnd = nullptr;
  WNDPROC original = nullptr;
  // Bottom first: a layer added later sits on top and runs first. A removed layer leaves an
  // empty place while messages run, so that positions held by running layers stay valid.
  std::vector<SubclassLayer*> layers;
  int running = 0;     // messages passing through the chain right now
  bool dead = false;   // WM_NCDESTROY seen: the chain goes when the last message leaves
};

// One table for the process; a chain is touched only by its window's thread, the table by
// every thread that subclasses.
// The table is made under the lock on first use (no function-local static: its thread-safe
// initialisation would set up the threads runtime, which keeps a TLS index for every load of
// the DLL) and outlives static destructors.
SRWLOCK g_lock = SRWLOCK_INIT;
std::unordered_map<HWND, std::unique_ptr<Chain>>* g_table = nullptr;

std::unordered_map<HWND, std::unique_ptr<Chain>>& Table() {  // with g_lock held exclusively
  if (!g_table) g_table = new std::unordered_map<HWND, std::unique_ptr<Chain>>();
  return *g_table;
}

// Only a window handle's low 32 bits name the window. Once bit 31 is set, a 64-bit process gets
// the same window sign-extended from CreateWindowEx and zero-extended in some of the messages the
// platform sends it (those of its menu bar): the table is keyed by one form of it.
HWND Key(HWND h) noexcept {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(reinterpret_cast<ULONG_PTR>(h))));
}

Chain* Find(HWND h) noexcept {
  AcquireSRWLockShared(&g_lock);
  Chain* c = nullptr;
  if (g_table) {
    auto it = g_table->find(Key(h));
    if (it != g_table->end()) c = it->second.get();
  }
  ReleaseSRWLockShared(&g_lock);
  return c;
}

LRESULT CALLBACK ChainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

// With no message inside: drops empty places and, once no layer is left (or the window is being
// destroyed), gives the window its procedure back and forgets the chain. If someone replaced
// the procedure after us, our procedure must stay in place: it then only passes messages on.
void Tidy(Chain* c) noexcept {
  if (c->running) return;
  std::erase(c->layers, nullptr);
  if (!c->layers.empty() && !c->dead) return;
  const HWND h = c->hwnd;
  const bool alive = IsWindow(h) != FALSE;
  const bool ours = alive && GetWindowLongPtrW(h, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(ChainProc);
  if (alive && !ours && !c->dead) return;
  if (ours) SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(c->original));
  AcquireSRWLockExclusive(&g_lock);
  Table().erase(Key(h));  // frees c
  ReleaseSRWLockExclusive(&g_lock);
}

LRESULT Run(Chain* c, int from, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  for (int i = from; i >= 0; --i) {
    if (i < static_cast<int>(c->layers.size()) && c->layers[static_cast<size_t>(i)])
      return c->layers[static_cast<size_t>(i)]->OnMessage(ChainPosition{c, i - 1}, h, msg, wp, lp);
  }
  return CallWindowProcW(c->original, h, msg, wp, lp);
}

LRESULT CALLBACK ChainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Chain* c = Find(h);
  if (!c) return DefWindowProcW(h, msg, wp, lp);  // cannot happen while we are the procedure
  ++c->running;
  const LRESULT r = Run(c, static_cast<int>(c->layers.size()) - 1, h, msg, wp, lp);
  if (msg == WM_NCDESTROY) c->dead = true;
  --c->running;
  Tidy(c);
  return r;
}

}  // namespace

bool Add(HWND h, SubclassLayer* layer) noexcept {
  if (!layer || !IsWindow(h) || GetWindowThreadProcessId(h, nullptr) != GetCurrentThreadId()) return false;
  Chain* c = Find(h);
  if (c && c->dead) return false;
  if (!c) {
    auto fresh = std::make_unique<Chain>();
    fresh->hwnd = h;
    c = fresh.get();
    AcquireSRWLockExclusive(&g_lock);
    Table()[Key(h)] = std::move(fresh);
    ReleaseSRWLockExclusive(&g_lock);
    // The table holds the chain before the procedure changes, so no message can miss it.
    c->original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ChainProc)));
    if (!c->original) {
      AcquireSRWLockExclusive(&g_lock);
      Table().erase(Key(h));
      ReleaseSRWLockExclusive(&g_lock);
      return false;
    }
  }
  for (SubclassLayer* l : c->layers)
    if (l == layer) return false;
  try {
    c->layers.push_back(layer);
  } catch (...) {
    return false;
  }
  return true;
}

void Remove(HWND h, SubclassLayer* layer) noexcept {
  Chain* c = Find(h);
  if (!c) return;
  for (SubclassLayer*& l : c->layers)
    if (l == layer) l = nullptr;
  Tidy(c);
}

LRESULT CallNext(const ChainPosition& at, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return Run(static_cast<Chain*>(at.chain), at.next, h, msg, wp, lp);
}

size_t WindowCount() noexcept {
  AcquireSRWLockShared(&g_lock);
  const size_t n = g_table ? g_table->size() : 0;
  ReleaseSRWLockShared(&g_lock);
  return n;
}

}  // namespace hookwire::subclass_chain
