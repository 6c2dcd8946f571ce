// Message names from a type library, and the text of a log line.
#include <gtest/gtest.h>

#include <cwctype>
#include <map>

#include "com_ptr.h"
#include "message_names.h"
#include "runtime_error.h"
#include "winmsg_table.h"

namespace spy_test {
namespace {

using common::com_ptr;

// Builds a type library in memory with an enumeration of the given members.
com_ptr<ITypeLib> LibraryWith(const wchar_t* enum_name, const std::vector<std::pair<const wchar_t*, LONG>>& members) {
  com_ptr<ICreateTypeLib2> create;
  EXPECT_EQ(S_OK, CreateTypeLib2(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, L"names_test.tlb", create.put()));
  com_ptr<ICreateTypeInfo> info;
  EXPECT_EQ(S_OK, create->CreateTypeInfo(const_cast<LPOLESTR>(enum_name), TKIND_ENUM, info.put()));
  for (UINT i = 0; i < members.size(); ++i) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = members[i].second;
    VARDESC var{};
    var.memid = static_cast<MEMBERID>(0x40000000 + i);
    var.lpvarValue = &value;
    var.elemdescVar.tdesc.vt = VT_I4;
    var.varkind = VAR_CONST;
    EXPECT_EQ(S_OK, info->AddVarDesc(i, &var));
    EXPECT_EQ(S_OK, info->SetVarName(i, const_cast<LPOLESTR>(members[i].first)));
  }
  EXPECT_EQ(S_OK, info->LayOut());
  return create.query<ITypeLib>(IID_ITypeLib);
}

TEST(MessageNames, TheRegisteredWinMsgEnumerationFillsTheTable) {
  spy::MessageNames names;
  names.LoadRegistered();
  std::map<long, std::wstring> expected;  // a later member with the same value wins
  for (const auto& e : kWinMsgTable) {
    if (e.value >= 1024) continue;
    std::wstring upper = e.name;
    for (auto& ch : upper) ch = static_cast<wchar_t>(std::towupper(ch));
    expected[e.value] = upper;
  }
  ASSERT_GT(expected.size(), 200u);
  for (int32_t n = 0; n < 1024; ++n) {
    auto it = expected.find(n);
    EXPECT_EQ(it == expected.end() ? L"" : it->second, names.Name(n)) << "message " << n;
  }
  EXPECT_EQ(L"WM_PAINT, 0, 0", names.FormatLine(15, 0, 0));
  EXPECT_EQ(L"C001, 1, FFFFFFFF", names.FormatLine(0xC001, 1, -1));
  EXPECT_EQ(names.Name(1023) + L", 0, 0", names.FormatLine(1023, 0, 0));
  EXPECT_EQ(L"400, FF, FFFFFFFE", names.FormatLine(1024, 255, -2));
  EXPECT_EQ(L"WM_NULL, 0, 80000000", names.FormatLine(0, 0, static_cast<int32_t>(0x80000000)));
}

TEST(MessageNames, NamesAreUpperCasedLaterMembersWinAndLargeValuesAreIgnored) {
  auto lib = LibraryWith(L"WinMsg", {{L"wm_Mixed", 5}, {L"First", 7}, {L"second", 7}, {L"edge", 1023},
                                     {L"TooBig", 1024}, {L"Far", 0x7FFFFFFF}});
  ASSERT_TRUE(lib);
  spy::MessageNames names;
  names.Load(lib.get());
  EXPECT_EQ(L"WM_MIXED", names.Name(5));
  EXPECT_EQ(L"SECOND", names.Name(7));
  EXPECT_EQ(L"EDGE, 0, 0", names.FormatLine(1023, 0, 0));
  EXPECT_EQ(L"400, 0, 0", names.FormatLine(1024, 0, 0));
  EXPECT_EQ(L", FF, 0", names.FormatLine(6, 255, 0)) << "a number without a member: empty first field";
  try {
    names.FormatLine(-1, 0, 0);
    ADD_FAILURE() << "a negative message has no entry";
  } catch (const common::RuntimeError& e) {
    EXPECT_EQ(9, e.number());
  }
}

TEST(MessageNames, ANegativeValueOrNoWinMsgEnumerationIsAnError) {
  spy::MessageNames names;
  auto negative = LibraryWith(L"WinMsg", {{L"Fine", 1}, {L"Below", -3}});
  try {
    names.Load(negative.get());
    ADD_FAILURE() << "a negative value lies outside the table";
  } catch (const common::RuntimeError& e) {
    EXPECT_EQ(9, e.number());
  }
  auto other = LibraryWith(L"OtherEnum", {{L"Fine", 1}});
  EXPECT_THROW(names.Load(other.get()), common::RuntimeError);
}

}  // namespace
}  // namespace spy_test
