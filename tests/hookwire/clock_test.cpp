// The capture clock: GetSystemTimePreciseAsFileTime is newer than our platform floor, so it is
// looked up at run time, and a system without it stamps with GetSystemTimeAsFileTime.
#include <gtest/gtest.h>

#include <cstdlib>

#include "capture_ring.h"

namespace {

using hookwire::ring::FileTimeClock;
using hookwire::ring::ResolveFileTimeClock;

LONGLONG Now(FileTimeClock clock) {
  FILETIME ft;
  clock(&ft);
  return static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

TEST(CaptureClock, ModuleWithoutThePreciseClockFallsBackToTheSystemTime) {
  // user32 stands for a kernel32 that lacks the function (Windows 7); no module at all likewise.
  EXPECT_EQ(ResolveFileTimeClock(GetModuleHandleW(L"user32.dll")), &GetSystemTimeAsFileTime);
  EXPECT_EQ(ResolveFileTimeClock(nullptr), &GetSystemTimeAsFileTime);
}

TEST(CaptureClock, KernelWithThePreciseClockUsesIt) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC precise = GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime");
  ASSERT_NE(precise, nullptr) << "this platform has the precise clock";
  EXPECT_EQ(reinterpret_cast<void*>(ResolveFileTimeClock(kernel)), reinterpret_cast<void*>(precise));
}

TEST(CaptureClock, BothClocksAndTheStampAgreeOnTheTime) {
  // 10,000,000 ticks a second: the three readings lie within a second of each other.
  const LONGLONG coarse = Now(&GetSystemTimeAsFileTime);
  const LONGLONG stamp = hookwire::ring::FileTimeNow();
  const LONGLONG precise = Now(ResolveFileTimeClock(GetModuleHandleW(L"kernel32.dll")));
  EXPECT_LT(std::llabs(stamp - coarse), 10'000'000LL);
  EXPECT_LT(std::llabs(precise - stamp), 10'000'000LL);
  EXPECT_GE(hookwire::ring::FileTimeNow(), stamp);
}

}  // namespace
