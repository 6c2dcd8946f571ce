#include "spy_fixture.h"

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
