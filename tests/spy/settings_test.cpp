// The stored placement: where it lives, what is written at close, what is read at start.
#include "settings.h"
#include "spy_fixture.h"

namespace spy_test {
namespace {

using Settings = SpyTest;
constexpr float kPixel = 15.5f;

float Stored(const std::wstring& app, const wchar_t* key) {
  auto v = spy::ParseSingle(StoredSetting(app, key));
  EXPECT_TRUE(v.has_value()) << "stored " << testing::PrintToString(StoredSetting(app, key));
  return v.value_or(-1);
}

TEST(SettingsStore, TextValuesUnderTheApplicationNameOfTheExecutable) {
  EXPECT_EQ(L"spy_tests", spy::ApplicationName());
  DeleteSettings(L"SpyStoreTest");
  spy::SaveSetting(L"SpyStoreTest", L"Position", L"Left", L"1234.5");
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER,
                                         L"Software\\VB and VBA Program Settings\\SpyStoreTest\\Position", 0,
                                         KEY_QUERY_VALUE, &k));
  wchar_t buf[32] = {};
  DWORD type = 0, bytes = sizeof buf;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, L"Left", nullptr, &type, reinterpret_cast<BYTE*>(buf), &bytes));
  RegCloseKey(k);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_STREQ(L"1234.5", buf);
  EXPECT_EQ(L"dflt", spy::GetSetting(L"SpyStoreTest", L"Position", L"Top", L"dflt"));
  EXPECT_EQ(L"dflt", spy::GetSetting(L"SpyStoreTestOther", L"Position", L"Left", L"dflt"));
  DeleteSettings(L"SpyStoreTest");

  EXPECT_EQ(L"4500", spy::SingleText(4500));
  EXPECT_EQ(L"-300", spy::SingleText(-300));
  EXPECT_EQ(L"1234.5", spy::SingleText(1234.5f));
  EXPECT_EQ(7.25f, spy::ParseSingle(L" 7.25 ").value_or(0));
  EXPECT_FALSE(spy::ParseSingle(L"abc").has_value());
  EXPECT_FALSE(spy::ParseSingle(L"12px").has_value());
  EXPECT_FALSE(spy::ParseSingle(L"").has_value());
}

// Large and small numbers are written out in plain decimal text, with no more significant
// digits than the number carries; either form is read back.
TEST(SettingsStore, NumbersWrittenWithoutExponent) {
  EXPECT_EQ(L"100000", spy::SingleText(100000));
  EXPECT_EQ(L"-250000", spy::SingleText(-250000));
  EXPECT_EQ(L"10000000000", spy::SingleText(1e10f));
  EXPECT_EQ(L"0.00025", spy::SingleText(0.00025f));
  EXPECT_EQ(L"0", spy::SingleText(0));
  EXPECT_EQ(L"123456790", spy::SingleText(123456789.0f)) << "nine digits at most, the rest zeros";
  EXPECT_EQ(L"16777216", spy::SingleText(16777216.0f));
  for (float v : {100000.0f, 1e10f, 0.00025f, 123456789.0f, 3.4e38f, 1.5e-30f, -7.125e6f}) {
    const std::wstring text = spy::SingleText(v);
    EXPECT_EQ(std::wstring::npos, text.find_first_of(L"eE")) << testing::PrintToString(text);
    EXPECT_EQ(v, spy::ParseSingle(text).value_or(-1)) << testing::PrintToString(text);
  }
  EXPECT_EQ(100000.0f, spy::ParseSingle(L"1e+05").value_or(-1)) << "values stored by earlier versions";
  EXPECT_EQ(100000.0f, spy::ParseSingle(L"1E5").value_or(-1));
  EXPECT_EQ(100000.0f, spy::ParseSingle(L"100000").value_or(-1));
}

