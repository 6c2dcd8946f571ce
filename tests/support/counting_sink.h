// A message sink that only counts what it receives: the transport's cost without any work of
// its own. Lives on the stack of its user.
#pragma once
#include <windows.h>

#include "stand_in.h"

namespace testing_support {

class CountingSink : public StandIn<IhkMessageSink, IID_IhkMessageSink> {
 public:
  LONG count = 0;
  HRESULT STDMETHODCALLTYPE Message(LONG, LONG_PTR, LONG_PTR, LONG_PTR*) override {
    ++count;
    return S_OK;
  }
};

}  // namespace testing_support
