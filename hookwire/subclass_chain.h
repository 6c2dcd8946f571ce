// A window's chain of subclass layers, kept in this process's memory.
//
// The platform's SetWindowSubclass keeps its chain in a window property, and under this
// platform every property look-up is a round trip to the window server: two or three of them
// per message. Here the window procedure is replaced once per window and the layers are
// found through a table in memory. Layers come and go in any order, also while a message is
// passing through them.
#pragma once
#include <windows.h>

namespace hookwire {

class SubclassLayer;

// Where a message stands in a chain: the position passed to each layer so that it can hand
// the message on to the layer below it (and, below the last, the original procedure).
struct ChainPosition {
  void* chain;
  int next;  // index of the next layer down; -1: the original procedure
};

class SubclassLayer {
 public:
  virtual ~SubclassLayer() = default;
  // A message for this layer; CallNext hands it on.
  virtual LRESULT OnMessage(const ChainPosition& at, HWND h, UINT msg, WPARAM wp, LPARAM lp) = 0;
};

namespace subclass_chain {

// Puts layer on top of the window's chain. False if the window is gone or belongs to another
// thread, or if the layer is already on it.
bool Add(HWND h, SubclassLayer* layer) noexcept;
// Takes layer off the window's chain; safe while a message is passing through it.
void Remove(HWND h, SubclassLayer* layer) noexcept;
// The message on to the next layer down from where it stands.
LRESULT CallNext(const ChainPosition& at, HWND h, UINT msg, WPARAM wp, LPARAM lp);
// How many windows have a chain (for tests: chains are freed when their last layer goes
// or when the window is destroyed).
size_t WindowCount() noexcept;

}  // namespace subclass_chain
}  // namespace hookwire
