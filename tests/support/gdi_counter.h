// Counting of GDI and USER objects for leak tests. GetGuiResources reports nothing under Wine, so
// the counter reroutes, through a module's import table, the calls that create and free objects
// and keeps the handles that were made and not yet freed. Install it on the test program (whose
// static libraries are the code under test) and on any system DLL that frees objects on its behalf
// (oleaut32 destroys the icon of a picture object).
#pragma once
#include <windows.h>

#include <cstddef>

namespace testing_support {

enum class GdiKind { Brush, Pen, Font, Bitmap, MemoryDC, WindowDC, Icon, ImageList, Count };

class GdiCounter {
 public:
  // Patches the import table of module; returns how many imports were rerouted. Safe to repeat.
  static int Install(HMODULE module);
  // Objects made through counted calls and not yet freed, all kinds or one.
  static long Live();
  static long Live(GdiKind kind);
  // Creations and frees seen of one kind since the start.
  static long Created(GdiKind kind);
  static long Freed(GdiKind kind);
  // Frees of handles the counter never saw created (objects from elsewhere, or double frees).
  static long UnknownFrees();
  // Whether h is a counted object that has not been freed.
  static bool IsLive(HANDLE h);
  // How many times h was passed to a freeing call since the start.
  static long TimesFreed(HANDLE h);
};

}  // namespace testing_support
