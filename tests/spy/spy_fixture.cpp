#include "spy_fixture.h"

#include <commctrl.h>

#include <cstdio>

#include "hex.h"
#include "settings.h"

namespace spy_test {

void DeleteSettings(const std::wstring& app) {
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\VB and VBA Program Settings\\" + app).c_str());
}

void StoreSetting(const std::wstring& app, const wchar_t* key, const std::wstring& value) {
  spy::SaveSetting(app, L"Position", key, value);
}

std::wstring StoredSetting(const std::wstring& app, const wchar_t* key) {
  return spy::GetSetting(app, L"Position", key, L"<absent>");
}

std::wstring ToolTip(HWND toolbar, UINT_PTR id) {
  HWND tips = reinterpret_cast<HWND>(SendMessageW(toolbar, TB_GETTOOLTIPS, 0, 0));
  wchar_t text[80] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = toolbar;
  tool.uId = id;
  tool.lpszText = text;
  SendMessageW(tips, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&tool));
  return text;
}

std::vector<std::wstring> ListLines(HWND list) {
  std::vector<std::wstring> out;
  LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    LRESULT len = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring s(static_cast<size_t>(len) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s.data()));
    s.resize(static_cast<size_t>(len));
    out.push_back(s);
  }
  return out;
}

std::vector<std::wstring> ShownLines(spy::MainWindow& w) {
  w.UpdateLog();
  return ListLines(w.log());
}

std::wstring NodeText(HWND tree, HTREEITEM node) {
  wchar_t buf[1024] = {};
  TVITEMW item{};
  item.mask = TVIF_TEXT;
  item.hItem = node;
  item.pszText = buf;
  item.cchTextMax = 1024;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return buf;
}

HTREEITEM Next(HWND tree, HTREEITEM node, UINT relation) {
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(node)));
}

std::wstring KeyOf(HWND h) { return L"H" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(h))); }

// An independent CSV reader: fields split at commas outside quotes, "" inside quotes is one quote.
std::vector<std::vector<std::wstring>> ParseCsv(const std::wstring& text) {
  std::vector<std::vector<std::wstring>> rows(1);
  std::wstring field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (quoted) {
      if (c == L'"' && i + 1 < text.size() && text[i + 1] == L'"') field += L'"', ++i;
      else if (c == L'"') quoted = false;
      else field += c;
    } else if (c == L'"') {
      quoted = true;
    } else if (c == L',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  if (!field.empty() || !rows.back().empty()) rows.back().push_back(field);
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

std::wstring ReadUtf8(const std::wstring& path, bool* had_bom) {
  std::string bytes;
  if (FILE* f = _wfopen(path.c_str(), L"rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
  }
  *had_bom = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
  if (*had_bom) bytes.erase(0, 3);
  std::wstring out(bytes.size(), L'\0');
  out.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), static_cast<int>(out.size()))));
  return out;
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

namespace {
constexpr UINT kSendRequest = WM_APP + 50;  // thread message: wParam the message, lParam the count
constexpr UINT kDestroyRequest = WM_APP + 51;
}  // namespace

SelfTalkingWindow::SelfTalkingWindow() {
  done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  thread_ = std::thread([this] {
    thread_id_ = GetCurrentThreadId();
    hwnd_ = CreateWindowExW(0, L"STATIC", L"self-talking", WS_OVERLAPPEDWINDOW, 0, 0, 120, 80, nullptr, nullptr,
                            nullptr, nullptr);
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts
    SetEvent(done_);
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
      if (!m.hwnd && m.message == kSendRequest) {
        for (LPARAM i = 0; i < m.lParam; ++i) SendMessageW(hwnd_, static_cast<UINT>(m.wParam), static_cast<WPARAM>(i), 0);
        SetEvent(done_);
      } else if (!m.hwnd && m.message == kDestroyRequest) {
        DestroyWindow(hwnd_);
        SetEvent(done_);
      } else {
        DispatchMessageW(&m);
      }
    }
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  });
  WaitForSingleObject(done_, 10000);
}

SelfTalkingWindow::~SelfTalkingWindow() {
  PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
  thread_.join();
  CloseHandle(done_);
}

void SelfTalkingWindow::Send(UINT msg, int count) {
  PostThreadMessageW(thread_id_, kSendRequest, msg, count);
  WaitForSingleObject(done_, 120000);
}

void SelfTalkingWindow::Destroy() {
  PostThreadMessageW(thread_id_, kDestroyRequest, 0, 0);
  WaitForSingleObject(done_, 10000);
}

void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    testing_support::PumpMessages();
    Sleep(5);
  } while (GetTickCount() - start < ms);
  testing_support::PumpMessages();
}

void SpyTest::SetUp() {
  app_ = L"SpyTest";
  DeleteSettings(app_);
  spy::MainWindow::FatalErrorHandler() = [this](const common::RuntimeError& e) { fatal_.push_back(e.number()); };
}

void SpyTest::TearDown() {
  w_.reset();
  testing_support::PumpMessages();
  DeleteSettings(app_);
  EXPECT_TRUE(fatal_.empty()) << "an event handler failed with error " << (fatal_.empty() ? 0 : fatal_[0]);
  spy::MainWindow::FatalErrorHandler() = [](const common::RuntimeError& e) {
    ADD_FAILURE() << "an event handler failed with error " << e.number();
  };
}

spy::MainWindow& SpyTest::Open(bool show) {
  w_ = std::make_unique<spy::MainWindow>(spy::MainWindowOptions{app_, false});
  w_->message_box = [this](HWND, const std::wstring& text, const std::wstring& caption, UINT flags) {
    boxes_.push_back(text + L"|" + caption + L"|" + std::to_wstring(flags));
    return IDOK;
  };
  if (show) w_->Show(SW_SHOWNORMAL);
  testing_support::PumpMessages();
  return *w_;
}

void SpyTest::CloseAndForget() {
  ClickToolbar(0);
  EXPECT_TRUE(w_->closed());
  testing_support::PumpMessages();
  EXPECT_EQ(nullptr, w_->hwnd()) << "the window is gone once the click has been handled";
  w_.reset();
}

void SpyTest::Mouse(UINT msg, float x, float y, WPARAM keys) {
  const int px = static_cast<int>(std::lround(x / w_->twips_per_pixel_x()));
  const int py = static_cast<int>(std::lround(y / w_->twips_per_pixel_y()));
  SendMessageW(w_->hwnd(), msg, keys, MAKELPARAM(px, py));
}

void SpyTest::ClickToolbar(int index) {
  RECT r{};
  ASSERT_TRUE(SendMessageW(w_->toolbar(), TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r)));
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(w_->toolbar(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(w_->toolbar(), WM_LBUTTONUP, 0, at);
}

void SpyTest::SelectNode(HTREEITEM node) {
  ASSERT_NE(nullptr, node);
  SendMessageW(w_->tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
}

bool SpyTest::SpyPressed() { return SendMessageW(w_->toolbar(), TB_ISBUTTONCHECKED, spy::kButtonSpy, 0) != 0; }

void SpyTest::SetClientSize(int width, int height) {
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(w_->hwnd(), GWL_STYLE)), FALSE, 0);
  SetWindowPos(w_->hwnd(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace spy_test
