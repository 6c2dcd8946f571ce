// What Hookwire leaves in the programs it is loaded into: the hook DLL's import table and
// TLS directory as built, and the process after thousands of loads and unloads (run in a
// process of their own, HookCycle.exe, so that nothing else holds the DLLs).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kHookDll = sizeof(void*) == 8 ? L"HookwireHook64.dll" : L"HookwireHook32.dll";

std::wstring BinDir() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring s(buf, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

// The import and TLS directories of a PE file on disk, 32- or 64-bit.
struct PeFile {
  std::vector<char> bytes;
  std::vector<IMAGE_SECTION_HEADER> sections;
  IMAGE_DATA_DIRECTORY imports{}, tls{};
  bool ok = false;

  explicit PeFile(const std::wstring& path) {
    std::ifstream f(std::string(path.begin(), path.end()), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(f), {});
    if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    const size_t nt = static_cast<size_t>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || nt + sizeof(IMAGE_NT_HEADERS64) > bytes.size()) return;
    const auto* h32 = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + nt);
    if (h32->Signature != IMAGE_NT_SIGNATURE) return;
    const IMAGE_DATA_DIRECTORY* dirs;
    if (h32->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
      dirs = reinterpret_cast<const IMAGE_NT_HEADERS64*>(h32)->OptionalHeader.DataDirectory;
    else
      dirs = h32->OptionalHeader.DataDirectory;
    imports = dirs[IMAGE_DIRECTORY_ENTRY_IMPORT];
    tls = dirs[IMAGE_DIRECTORY_ENTRY_TLS];
    const size_t first = nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + h32->FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < h32->FileHeader.NumberOfSections; ++i) {
      if (first + (i + 1) * sizeof(IMAGE_SECTION_HEADER) > bytes.size()) return;
      IMAGE_SECTION_HEADER s;
      std::memcpy(&s, bytes.data() + first + i * sizeof s, sizeof s);
      sections.push_back(s);
    }
    ok = true;
  }

  // The file bytes at a relative virtual address, or nullptr outside every section.
  const char* At(DWORD rva, size_t n) const {
    for (const auto& s : sections) {
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress + n <= s.SizeOfRawData &&
          s.PointerToRawData + (rva - s.VirtualAddress) + n <= bytes.size())
        return bytes.data() + s.PointerToRawData + (rva - s.VirtualAddress);
    }
    return nullptr;
  }

  // The names of the imported DLLs, in lower case.
  std::set<std::string> ImportedDlls() const {
    std::set<std::string> out;
    for (DWORD rva = imports.VirtualAddress; imports.Size; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      const char* p = At(rva, sizeof(IMAGE_IMPORT_DESCRIPTOR));
      if (!p) {
        out.insert("<unreadable import table>");
        break;
      }
      IMAGE_IMPORT_DESCRIPTOR d;
      std::memcpy(&d, p, sizeof d);
      if (!d.Name) break;
      const char* name = At(d.Name, 1);
      std::string s = name ? std::string(name, strnlen(name, 256)) : "<unreadable name>";
      std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      out.insert(s);
    }
    return out;
  }
};

std::string ReadText(const std::wstring& path) {
  std::ifstream f(std::string(path.begin(), path.end()));
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Runs HookCycle.exe with the arguments and a report file; the exit code, and the report in `report`.
DWORD RunCycles(const std::wstring& args, std::string& report) {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  const std::wstring file = std::wstring(tmp) + L"hook_cycle_report.txt";
  DeleteFileW(file.c_str());
  std::wstring cmd = L"\"" + BinDir() + L"HookCycle.exe\" " + args + L" \"" + file + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFF;
  DWORD code = 0xFFFE;
  if (WaitForSingleObject(pi.hProcess, 300000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  else TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  report = ReadText(file);
  return code;
}

}  // namespace

TEST(HookDll, ImportsNothingButKernel32AndUser32AndHasNoTls) {
  PeFile pe(BinDir() + kHookDll);
  ASSERT_TRUE(pe.ok);
  ASSERT_NE(0u, pe.imports.Size);
  EXPECT_EQ((std::set<std::string>{"kernel32.dll", "user32.dll"}), pe.ImportedDlls())
      << "no C runtime (msvcrt), no threads runtime, nothing else in the programs it is loaded into";
  EXPECT_EQ(0u, pe.tls.VirtualAddress) << "a TLS directory";
  EXPECT_EQ(0u, pe.tls.Size);
}

TEST(HookDll, TwoThousandLoadsAndUnloadsInOneProcess) {
  std::string report;
  const DWORD code = RunCycles(L"load \"" + BinDir() + kHookDll + L"\" 2000", report);
  EXPECT_EQ(0u, code) << report;
  EXPECT_NE(std::string::npos, report.find("alive")) << report;
  EXPECT_NE(std::string::npos, report.find("cycles 2000")) << report;
}

// A client that lets COM unload Hookwire.dll whenever it holds no object, 200 times in one process:
// each time the DLL (and the hook DLL with it) really goes, the next load works and watches a window
// of another thread, and nothing accumulates.
TEST(Server, SurvivesBeingUnloadedAndLoadedAgainByItsClient) {
  std::string report;
  const DWORD code = RunCycles(L"com 200", report);
  EXPECT_EQ(0u, code) << report;
  EXPECT_NE(std::string::npos, report.find("cycles 200")) << report;
}

// The same client, but each time it also passes a value the object refuses: the error is raised
// and caught inside the DLL, which sets up the C++ runtime's per-thread state there; that must go
// with the DLL too.
TEST(Server, SurvivesBeingUnloadedAfterRefusingAValue) {
  std::string report;
  const DWORD code = RunCycles(L"com-errors 100", report);
  EXPECT_EQ(0u, code) << report;
  EXPECT_NE(std::string::npos, report.find("cycles 100")) << report;
}

// The menu component is an in-process server too: COM loads and unloads it as often as Hookwire.dll,
// and its static runtime must give back what it took at each load.
TEST(Server, GlypharyLoadsAndUnloadsWithoutLosingTlsIndices) {
  std::string report;
  const DWORD code = RunCycles(L"load \"" + BinDir() + L"Glyphary.dll\" 200", report);
  EXPECT_EQ(0u, code) << report;
  EXPECT_NE(std::string::npos, report.find("cycles 200")) << report;
}
