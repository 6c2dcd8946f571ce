// For the in-process COM servers: the TLS indices the statically linked runtime takes in the
// client's process, given back when the DLL goes.
//
// The threads runtime (winpthreads) takes one index for its per-thread data the first time
// anything in the DLL uses it, and never frees it. In the 32-bit build that happens at every
// load: registering the DLL's DWARF unwind tables goes through pthread_once. In either build it
// happens at the first C++ exception (the exception globals are emulated thread-locals). A client
// that loads and unloads us again and again, as COM does after CoFreeUnusedLibraries, would lose
// one index per load until TlsAlloc fails for the whole process.
//
// So the linker sends every TlsAlloc / TlsFree made from inside this DLL through the two functions
// below (--wrap of the import slots: release_runtime_tls() in common/CMakeLists.txt), and our entry
// point, once the runtime has run its whole detach (DllMain, atexit handlers, static destructors, unwind table deregistration),
// frees the indices still held.
#include <windows.h>

// The linker names of the wrapped import slots and of the originals (32-bit: C names carry a
// leading underscore, which --wrap keeps in front: ___wrap__imp__TlsAlloc@0).
#if defined(__i386__)
#define RUNTIME_TLS_SLOT(prefix, name, args) "_" prefix "_imp__" #name "@" #args
#else
#define RUNTIME_TLS_SLOT(prefix, name, args) prefix "__imp_" #name
#endif

namespace common::runtime_tls {

namespace {

using TlsAllocFn = DWORD(WINAPI*)();
using TlsFreeFn = BOOL(WINAPI*)(DWORD);

DWORD WINAPI CountedTlsAlloc();
BOOL WINAPI CountedTlsFree(DWORD index);

// Far more than the runtime ever takes; an index beyond them is still handed out, only not freed.
constexpr LONG kMaxHeld = 16;
SRWLOCK g_lock = SRWLOCK_INIT;
DWORD g_held[kMaxHeld];
LONG g_count = 0;

}  // namespace

}  // namespace common::runtime_tls

// The kernel32 import slots as the linker left them, and the slots every other object of this DLL
// now reads instead.
extern "C" {
extern common::runtime_tls::TlsAllocFn runtime_real_tls_alloc __asm__(RUNTIME_TLS_SLOT("__real_", TlsAlloc, 0));
extern common::runtime_tls::TlsFreeFn runtime_real_tls_free __asm__(RUNTIME_TLS_SLOT("__real_", TlsFree, 4));
common::runtime_tls::TlsAllocFn runtime_wrap_tls_alloc __asm__(RUNTIME_TLS_SLOT("__wrap_", TlsAlloc, 0)) =
    &common::runtime_tls::CountedTlsAlloc;
common::runtime_tls::TlsFreeFn runtime_wrap_tls_free __asm__(RUNTIME_TLS_SLOT("__wrap_", TlsFree, 4)) =
    &common::runtime_tls::CountedTlsFree;
}

namespace common::runtime_tls {

namespace {

DWORD WINAPI CountedTlsAlloc() {
  const DWORD index = runtime_real_tls_alloc();
  if (index == TLS_OUT_OF_INDEXES) return index;
  AcquireSRWLockExclusive(&g_lock);
  if (g_count < kMaxHeld) g_held[g_count++] = index;
  ReleaseSRWLockExclusive(&g_lock);
  return index;
}

BOOL WINAPI CountedTlsFree(DWORD index) {
  AcquireSRWLockExclusive(&g_lock);
  for (LONG i = 0; i < g_count; ++i) {
    if (g_held[i] == index) {
      g_held[i] = g_held[--g_count];
      break;
    }
  }
  ReleaseSRWLockExclusive(&g_lock);
  return runtime_real_tls_free(index);
}

}  // namespace

void FreeAll() noexcept {
  AcquireSRWLockExclusive(&g_lock);
  for (LONG i = 0; i < g_count; ++i) runtime_real_tls_free(g_held[i]);
  g_count = 0;
  ReleaseSRWLockExclusive(&g_lock);
}

}  // namespace common::runtime_tls

// The runtime's own entry point: it calls DllMain and runs the constructors and destructors.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

// The DLL's entry point (-e, set by release_runtime_tls()): the runtime's, then, when the DLL goes,
// the indices it left behind. Nothing of the runtime runs after this for this load.
extern "C" BOOL WINAPI ComServerEntry(HANDLE instance, DWORD reason, LPVOID reserved) {
  const BOOL ok = DllMainCRTStartup(instance, reason, reserved);
  if (reason == DLL_PROCESS_DETACH) common::runtime_tls::FreeAll();
  return ok;
}
