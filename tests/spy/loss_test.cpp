// Messages that a watched program could not hand over (Snoopet too slow to take them) are never
// lost without a word: a line with their count stands where they are missing, in the log and in
// a capture file, and a loss at the very end of a capture gets its line too.
#include "spy_fixture.h"

#include <algorithm>
#include <cwchar>

namespace spy_test {
namespace {

using Loss = SpyTest;

// Records a watched program keeps for its watcher before it has to drop messages.
constexpr int kBuffer = 8192;

int CountRows(const std::vector<std::vector<std::wstring>>& rows, const std::wstring& name) {
  return static_cast<int>(std::count_if(rows.begin(), rows.end(), [&](const auto& r) { return r.size() > 5 && r[5] == name; }));
}

TEST_F(Loss, AnOverloadGetsALineWithTheExactCountInTheLogAndTheCsvAndTheEndOfACaptureToo) {
  SelfTalkingWindow target;
  ASSERT_TRUE(target.hwnd());
  auto& w = Open();
  spy::MessageFilter only;  // nothing else of the window takes room in its buffer
  only.include_only = true;
  only.messages = {WM_USER + 1, WM_USER + 2, WM_USER + 3};
  w.SetFilter(only);
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  ASSERT_TRUE(SpyPressed());
  const std::wstring csv = TempPath(L"snoopet-loss.csv");
  w.StartCaptureFile(csv, true);

  target.Send(WM_USER + 1, 1);
  for (int i = 0; i < 200 && w.store().size() < 1; ++i) PumpFor(20);
  ASSERT_EQ(1u, w.store().size());

  // This thread takes nothing while the window sends itself a buffer's worth and 123 more.
  target.Send(WM_USER + 2, kBuffer + 123);
  for (int i = 0; i < 1500 && (!w.capture_file() || w.capture_file()->messages() < 1 + kBuffer); ++i) PumpFor(20);
  ASSERT_EQ(static_cast<uint64_t>(1 + kBuffer), w.capture_file()->messages());
  target.Send(WM_USER + 3, 1);
  for (int i = 0; i < 200 && ShownLines(w).back() != L"403, 0, 0"; ++i) PumpFor(20);

  auto lines = ShownLines(w);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(L"403, 0, 0", lines.back());
  EXPECT_EQ(L"--- 123 messages not captured", lines[lines.size() - 2]);
  EXPECT_EQ(lines.size(), w.store().size()) << "one record per line";
  EXPECT_EQ(spy::RecordKind::Loss, w.store().At(lines.size() - 2)->kind);
  EXPECT_EQ(static_cast<uint64_t>(1 + kBuffer + 123 + 1), w.store().Last()->index)
      << "the numbers go on past the gap";
  EXPECT_NE(std::wstring::npos, w.DetailsOfLine(static_cast<int>(lines.size()) - 2).find(L"123 messages not captured"));

  // Another overload with no message after it: the end of the capture says so.
  target.Send(WM_USER + 2, kBuffer + 7);
  for (int i = 0; i < 1500 && w.capture_file()->messages() < 2 + 2 * kBuffer; ++i) PumpFor(20);
  ClickToolbar(1);  // Spy released
  w.StopCaptureFile();

  bool bom = false;
  const auto rows = ParseCsv(ReadUtf8(csv, &bom));
  ASSERT_GE(rows.size(), 4u);
  EXPECT_EQ(L"LostBefore", rows[0].back());
  EXPECT_EQ(2 * kBuffer, CountRows(rows, L"WM_USER+2"));
  std::vector<size_t> losses;
  long summed = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[0].size(), rows[i].size()) << "row " << i;
    if (rows[i][10].find(L"not captured") != std::wstring::npos) losses.push_back(i);
    summed += std::wcstol(rows[i].back().c_str(), nullptr, 10);
  }
  ASSERT_EQ(2u, losses.size());
  // Read as text by a spreadsheet (it starts with a minus sign).
  EXPECT_EQ(L"'--- 123 messages not captured", rows[losses[0]][10]);
  EXPECT_EQ(L"123", rows[losses[0]].back());
  EXPECT_EQ(L"WM_USER+3", rows[losses[0] + 1][5]) << "the loss stands where the messages are missing";
  EXPECT_EQ(L"'--- 7 messages not captured", rows[losses[1]][10]);
  EXPECT_EQ(rows.size() - 1, losses[1]) << "the last line of the capture";
  EXPECT_EQ(130, summed) << "the LostBefore column adds up to every message lost";
  DeleteFileW(csv.c_str());
}

// Losses nobody's next line brings: a capture file stopped while the capture goes on ends with
// their line, and a capture that ends because its window went shows it in the log.
TEST_F(Loss, ALossAtTheEndOfAFileOrOfACaptureGetsItsLineThere) {
  SelfTalkingWindow target;
  ASSERT_TRUE(target.hwnd());
  auto& w = Open();
  spy::MessageFilter only;
  only.include_only = true;
  only.messages = {WM_USER + 2};
  w.SetFilter(only);
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  ASSERT_TRUE(SpyPressed());
  const std::wstring file = TempPath(L"snoopet-endloss.txt");
  w.StartCaptureFile(file, false);
  target.Send(WM_USER + 2, kBuffer + 50);
  for (int i = 0; i < 1500 && w.capture_file()->messages() < static_cast<uint64_t>(kBuffer); ++i) PumpFor(20);
  ASSERT_EQ(static_cast<uint64_t>(kBuffer), w.capture_file()->messages());
  w.StopCaptureFile();
  bool bom = false;
  const std::wstring text = ReadUtf8(file, &bom);
  ASSERT_GE(text.size(), 2u);
  const size_t last = text.rfind(L"\r\n", text.size() - 3);
  EXPECT_EQ(L"--- 50 messages not captured\r\n", text.substr(last == std::wstring::npos ? 0 : last + 2));
  DeleteFileW(file.c_str());

  target.Destroy();
  wchar_t caption[256] = {};
  for (int i = 0; i < 500 && !std::wcsstr(caption, L"capture ended"); ++i) {
    PumpFor(20);
    GetWindowTextW(w.hwnd(), caption, 256);
  }
  ASSERT_NE(nullptr, std::wcsstr(caption, L"capture ended")) << caption;
  PumpFor(100);
  const auto lines = ShownLines(w);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(L"--- 50 messages not captured", lines.back());
  ClickToolbar(1);
}

}  // namespace
}  // namespace spy_test
