// Every test program runs its tests on one COM apartment thread, as a client would.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (FAILED(OleInitialize(nullptr))) return 3;
  int rc = RUN_ALL_TESTS();
  OleUninitialize();
  return rc;
}
