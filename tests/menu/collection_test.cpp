// The keyed collection: keys without regard to case, and its errors.
#include <gtest/gtest.h>

#include "keyed_collection.h"
#include "runtime_error.h"

namespace {

long ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const common::RuntimeError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace

TEST(KeyedCollection, KeysIgnoreCaseAndErrorsAreTheRuntimes) {
  common::KeyedCollection c(L"Test");
  c.Add(3, L"mnuOpen");
  c.Add(std::wstring(L"mnuOpen"), L"&Open...");
  EXPECT_EQ(2, c.Count());
  EXPECT_TRUE(c.Contains(L"MNUOPEN"));
  common::unique_variant v;
  c.Item(L"&OPEN...", v.get());
  ASSERT_EQ(VT_BSTR, V_VT(v.get()));
  EXPECT_STREQ(L"mnuOpen", V_BSTR(v.get()));
  EXPECT_EQ(457, ErrorOf([&] { c.Add(4, L"MnuOpen"); }));
  EXPECT_EQ(5, ErrorOf([&] { c.Item(L"absent", v.get()); }));
  EXPECT_EQ(5, ErrorOf([&] { c.Remove(L"absent"); }));
  c.Remove(L"mnuopen");
  EXPECT_FALSE(c.Contains(L"mnuOpen"));
  c.Add(5, L"mnuOpen");
  c.Item(L"mnuOpen", v.get());
  EXPECT_EQ(5, V_I4(v.get()));
  EXPECT_EQ(L"Test", [&] {
    try {
      c.Add(1, L"MNUOPEN");
    } catch (const common::RuntimeError& e) {
      return e.source();
    }
    return std::wstring();
  }());
}