TEST_F(Settings, RoundTripUnderTwoExecutableNames) {
  const std::wstring other = L"SpyTestOther";
  DeleteSettings(other);
  auto& w = Open();
  // Move the splitter and the window, then close.
  const float y = (w.splitter_top() + w.splitter_bottom()) / 2;
  Mouse(WM_MOUSEMOVE, 4530, y);
  Mouse(WM_LBUTTONDOWN, 4530, y, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, 3300, y, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 3300, y);
  SetWindowPos(w.hwnd(), nullptr, 40, 60, 640, 480, SWP_NOZORDER | SWP_NOACTIVATE);
  const spy::TwipsRect placed = w.FormRect();
  CloseAndForget();

  EXPECT_EQ(L"3300", StoredSetting(app_, L"SplitterPos"));
  EXPECT_EQ(placed.left, Stored(app_, L"Left"));
  EXPECT_EQ(placed.top, Stored(app_, L"Top"));
  EXPECT_EQ(placed.width, Stored(app_, L"Width"));
  EXPECT_EQ(placed.height, Stored(app_, L"Height"));
  EXPECT_EQ(L"<absent>", StoredSetting(other, L"Left")) << "another name is another group";

  auto& again = Open();
  EXPECT_EQ(3300, again.splitter_pos());
  EXPECT_NEAR(3300, again.ControlRect(again.tree()).width, kPixel);
  const spy::TwipsRect restored = again.FormRect();
  EXPECT_EQ(placed.left, restored.left);
  EXPECT_EQ(placed.top, restored.top);
  EXPECT_EQ(placed.width, restored.width);
  EXPECT_EQ(placed.height, restored.height);
  w_.reset();

  // The other name starts with the defaults and keeps its own values.
  app_ = other;
  auto& fresh = Open();
  EXPECT_EQ(4500, fresh.splitter_pos());
  EXPECT_NEAR(700, fresh.FormRect().left, kPixel);
  CloseAndForget();
  EXPECT_EQ(L"4500", StoredSetting(other, L"SplitterPos"));
  EXPECT_EQ(L"3300", StoredSetting(L"SpyTest", L"SplitterPos"));
  DeleteSettings(L"SpyTest");
}

TEST_F(Settings, AStoredTextThatIsNoNumberTakesThatKeysDefault) {
  StoreSetting(app_, L"SplitterPos", L"wide");
  StoreSetting(app_, L"Left", L"1500");
  StoreSetting(app_, L"Top", L"");
  StoreSetting(app_, L"Width", L"9000");
  StoreSetting(app_, L"Height", L"1e99");
  auto& w = Open();
  EXPECT_TRUE(fatal_.empty());
  EXPECT_EQ(4500, w.splitter_pos());
  const spy::TwipsRect form = w.FormRect();
  EXPECT_NEAR(1500, form.left, kPixel);
  EXPECT_NEAR(700, form.top, kPixel);
  EXPECT_NEAR(9000, form.width, kPixel);
  EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) * w.twips_per_pixel_y() - 1400, form.height, kPixel);
}

TEST_F(Settings, ClosingMinimisedOrMaximisedStoresTheRestoredPlacement) {
  for (int command : {SW_MINIMIZE, SW_MAXIMIZE}) {
    SCOPED_TRACE(command == SW_MINIMIZE ? "minimised" : "maximised");
    DeleteSettings(app_);
    auto& w = Open();
    SetWindowPos(w.hwnd(), nullptr, 90, 75, 600, 450, SWP_NOZORDER | SWP_NOACTIVATE);
    const spy::TwipsRect normal = w.FormRect();
    ShowWindow(w.hwnd(), command);
    PumpFor(100);
    if (command == SW_MAXIMIZE && !IsZoomed(w.hwnd())) {
      WINDOWPLACEMENT wp{};
      wp.length = sizeof wp;
      GetWindowPlacement(w.hwnd(), &wp);
      wp.showCmd = SW_SHOWMAXIMIZED;
      SetWindowPlacement(w.hwnd(), &wp);
      PumpFor(100);
    }
    ASSERT_TRUE(command == SW_MINIMIZE ? IsIconic(w.hwnd()) : IsZoomed(w.hwnd()));
    CloseAndForget();
    EXPECT_EQ(normal.left, Stored(app_, L"Left"));
    EXPECT_EQ(normal.top, Stored(app_, L"Top"));
    EXPECT_EQ(normal.width, Stored(app_, L"Width"));
    EXPECT_EQ(normal.height, Stored(app_, L"Height"));
    auto& again = Open();
    EXPECT_EQ(normal.left, again.FormRect().left);
    EXPECT_EQ(normal.width, again.FormRect().width);
    w_.reset();
  }
}

TEST_F(Settings, APlacementWithNoTitleBarOnAnyMonitorIsMovedOntoTheNearest) {
  StoreSetting(app_, L"Left", L"-150000");
  StoreSetting(app_, L"Top", L"90000");
  StoreSetting(app_, L"Width", L"6000");
  StoreSetting(app_, L"Height", L"4500");
  {
    auto& w = Open();
    RECT r;
    GetWindowRect(w.hwnd(), &r);
    RECT title{r.left, r.top, r.right, r.top + GetSystemMetrics(SM_CYCAPTION)};
    EXPECT_NE(nullptr, MonitorFromRect(&title, MONITOR_DEFAULTTONULL)) << r.left << "," << r.top;
    EXPECT_NEAR(6000, w.FormRect().width, kPixel) << "the size stays";
    w_.reset();
  }
  // Partly visible: stays exactly as stored.
  StoreSetting(app_, L"Left", L"-1500");
  StoreSetting(app_, L"Top", L"300");
  auto& w = Open();
  EXPECT_NEAR(-1500, w.FormRect().left, kPixel);
  EXPECT_NEAR(300, w.FormRect().top, kPixel);
}

}  // namespace
}  // namespace spy_test
