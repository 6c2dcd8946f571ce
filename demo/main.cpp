// GlypharyDemo: a small editor whose menus Glyphary draws. Run with "/tour <folder>" it opens every
// popup of its menu bar in turn, saves a screenshot of each into <folder> and exits with status 0
// only when every item of every popup was painted by the component. "/dpi" makes it DPI-aware (it
// then draws at the screen's DPI), "/alpha" gives it the pictures with an alpha channel.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "demo_menu.h"
#include "menu_tour.h"
#include "runtime_error.h"

namespace {

struct App {
  HWND window = nullptr;
  HWND editor = nullptr;
  HWND status = nullptr;
  bool word_wrap = false;
  demo::DemoMenu* menu = nullptr;
  demo::MenuTour* tour = nullptr;
  int exit_code = 0;
};
App g_app;

void CreateEditor() {
  std::wstring text;
  if (g_app.editor) {
    text.resize(static_cast<size_t>(GetWindowTextLengthW(g_app.editor)) + 1);
    GetWindowTextW(g_app.editor, text.data(), static_cast<int>(text.size()));
    text.resize(text.size() - 1);
    DestroyWindow(g_app.editor);
  } else {
    text = L"Open the menus: every item is drawn by Glyphary.\r\n\r\n"
           L"Pictures stand in a cell at the left of each item, raised under the highlight and sunken when the "
           L"item is checked; grayed items show a disabled picture; shortcuts stand right-aligned.";
  }
  DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  if (!g_app.word_wrap) style |= WS_HSCROLL | ES_AUTOHSCROLL;
  g_app.editor = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", text.c_str(), style, 0, 0, 10, 10, g_app.window, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(g_app.editor, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
}

void Layout() {
  RECT client;
  GetClientRect(g_app.window, &client);
  int status_height = 0;
  if (g_app.status && IsWindowVisible(g_app.status)) {
    SendMessageW(g_app.status, WM_SIZE, 0, 0);
    RECT s;
    GetWindowRect(g_app.status, &s);
    status_height = s.bottom - s.top;
  }
  MoveWindow(g_app.editor, 0, 0, client.right, client.bottom - status_height, TRUE);
}

void SetStatus(const std::wstring& text) {
  if (g_app.status) SendMessageW(g_app.status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void OnCommand(UINT id) {
  using namespace demo;
  switch (id) {
    case kCmdWordWrap:
      g_app.word_wrap = !g_app.word_wrap;
      g_app.menu->SetChecked(kCmdWordWrap, g_app.word_wrap);
      CreateEditor();
      Layout();
      SetStatus(g_app.word_wrap ? L"Word wrap on" : L"Word wrap off");
      break;
    case kCmdStatusBar: {
      const bool show = !IsWindowVisible(g_app.status);
      ShowWindow(g_app.status, show ? SW_SHOW : SW_HIDE);
      g_app.menu->SetChecked(kCmdStatusBar, show);
      Layout();
      break;
    }
    case kCmdExit:
      PostMessageW(g_app.window, WM_CLOSE, 0, 0);
      break;
    default:
      if (id >= kCmdRecent && id < kCmdRecent + kRecentCount) {
        // Printing now names the open file: the caption changes, its picture stays.
        const std::wstring file = RecentFile(static_cast<int>(id - kCmdRecent));
        g_app.menu->SetCaption(L"mnuFilePrint", L"&Print " + file + L"...");
        SetStatus(L"Opened " + file);
      } else {
        SetStatus(L"Command " + std::to_wstring(id));
      }
      break;
  }
}

LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (g_app.tour && g_app.tour->OnMessage(msg, wp, lp)) return 0;
  switch (msg) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_SETFOCUS:
      if (g_app.editor) SetFocus(g_app.editor);
      return 0;
    case WM_COMMAND:
      if (lp == 0 && g_app.menu) {
        const UINT id = LOWORD(wp);
        const UINT command = g_app.menu->CommandOf(id);
        try {
          OnCommand(command ? command : id);
        } catch (const common::RuntimeError& e) {
          SetStatus(L"Error " + std::to_wstring(e.number()) + L": " + e.description());
          if (g_app.tour) g_app.exit_code = 2;
        }
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return demo::DemoMenu::CallPrevious(w, msg, wp, lp);
  }
}

std::wstring StopName(const std::vector<int>& path) {
  return demo::DemoMenu::PopupName(path);
}

// Declares the program DPI-aware (per monitor where the platform knows it), so that it draws at the
// screen's own DPI instead of being scaled as a 96-DPI program.
void DeclareDpiAware() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using ContextFn = BOOL(WINAPI*)(HANDLE);
  const auto per_monitor = reinterpret_cast<ContextFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  const HANDLE per_monitor_v2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
  if (per_monitor && per_monitor(per_monitor_v2)) return;
  SetProcessDPIAware();
}

int Run(const std::wstring& tour_folder, bool alpha) {
  // The form: a window with the menus, an editor and a status bar.
  demo::DemoMenu menu(WindowProc);
  g_app.menu = &menu;
  g_app.window = menu.window();
  if (!g_app.window) {
    std::fprintf(stderr, "GlypharyDemo: the window could not be made (error %lu)\n", GetLastError());
    return 3;
  }
  g_app.status = CreateStatusWindowW(WS_CHILD | WS_VISIBLE, L"Ready", g_app.window, 1);
  CreateEditor();
  Layout();
  ShowWindow(g_app.window, SW_SHOW);
  UpdateWindow(g_app.window);
  SetForegroundWindow(g_app.window);
  // The component: create it, give it the pictures and the form, and tie each picture to its item.
  menu.AttachComponent(alpha);
  HWND window = g_app.window;

  std::unique_ptr<demo::MenuTour> tour;
  if (!tour_folder.empty()) {
    CreateDirectoryW(tour_folder.c_str(), nullptr);
    // What a user would do first: switch word wrap on and open a recent file (which renames Print).
    OnCommand(demo::kCmdWordWrap);
    OnCommand(demo::kCmdRecent + 1);
    tour = std::make_unique<demo::MenuTour>(window, tour_folder, demo::MenuTour::AllPopups(window, StopName));
    tour->SetCaptionSource([&menu](HMENU popup, int position) { return menu.CaptionAt(popup, position); });
    g_app.tour = tour.get();
    tour->Start();
  }

  HACCEL accelerators = demo::DemoMenu::Accelerators();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (TranslateAcceleratorW(window, accelerators, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  DestroyAcceleratorTable(accelerators);
  g_app.tour = nullptr;
  g_app.menu = nullptr;
  if (tour) {
    const std::wstring& report = tour->report();
    DWORD written = 0;
    std::string text(report.begin(), report.end());
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    HANDLE f = CreateFileW((tour_folder + L"\\tour.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      CloseHandle(f);
    }
    return tour->passed() && g_app.exit_code == 0 ? 0 : 1;
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring tour_folder;
  bool alpha = false;
  for (int i = 1; i < argc; ++i) {
    if ((lstrcmpiW(argv[i], L"/tour") == 0 || lstrcmpiW(argv[i], L"--tour") == 0) && i + 1 < argc) tour_folder = argv[++i];
    // /dpi: draw at the screen's DPI (DPI-aware); /alpha: the pictures with an alpha channel.
    if (lstrcmpiW(argv[i], L"/dpi") == 0) DeclareDpiAware();
    if (lstrcmpiW(argv[i], L"/alpha") == 0) alpha = true;
  }
  LocalFree(argv);

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  if (const HRESULT hr = OleInitialize(nullptr); FAILED(hr)) {
    std::fprintf(stderr, "GlypharyDemo: OleInitialize failed (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 3;
  }
  int code = 0;
  try {
    code = Run(tour_folder, alpha);
  } catch (const common::RuntimeError& e) {
    const std::wstring text = L"Run-time error " + std::to_wstring(e.number()) + L": " + e.description() + L"\r\n";
    std::string narrow(text.begin(), text.end());
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
    code = 2;
  }
  OleUninitialize();
  return code;
}
