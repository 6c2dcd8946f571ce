#include "message_decode.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <map>
#include <mutex>

namespace spy {

namespace {

struct NamedValue {
  uint32_t value;
  const wchar_t* name;
};
#define N(x) {static_cast<uint32_t>(x), L## #x}

// --- the window classes' own messages -----------------------------------------------------------

const NamedValue kEditMessages[] = {
    N(EM_GETSEL), N(EM_SETSEL), N(EM_GETRECT), N(EM_SETRECT), N(EM_SETRECTNP), N(EM_SCROLL), N(EM_LINESCROLL),
    N(EM_SCROLLCARET), N(EM_GETMODIFY), N(EM_SETMODIFY), N(EM_GETLINECOUNT), N(EM_LINEINDEX), N(EM_SETHANDLE),
    N(EM_GETHANDLE), N(EM_GETTHUMB), N(EM_LINELENGTH), N(EM_REPLACESEL), N(EM_GETLINE), N(EM_LIMITTEXT),
    N(EM_CANUNDO), N(EM_UNDO), N(EM_FMTLINES), N(EM_LINEFROMCHAR), N(EM_SETTABSTOPS), N(EM_SETPASSWORDCHAR),
    N(EM_EMPTYUNDOBUFFER), N(EM_GETFIRSTVISIBLELINE), N(EM_SETREADONLY), N(EM_SETWORDBREAKPROC),
    N(EM_GETWORDBREAKPROC), N(EM_GETPASSWORDCHAR), N(EM_SETMARGINS), N(EM_GETMARGINS), N(EM_GETLIMITTEXT),
    N(EM_POSFROMCHAR), N(EM_CHARFROMPOS), N(EM_SETIMESTATUS), N(EM_GETIMESTATUS), N(EM_SETCUEBANNER),
    N(EM_GETCUEBANNER), N(EM_SHOWBALLOONTIP), N(EM_HIDEBALLOONTIP),
};

// A rich edit answers the edit's messages and these.
const NamedValue kRichEditMessages[] = {
    N(EM_CANPASTE), N(EM_DISPLAYBAND), N(EM_EXGETSEL), N(EM_EXLIMITTEXT), N(EM_EXLINEFROMCHAR), N(EM_EXSETSEL),
    N(EM_FINDTEXT), N(EM_FORMATRANGE), N(EM_GETCHARFORMAT), N(EM_GETEVENTMASK), N(EM_GETOLEINTERFACE),
    N(EM_GETPARAFORMAT), N(EM_GETSELTEXT), N(EM_HIDESELECTION), N(EM_PASTESPECIAL), N(EM_REQUESTRESIZE),
    N(EM_SELECTIONTYPE), N(EM_SETBKGNDCOLOR), N(EM_SETCHARFORMAT), N(EM_SETEVENTMASK), N(EM_SETOLECALLBACK),
    N(EM_SETPARAFORMAT), N(EM_SETTARGETDEVICE), N(EM_STREAMIN), N(EM_STREAMOUT), N(EM_GETTEXTRANGE),
    N(EM_FINDWORDBREAK), N(EM_SETOPTIONS), N(EM_GETOPTIONS), N(EM_FINDTEXTEX), N(EM_SETUNDOLIMIT), N(EM_REDO),
    N(EM_CANREDO), N(EM_SETTEXTEX), N(EM_GETTEXTEX), N(EM_GETTEXTLENGTHEX), N(EM_SETZOOM), N(EM_GETZOOM),
};

const NamedValue kListBoxMessages[] = {
    N(LB_ADDSTRING), N(LB_INSERTSTRING), N(LB_DELETESTRING), N(LB_SELITEMRANGEEX), N(LB_RESETCONTENT),
    N(LB_SETSEL), N(LB_SETCURSEL), N(LB_GETSEL), N(LB_GETCURSEL), N(LB_GETTEXT), N(LB_GETTEXTLEN), N(LB_GETCOUNT),
    N(LB_SELECTSTRING), N(LB_DIR), N(LB_GETTOPINDEX), N(LB_FINDSTRING), N(LB_GETSELCOUNT), N(LB_GETSELITEMS),
    N(LB_SETTABSTOPS), N(LB_GETHORIZONTALEXTENT), N(LB_SETHORIZONTALEXTENT), N(LB_SETCOLUMNWIDTH), N(LB_ADDFILE),
    N(LB_SETTOPINDEX), N(LB_GETITEMRECT), N(LB_GETITEMDATA), N(LB_SETITEMDATA), N(LB_SELITEMRANGE),
    N(LB_SETANCHORINDEX), N(LB_GETANCHORINDEX), N(LB_SETCARETINDEX), N(LB_GETCARETINDEX), N(LB_SETITEMHEIGHT),
    N(LB_GETITEMHEIGHT), N(LB_FINDSTRINGEXACT), N(LB_SETLOCALE), N(LB_GETLOCALE), N(LB_SETCOUNT),
    N(LB_INITSTORAGE), N(LB_ITEMFROMPOINT), N(LB_GETLISTBOXINFO),
};

const NamedValue kComboBoxMessages[] = {
    N(CB_GETEDITSEL), N(CB_LIMITTEXT), N(CB_SETEDITSEL), N(CB_ADDSTRING), N(CB_DELETESTRING), N(CB_DIR),
    N(CB_GETCOUNT), N(CB_GETCURSEL), N(CB_GETLBTEXT), N(CB_GETLBTEXTLEN), N(CB_INSERTSTRING), N(CB_RESETCONTENT),
    N(CB_FINDSTRING), N(CB_SELECTSTRING), N(CB_SETCURSEL), N(CB_SHOWDROPDOWN), N(CB_GETITEMDATA),
    N(CB_SETITEMDATA), N(CB_GETDROPPEDCONTROLRECT), N(CB_SETITEMHEIGHT), N(CB_GETITEMHEIGHT), N(CB_SETEXTENDEDUI),
    N(CB_GETEXTENDEDUI), N(CB_GETDROPPEDSTATE), N(CB_FINDSTRINGEXACT), N(CB_SETLOCALE), N(CB_GETLOCALE),
    N(CB_GETTOPINDEX), N(CB_SETTOPINDEX), N(CB_GETHORIZONTALEXTENT), N(CB_SETHORIZONTALEXTENT),
    N(CB_GETDROPPEDWIDTH), N(CB_SETDROPPEDWIDTH), N(CB_INITSTORAGE), N(CB_GETCOMBOBOXINFO), N(CB_SETMINVISIBLE),
    N(CB_GETMINVISIBLE), N(CB_SETCUEBANNER), N(CB_GETCUEBANNER),
};

const NamedValue kButtonMessages[] = {
    N(BM_GETCHECK), N(BM_SETCHECK), N(BM_GETSTATE), N(BM_SETSTATE), N(BM_SETSTYLE), N(BM_CLICK), N(BM_GETIMAGE),
    N(BM_SETIMAGE), N(BM_SETDONTCLICK), N(BCM_GETIDEALSIZE), N(BCM_SETIMAGELIST), N(BCM_GETIMAGELIST),
    N(BCM_SETTEXTMARGIN), N(BCM_GETTEXTMARGIN),
};

const NamedValue kScrollBarMessages[] = {
    N(SBM_SETPOS), N(SBM_GETPOS), N(SBM_SETRANGE), N(SBM_SETRANGEREDRAW), N(SBM_GETRANGE), N(SBM_ENABLE_ARROWS),
    N(SBM_SETSCROLLINFO), N(SBM_GETSCROLLINFO), N(SBM_GETSCROLLBARINFO),
};

const NamedValue kStaticMessages[] = {N(STM_SETICON), N(STM_GETICON), N(STM_SETIMAGE), N(STM_GETIMAGE)};

const NamedValue kListViewMessages[] = {
    N(LVM_GETBKCOLOR), N(LVM_SETBKCOLOR), N(LVM_GETIMAGELIST), N(LVM_SETIMAGELIST), N(LVM_GETITEMCOUNT),
    N(LVM_GETITEMA), N(LVM_GETITEMW), N(LVM_SETITEMA), N(LVM_SETITEMW), N(LVM_INSERTITEMA), N(LVM_INSERTITEMW),
    N(LVM_DELETEITEM), N(LVM_DELETEALLITEMS), N(LVM_GETCALLBACKMASK), N(LVM_SETCALLBACKMASK), N(LVM_GETNEXTITEM),
    N(LVM_FINDITEMA), N(LVM_FINDITEMW), N(LVM_GETITEMRECT), N(LVM_SETITEMPOSITION), N(LVM_GETITEMPOSITION),
    N(LVM_GETSTRINGWIDTHA), N(LVM_GETSTRINGWIDTHW), N(LVM_HITTEST), N(LVM_ENSUREVISIBLE), N(LVM_SCROLL),
    N(LVM_REDRAWITEMS), N(LVM_ARRANGE), N(LVM_EDITLABELA), N(LVM_EDITLABELW), N(LVM_GETEDITCONTROL),
    N(LVM_GETCOLUMNA), N(LVM_GETCOLUMNW), N(LVM_SETCOLUMNA), N(LVM_SETCOLUMNW), N(LVM_INSERTCOLUMNA),
    N(LVM_INSERTCOLUMNW), N(LVM_DELETECOLUMN), N(LVM_GETCOLUMNWIDTH), N(LVM_SETCOLUMNWIDTH), N(LVM_GETHEADER),
    N(LVM_CREATEDRAGIMAGE), N(LVM_GETVIEWRECT), N(LVM_GETTEXTCOLOR), N(LVM_SETTEXTCOLOR), N(LVM_GETTEXTBKCOLOR),
    N(LVM_SETTEXTBKCOLOR), N(LVM_GETTOPINDEX), N(LVM_GETCOUNTPERPAGE), N(LVM_GETORIGIN), N(LVM_UPDATE),
    N(LVM_SETITEMSTATE), N(LVM_GETITEMSTATE), N(LVM_GETITEMTEXTA), N(LVM_GETITEMTEXTW), N(LVM_SETITEMTEXTA),
    N(LVM_SETITEMTEXTW), N(LVM_SETITEMCOUNT), N(LVM_SORTITEMS), N(LVM_SETITEMPOSITION32), N(LVM_GETSELECTEDCOUNT),
    N(LVM_GETITEMSPACING), N(LVM_GETISEARCHSTRINGA), N(LVM_GETISEARCHSTRINGW), N(LVM_SETICONSPACING),
    N(LVM_SETEXTENDEDLISTVIEWSTYLE), N(LVM_GETEXTENDEDLISTVIEWSTYLE), N(LVM_GETSUBITEMRECT), N(LVM_SUBITEMHITTEST),
    N(LVM_SETCOLUMNORDERARRAY), N(LVM_GETCOLUMNORDERARRAY), N(LVM_SETHOTITEM), N(LVM_GETHOTITEM),
    N(LVM_SETHOTCURSOR), N(LVM_GETHOTCURSOR), N(LVM_APPROXIMATEVIEWRECT), N(LVM_SETWORKAREAS),
    N(LVM_GETSELECTIONMARK), N(LVM_SETSELECTIONMARK), N(LVM_GETWORKAREAS), N(LVM_SETHOVERTIME),
    N(LVM_GETHOVERTIME), N(LVM_GETNUMBEROFWORKAREAS), N(LVM_SETTOOLTIPS), N(LVM_GETTOOLTIPS), N(LVM_SORTITEMSEX),
    N(LVM_SETBKIMAGEW), N(LVM_GETBKIMAGEW), N(LVM_SETVIEW), N(LVM_GETVIEW), N(LVM_INSERTGROUP), N(LVM_SETGROUPINFO),
    N(LVM_GETGROUPINFO), N(LVM_REMOVEGROUP), N(LVM_ENABLEGROUPVIEW), N(LVM_REMOVEALLGROUPS),
    N(LVM_SETSELECTEDCOLUMN), N(LVM_SETTILEVIEWINFO), N(LVM_SETTILEINFO), N(LVM_SETINSERTMARK),
    N(LVM_GETINSERTMARK), N(LVM_SETOUTLINECOLOR), N(LVM_GETOUTLINECOLOR), N(LVM_MAPINDEXTOID),
    N(LVM_MAPIDTOINDEX), N(LVM_ISITEMVISIBLE),
};

const NamedValue kTreeViewMessages[] = {
    N(TVM_INSERTITEMA), N(TVM_INSERTITEMW), N(TVM_DELETEITEM), N(TVM_EXPAND), N(TVM_GETITEMRECT), N(TVM_GETCOUNT),
    N(TVM_GETINDENT), N(TVM_SETINDENT), N(TVM_GETIMAGELIST), N(TVM_SETIMAGELIST), N(TVM_GETNEXTITEM),
    N(TVM_SELECTITEM), N(TVM_GETITEMA), N(TVM_GETITEMW), N(TVM_SETITEMA), N(TVM_SETITEMW), N(TVM_EDITLABELA),
    N(TVM_EDITLABELW), N(TVM_GETEDITCONTROL), N(TVM_GETVISIBLECOUNT), N(TVM_HITTEST), N(TVM_CREATEDRAGIMAGE),
    N(TVM_SORTCHILDREN), N(TVM_ENSUREVISIBLE), N(TVM_SORTCHILDRENCB), N(TVM_ENDEDITLABELNOW),
    N(TVM_GETISEARCHSTRINGA), N(TVM_GETISEARCHSTRINGW), N(TVM_SETTOOLTIPS), N(TVM_GETTOOLTIPS),
    N(TVM_SETINSERTMARK), N(TVM_SETITEMHEIGHT), N(TVM_GETITEMHEIGHT), N(TVM_SETBKCOLOR), N(TVM_SETTEXTCOLOR),
    N(TVM_GETBKCOLOR), N(TVM_GETTEXTCOLOR), N(TVM_SETSCROLLTIME), N(TVM_GETSCROLLTIME), N(TVM_SETINSERTMARKCOLOR),
    N(TVM_GETINSERTMARKCOLOR), N(TVM_GETITEMSTATE), N(TVM_SETLINECOLOR), N(TVM_GETLINECOLOR),
    N(TVM_MAPACCIDTOHTREEITEM), N(TVM_MAPHTREEITEMTOACCID),
};

const NamedValue kToolbarMessages[] = {
    N(TB_ENABLEBUTTON), N(TB_CHECKBUTTON), N(TB_PRESSBUTTON), N(TB_HIDEBUTTON), N(TB_INDETERMINATE),
    N(TB_MARKBUTTON), N(TB_ISBUTTONENABLED), N(TB_ISBUTTONCHECKED), N(TB_ISBUTTONPRESSED), N(TB_ISBUTTONHIDDEN),
    N(TB_ISBUTTONINDETERMINATE), N(TB_ISBUTTONHIGHLIGHTED), N(TB_SETSTATE), N(TB_GETSTATE), N(TB_ADDBITMAP),
    N(TB_ADDBUTTONSA), N(TB_INSERTBUTTONA), N(TB_DELETEBUTTON), N(TB_GETBUTTON), N(TB_BUTTONCOUNT),
    N(TB_COMMANDTOINDEX), N(TB_SAVERESTOREA), N(TB_SAVERESTOREW), N(TB_CUSTOMIZE), N(TB_ADDSTRINGA),
    N(TB_ADDSTRINGW), N(TB_GETITEMRECT), N(TB_BUTTONSTRUCTSIZE), N(TB_SETBUTTONSIZE), N(TB_SETBITMAPSIZE),
    N(TB_AUTOSIZE), N(TB_GETTOOLTIPS), N(TB_SETTOOLTIPS), N(TB_SETPARENT), N(TB_SETROWS), N(TB_GETROWS),
    N(TB_SETCMDID), N(TB_CHANGEBITMAP), N(TB_GETBITMAP), N(TB_GETBUTTONTEXTA), N(TB_GETBUTTONTEXTW),
    N(TB_REPLACEBITMAP), N(TB_SETINDENT), N(TB_SETIMAGELIST), N(TB_GETIMAGELIST), N(TB_LOADIMAGES), N(TB_GETRECT),
    N(TB_SETHOTIMAGELIST), N(TB_GETHOTIMAGELIST), N(TB_SETDISABLEDIMAGELIST), N(TB_GETDISABLEDIMAGELIST),
    N(TB_SETSTYLE), N(TB_GETSTYLE), N(TB_GETBUTTONSIZE), N(TB_SETBUTTONWIDTH), N(TB_SETMAXTEXTROWS),
    N(TB_GETTEXTROWS), N(TB_GETOBJECT), N(TB_GETHOTITEM), N(TB_SETHOTITEM), N(TB_SETANCHORHIGHLIGHT),
    N(TB_GETANCHORHIGHLIGHT), N(TB_MAPACCELERATORA), N(TB_GETINSERTMARK), N(TB_SETINSERTMARK),
    N(TB_INSERTMARKHITTEST), N(TB_MOVEBUTTON), N(TB_GETMAXSIZE), N(TB_SETEXTENDEDSTYLE), N(TB_GETEXTENDEDSTYLE),
    N(TB_GETPADDING), N(TB_SETPADDING), N(TB_SETINSERTMARKCOLOR), N(TB_GETINSERTMARKCOLOR),
    N(TB_MAPACCELERATORW), N(TB_GETBUTTONINFOW), N(TB_SETBUTTONINFOW), N(TB_GETBUTTONINFOA),
    N(TB_SETBUTTONINFOA), N(TB_INSERTBUTTONW), N(TB_ADDBUTTONSW), N(TB_HITTEST), N(TB_SETDRAWTEXTFLAGS),
    N(TB_GETSTRINGW), N(TB_GETSTRINGA),
};

const NamedValue kStatusBarMessages[] = {
    N(SB_SETTEXTA), N(SB_SETTEXTW), N(SB_GETTEXTA), N(SB_GETTEXTW), N(SB_GETTEXTLENGTHA), N(SB_GETTEXTLENGTHW),
    N(SB_SETPARTS), N(SB_GETPARTS), N(SB_GETBORDERS), N(SB_SETMINHEIGHT), N(SB_SIMPLE), N(SB_GETRECT),
    N(SB_ISSIMPLE), N(SB_SETICON), N(SB_SETTIPTEXTA), N(SB_SETTIPTEXTW), N(SB_GETTIPTEXTA), N(SB_GETTIPTEXTW),
    N(SB_GETICON), N(SB_SETBKCOLOR),
};

const NamedValue kTabMessages[] = {
    N(TCM_GETIMAGELIST), N(TCM_SETIMAGELIST), N(TCM_GETITEMCOUNT), N(TCM_GETITEMA), N(TCM_GETITEMW),
    N(TCM_SETITEMA), N(TCM_SETITEMW), N(TCM_INSERTITEMA), N(TCM_INSERTITEMW), N(TCM_DELETEITEM),
    N(TCM_DELETEALLITEMS), N(TCM_GETITEMRECT), N(TCM_GETCURSEL), N(TCM_SETCURSEL), N(TCM_HITTEST),
    N(TCM_SETITEMEXTRA), N(TCM_ADJUSTRECT), N(TCM_SETITEMSIZE), N(TCM_REMOVEIMAGE), N(TCM_SETPADDING),
    N(TCM_GETROWCOUNT), N(TCM_GETTOOLTIPS), N(TCM_SETTOOLTIPS), N(TCM_GETCURFOCUS), N(TCM_SETCURFOCUS),
    N(TCM_SETMINTABWIDTH), N(TCM_DESELECTALL), N(TCM_HIGHLIGHTITEM), N(TCM_SETEXTENDEDSTYLE),
    N(TCM_GETEXTENDEDSTYLE),
};

const NamedValue kProgressMessages[] = {
    N(PBM_SETRANGE), N(PBM_SETPOS), N(PBM_DELTAPOS), N(PBM_SETSTEP), N(PBM_STEPIT), N(PBM_SETRANGE32),
    N(PBM_GETRANGE), N(PBM_GETPOS), N(PBM_SETBARCOLOR), N(PBM_SETMARQUEE), N(PBM_SETBKCOLOR),
};

const NamedValue kTrackbarMessages[] = {
    N(TBM_GETPOS), N(TBM_GETRANGEMIN), N(TBM_GETRANGEMAX), N(TBM_GETTIC), N(TBM_SETTIC), N(TBM_SETPOS),
    N(TBM_SETRANGE), N(TBM_SETRANGEMIN), N(TBM_SETRANGEMAX), N(TBM_CLEARTICS), N(TBM_SETSEL), N(TBM_SETSELSTART),
    N(TBM_SETSELEND), N(TBM_GETPTICS), N(TBM_GETTICPOS), N(TBM_GETNUMTICS), N(TBM_GETSELSTART), N(TBM_GETSELEND),
    N(TBM_CLEARSEL), N(TBM_SETTICFREQ), N(TBM_SETPAGESIZE), N(TBM_GETPAGESIZE), N(TBM_SETLINESIZE),
    N(TBM_GETLINESIZE), N(TBM_GETTHUMBRECT), N(TBM_GETCHANNELRECT), N(TBM_SETTHUMBLENGTH), N(TBM_GETTHUMBLENGTH),
    N(TBM_SETTOOLTIPS), N(TBM_GETTOOLTIPS), N(TBM_SETTIPSIDE), N(TBM_SETBUDDY), N(TBM_GETBUDDY),
};

const NamedValue kUpDownMessages[] = {
    N(UDM_SETRANGE), N(UDM_GETRANGE), N(UDM_SETPOS), N(UDM_GETPOS), N(UDM_SETBUDDY), N(UDM_GETBUDDY),
    N(UDM_SETACCEL), N(UDM_GETACCEL), N(UDM_SETBASE), N(UDM_GETBASE), N(UDM_SETRANGE32), N(UDM_GETRANGE32),
    N(UDM_SETPOS32), N(UDM_GETPOS32),
};

const NamedValue kHeaderMessages[] = {
    N(HDM_GETITEMCOUNT), N(HDM_INSERTITEMA), N(HDM_INSERTITEMW), N(HDM_DELETEITEM), N(HDM_GETITEMA),
    N(HDM_GETITEMW), N(HDM_SETITEMA), N(HDM_SETITEMW), N(HDM_LAYOUT), N(HDM_HITTEST), N(HDM_GETITEMRECT),
    N(HDM_SETIMAGELIST), N(HDM_GETIMAGELIST), N(HDM_ORDERTOINDEX), N(HDM_CREATEDRAGIMAGE), N(HDM_GETORDERARRAY),
    N(HDM_SETORDERARRAY), N(HDM_SETHOTDIVIDER), N(HDM_SETBITMAPMARGIN), N(HDM_GETBITMAPMARGIN),
    N(HDM_SETFILTERCHANGETIMEOUT), N(HDM_EDITFILTER), N(HDM_CLEARFILTER),
};

const NamedValue kRebarMessages[] = {
    N(RB_INSERTBANDA), N(RB_DELETEBAND), N(RB_GETBARINFO), N(RB_SETBARINFO), N(RB_SETBANDINFOA),
    N(RB_SETPARENT), N(RB_HITTEST), N(RB_GETRECT), N(RB_INSERTBANDW), N(RB_SETBANDINFOW), N(RB_GETBANDCOUNT),
    N(RB_GETROWCOUNT), N(RB_GETROWHEIGHT), N(RB_IDTOINDEX), N(RB_GETTOOLTIPS), N(RB_SETTOOLTIPS),
    N(RB_SETBKCOLOR), N(RB_GETBKCOLOR), N(RB_SETTEXTCOLOR), N(RB_GETTEXTCOLOR), N(RB_SIZETORECT),
    N(RB_BEGINDRAG), N(RB_ENDDRAG), N(RB_DRAGMOVE), N(RB_GETBARHEIGHT), N(RB_GETBANDINFOW), N(RB_GETBANDINFOA),
    N(RB_MINIMIZEBAND), N(RB_MAXIMIZEBAND), N(RB_GETBANDBORDERS), N(RB_SHOWBAND), N(RB_SETPALETTE),
    N(RB_GETPALETTE), N(RB_MOVEBAND), N(RB_PUSHCHEVRON),
};

const NamedValue kTooltipMessages[] = {
    N(TTM_ACTIVATE), N(TTM_SETDELAYTIME), N(TTM_ADDTOOLA), N(TTM_DELTOOLA), N(TTM_NEWTOOLRECTA),
    N(TTM_RELAYEVENT), N(TTM_GETTOOLINFOA), N(TTM_SETTOOLINFOA), N(TTM_HITTESTA), N(TTM_GETTEXTA),
    N(TTM_UPDATETIPTEXTA), N(TTM_GETTOOLCOUNT), N(TTM_ENUMTOOLSA), N(TTM_GETCURRENTTOOLA), N(TTM_WINDOWFROMPOINT),
    N(TTM_TRACKACTIVATE), N(TTM_TRACKPOSITION), N(TTM_SETTIPBKCOLOR), N(TTM_SETTIPTEXTCOLOR),
    N(TTM_GETDELAYTIME), N(TTM_GETTIPBKCOLOR), N(TTM_GETTIPTEXTCOLOR), N(TTM_SETMAXTIPWIDTH),
    N(TTM_GETMAXTIPWIDTH), N(TTM_SETMARGIN), N(TTM_GETMARGIN), N(TTM_POP), N(TTM_UPDATE), N(TTM_GETBUBBLESIZE),
    N(TTM_ADJUSTRECT), N(TTM_SETTITLEA), N(TTM_SETTITLEW), N(TTM_POPUP), N(TTM_ADDTOOLW), N(TTM_DELTOOLW),
    N(TTM_NEWTOOLRECTW), N(TTM_GETTOOLINFOW), N(TTM_SETTOOLINFOW), N(TTM_HITTESTW), N(TTM_GETTEXTW),
    N(TTM_UPDATETIPTEXTW), N(TTM_ENUMTOOLSW), N(TTM_GETCURRENTTOOLW),
};

// Messages every common control answers (CCM_FIRST, 0x2000 on).
const NamedValue kCommonControlMessages[] = {
    N(CCM_SETBKCOLOR), N(CCM_SETCOLORSCHEME), N(CCM_GETCOLORSCHEME), N(CCM_GETDROPTARGET),
    N(CCM_SETUNICODEFORMAT), N(CCM_GETUNICODEFORMAT), N(CCM_SETVERSION), N(CCM_GETVERSION), N(CCM_SETNOTIFYWINDOW),
    N(CCM_SETWINDOWTHEME), N(CCM_DPISCALE),
};

struct ClassTable {
  const wchar_t* class_name;  // compared without regard to case
  const NamedValue* rows;
  size_t count;
  bool common_control;
  bool rich_edit = false;  // the rich edit's own messages too
};
#define T(cls, table, cc) {cls, table, std::size(table), cc}
#define RICH(cls) {cls, kEditMessages, std::size(kEditMessages), false, true}
const ClassTable kClassTables[] = {
    T(L"Edit", kEditMessages, false),
    RICH(L"RichEdit20W"),
    RICH(L"RichEdit20A"),
    RICH(L"RICHEDIT50W"),
    T(L"ListBox", kListBoxMessages, false),
    T(L"ComboLBox", kListBoxMessages, false),
    T(L"ComboBox", kComboBoxMessages, false),
    T(L"Button", kButtonMessages, false),
    T(L"ScrollBar", kScrollBarMessages, false),
    T(L"Static", kStaticMessages, false),
    T(WC_LISTVIEWW, kListViewMessages, true),
    T(WC_TREEVIEWW, kTreeViewMessages, true),
    T(TOOLBARCLASSNAMEW, kToolbarMessages, true),
    T(STATUSCLASSNAMEW, kStatusBarMessages, true),
    T(WC_TABCONTROLW, kTabMessages, true),
    T(PROGRESS_CLASSW, kProgressMessages, true),
    T(TRACKBAR_CLASSW, kTrackbarMessages, true),
    T(UPDOWN_CLASSW, kUpDownMessages, true),
    T(WC_HEADERW, kHeaderMessages, true),
    T(REBARCLASSNAMEW, kRebarMessages, true),
    T(TOOLTIPS_CLASSW, kTooltipMessages, true),
};
#undef T
#undef RICH

const wchar_t* Lookup(const NamedValue* rows, size_t count, uint32_t value) {
  for (size_t i = 0; i < count; ++i)
    if (rows[i].value == value) return rows[i].name;
  return nullptr;
}

const ClassTable* TableOf(const std::wstring& class_name) {
  for (const auto& t : kClassTables)
    if (CompareStringOrdinal(class_name.c_str(), -1, t.class_name, -1, TRUE) == CSTR_EQUAL) return &t;
  return nullptr;
}

// --- flag and code names ---------------------------------------------------------------------------

const NamedValue kSwpFlags[] = {
    N(SWP_NOSIZE), N(SWP_NOMOVE), N(SWP_NOZORDER), N(SWP_NOREDRAW), N(SWP_NOACTIVATE), N(SWP_FRAMECHANGED),
    N(SWP_SHOWWINDOW), N(SWP_HIDEWINDOW), N(SWP_NOCOPYBITS), N(SWP_NOOWNERZORDER), N(SWP_NOSENDCHANGING),
    N(SWP_DEFERERASE), N(SWP_ASYNCWINDOWPOS), {0x8000, L"SWP_NOCLIENTSIZE"}, {0x1000, L"SWP_NOCLIENTMOVE"},
    {0x0800, L"SWP_STATECHANGED"},
};
const NamedValue kMouseKeys[] = {N(MK_LBUTTON), N(MK_RBUTTON), N(MK_SHIFT), N(MK_CONTROL), N(MK_MBUTTON),
                                 N(MK_XBUTTON1), N(MK_XBUTTON2)};
const NamedValue kSizeCodes[] = {N(SIZE_RESTORED), N(SIZE_MINIMIZED), N(SIZE_MAXIMIZED), N(SIZE_MAXSHOW),
                                 N(SIZE_MAXHIDE)};
const NamedValue kActivateCodes[] = {N(WA_INACTIVE), N(WA_ACTIVE), N(WA_CLICKACTIVE)};
const NamedValue kHitTests[] = {
    N(HTERROR), N(HTTRANSPARENT), N(HTNOWHERE), N(HTCLIENT), N(HTCAPTION), N(HTSYSMENU), N(HTSIZE), N(HTMENU),
    N(HTHSCROLL), N(HTVSCROLL), N(HTMINBUTTON), N(HTMAXBUTTON), N(HTLEFT), N(HTRIGHT), N(HTTOP), N(HTTOPLEFT),
    N(HTTOPRIGHT), N(HTBOTTOM), N(HTBOTTOMLEFT), N(HTBOTTOMRIGHT), N(HTBORDER), N(HTCLOSE), N(HTHELP),
};
const NamedValue kSysCommands[] = {
    N(SC_SIZE), N(SC_MOVE), N(SC_MINIMIZE), N(SC_MAXIMIZE), N(SC_NEXTWINDOW), N(SC_PREVWINDOW), N(SC_CLOSE),
    N(SC_VSCROLL), N(SC_HSCROLL), N(SC_MOUSEMENU), N(SC_KEYMENU), N(SC_RESTORE), N(SC_TASKLIST),
    N(SC_SCREENSAVE), N(SC_HOTKEY), N(SC_DEFAULT), N(SC_MONITORPOWER), N(SC_CONTEXTHELP),
};
const NamedValue kScrollCodes[] = {
    N(SB_LINEUP), N(SB_LINEDOWN), N(SB_PAGEUP), N(SB_PAGEDOWN), N(SB_THUMBPOSITION), N(SB_THUMBTRACK), N(SB_TOP),
    N(SB_BOTTOM), N(SB_ENDSCROLL),
};
const NamedValue kShowStatus[] = {N(SW_PARENTCLOSING), N(SW_OTHERZOOM), N(SW_PARENTOPENING), N(SW_OTHERUNZOOM)};
const NamedValue kVirtualKeys[] = {
    N(VK_LBUTTON), N(VK_RBUTTON), N(VK_CANCEL), N(VK_MBUTTON), N(VK_BACK), N(VK_TAB), N(VK_CLEAR), N(VK_RETURN),
    N(VK_SHIFT), N(VK_CONTROL), N(VK_MENU), N(VK_PAUSE), N(VK_CAPITAL), N(VK_ESCAPE), N(VK_SPACE), N(VK_PRIOR),
    N(VK_NEXT), N(VK_END), N(VK_HOME), N(VK_LEFT), N(VK_UP), N(VK_RIGHT), N(VK_DOWN), N(VK_SELECT), N(VK_PRINT),
    N(VK_SNAPSHOT), N(VK_INSERT), N(VK_DELETE), N(VK_HELP), N(VK_LWIN), N(VK_RWIN), N(VK_APPS), N(VK_NUMPAD0),
    N(VK_NUMPAD1), N(VK_NUMPAD2), N(VK_NUMPAD3), N(VK_NUMPAD4), N(VK_NUMPAD5), N(VK_NUMPAD6), N(VK_NUMPAD7),
    N(VK_NUMPAD8), N(VK_NUMPAD9), N(VK_MULTIPLY), N(VK_ADD), N(VK_SEPARATOR), N(VK_SUBTRACT), N(VK_DECIMAL),
    N(VK_DIVIDE), N(VK_F1), N(VK_F2), N(VK_F3), N(VK_F4), N(VK_F5), N(VK_F6), N(VK_F7), N(VK_F8), N(VK_F9),
    N(VK_F10), N(VK_F11), N(VK_F12), N(VK_NUMLOCK), N(VK_SCROLL), N(VK_LSHIFT), N(VK_RSHIFT), N(VK_LCONTROL),
    N(VK_RCONTROL), N(VK_LMENU), N(VK_RMENU),
};
const NamedValue kNotifyCodes[] = {
    N(NM_CLICK), N(NM_DBLCLK), N(NM_RETURN), N(NM_RCLICK), N(NM_RDBLCLK), N(NM_SETFOCUS), N(NM_KILLFOCUS),
    N(NM_CUSTOMDRAW), N(NM_HOVER), N(NM_KEYDOWN), N(NM_RELEASEDCAPTURE), N(NM_TOOLTIPSCREATED),
    N(TVN_SELCHANGINGW), N(TVN_SELCHANGEDW), N(TVN_GETDISPINFOW), N(TVN_ITEMEXPANDINGW), N(TVN_ITEMEXPANDEDW),
    N(TVN_DELETEITEMW), N(LVN_ITEMCHANGING), N(LVN_ITEMCHANGED), N(LVN_INSERTITEM), N(LVN_DELETEITEM),
    N(LVN_COLUMNCLICK), N(LVN_GETDISPINFOW), N(TTN_GETDISPINFOW), N(TTN_SHOW), N(TTN_POP), N(TBN_GETINFOTIPW),
    N(TBN_DROPDOWN), N(TCN_SELCHANGE), N(TCN_SELCHANGING), N(UDN_DELTAPOS),
};
const NamedValue kMenuFlags[] = {
    N(MF_GRAYED), N(MF_DISABLED), N(MF_BITMAP), N(MF_CHECKED), N(MF_POPUP), N(MF_HILITE), N(MF_OWNERDRAW),
    N(MF_SYSMENU), N(MF_MOUSESELECT),
};
const NamedValue kIconTypes[] = {N(ICON_SMALL), N(ICON_BIG), N(ICON_SMALL2)};
const NamedValue kPrintFlags[] = {N(PRF_CHECKVISIBLE), N(PRF_NONCLIENT), N(PRF_CLIENT), N(PRF_ERASEBKGND),
                                  N(PRF_CHILDREN), N(PRF_OWNED)};
const NamedValue kOwnerDrawTypes[] = {N(ODT_MENU), N(ODT_LISTBOX), N(ODT_COMBOBOX), N(ODT_BUTTON), N(ODT_STATIC)};
const NamedValue kOwnerDrawActions[] = {N(ODA_DRAWENTIRE), N(ODA_SELECT), N(ODA_FOCUS)};
const NamedValue kOwnerDrawStates[] = {
    N(ODS_SELECTED), N(ODS_GRAYED), N(ODS_DISABLED), N(ODS_CHECKED), N(ODS_FOCUS), N(ODS_DEFAULT),
    N(ODS_COMBOBOXEDIT), N(ODS_HOTLIGHT), N(ODS_INACTIVE), N(ODS_NOACCEL), N(ODS_NOFOCUSRECT),
};
// WM_COMMAND's notification codes, by the class of the control that sends them.
const NamedValue kButtonCodes[] = {N(BN_CLICKED), N(BN_PAINT), N(BN_HILITE), N(BN_UNHILITE), N(BN_DISABLE),
                                   N(BN_DOUBLECLICKED), N(BN_SETFOCUS), N(BN_KILLFOCUS)};
const NamedValue kEditCodes[] = {N(EN_SETFOCUS), N(EN_KILLFOCUS), N(EN_CHANGE), N(EN_UPDATE), N(EN_ERRSPACE),
                                 N(EN_MAXTEXT), N(EN_HSCROLL), N(EN_VSCROLL)};
const NamedValue kListBoxCodes[] = {{0xFFFE, L"LBN_ERRSPACE"}, N(LBN_SELCHANGE), N(LBN_DBLCLK), N(LBN_SELCANCEL),
                                    N(LBN_SETFOCUS), N(LBN_KILLFOCUS)};
const NamedValue kComboBoxCodes[] = {{0xFFFF, L"CBN_ERRSPACE"}, N(CBN_SELCHANGE), N(CBN_DBLCLK), N(CBN_SETFOCUS),
                                     N(CBN_KILLFOCUS), N(CBN_EDITCHANGE), N(CBN_EDITUPDATE), N(CBN_DROPDOWN),
                                     N(CBN_CLOSEUP), N(CBN_SELENDOK), N(CBN_SELENDCANCEL)};
const NamedValue kStaticCodes[] = {N(STN_CLICKED), N(STN_DBLCLK), N(STN_ENABLE), N(STN_DISABLE)};
#undef N

std::wstring Hex(uint64_t v, int width = 0) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"0x%0*llX", width, static_cast<unsigned long long>(v));
  return buf;
}
std::wstring Dec(int64_t v) { return std::to_wstring(v); }

std::wstring CodeName(const NamedValue* rows, size_t count, uint32_t v) {
  if (const wchar_t* n = Lookup(rows, count, v)) return n;
  return Hex(v);
}
template <size_t K>
std::wstring CodeName(const NamedValue (&rows)[K], uint32_t v) {
  return CodeName(rows, K, v);
}

template <size_t K>
std::wstring FlagNames(const NamedValue (&rows)[K], uint32_t flags, const wchar_t* none) {
  std::wstring out;
  uint32_t rest = flags;
  for (const auto& r : rows) {
    if (r.value && (flags & r.value) == r.value && (rest & r.value)) {
      if (!out.empty()) out += L" | ";
      out += r.name;
      rest &= ~r.value;
    }
  }
  if (rest) {
    if (!out.empty()) out += L" | ";
    out += Hex(rest);
  }
  return out.empty() ? std::wstring(none) : out;
}

int16_t Lo(int64_t v) { return static_cast<int16_t>(v & 0xFFFF); }
int16_t Hi(int64_t v) { return static_cast<int16_t>((v >> 16) & 0xFFFF); }
std::wstring Point(int64_t v) { return L"x=" + Dec(Lo(v)) + L" y=" + Dec(Hi(v)); }

// A WM_COMMAND notification code by the class of the control that sent it (lParam), or
// menu / accelerator when no control did.
std::wstring CommandCode(uint32_t code, int64_t control) {
  if (!control) return code == 0 ? L"0 (menu)" : code == 1 ? L"1 (accelerator)" : Dec(code);
  wchar_t cls[64] = {};
  GetClassNameW(reinterpret_cast<HWND>(static_cast<INT_PTR>(control)), cls, 64);
  auto is = [&](const wchar_t* name) { return CompareStringOrdinal(cls, -1, name, -1, TRUE) == CSTR_EQUAL; };
  const wchar_t* n = nullptr;
  if (is(L"Button")) n = Lookup(kButtonCodes, std::size(kButtonCodes), code);
  else if (is(L"Edit") || is(L"RichEdit20W") || is(L"RICHEDIT50W")) n = Lookup(kEditCodes, std::size(kEditCodes), code);
  else if (is(L"ListBox") || is(L"ComboLBox")) n = Lookup(kListBoxCodes, std::size(kListBoxCodes), code);
  else if (is(L"ComboBox")) n = Lookup(kComboBoxCodes, std::size(kComboBoxCodes), code);
  else if (is(L"Static")) n = Lookup(kStaticCodes, std::size(kStaticCodes), code);
  return n ? std::wstring(n) : Dec(code);
}

// How one parameter reads.
enum class P {
  None,      // left out
  Hex,       // 0x...
  Dec,       // signed decimal
  Bool,      // TRUE / FALSE
  Point,     // x and y in the low and high words
  Size,      // width and height in the low and high words
  SizeCode,  // SIZE_*
  Keys,      // MK_*
  Window,    // a window handle with its class and caption
  VKey,      // VK_* or the key's character
  KeyData,   // repeat count, scan code, flags of WM_KEYDOWN and its kin
  Char,      // a character
  HitTest,   // HT*
  Activate,  // WA_* in the low word, minimised in the high word
  SysCmd,    // SC_*
  Scroll,    // SB_* in the low word, position in the high word
  Command,   // id in the low word, notification code in the high word
  Wheel,     // MK_* in the low word, the wheel's delta in the high word
  ShowStat,  // SW_PARENTCLOSING ...
  StyleIndex,  // GWL_STYLE / GWL_EXSTYLE
  Handle,      // a handle that is no window (device context, menu, font, icon): 0x...
  HitMsg,      // HT* in the low word, the mouse message that caused it in the high word
  MenuPopup,   // the popup's index in the low word, "window menu" when the high word is set
  MenuSelect,  // the item in the low word, MF_* flags in the high word
  XButton,     // MK_* in the low word, XBUTTON1 / XBUTTON2 in the high word
  IconType,    // ICON_SMALL, ICON_BIG, ICON_SMALL2
  DpiPair,     // the new dots per inch, x in the low word and y in the high
  PrintFlags,  // PRF_*
  Data,      // what it points to: the copied data, when there is any
};

struct Row {
  uint32_t msg;
  P w, l;
};

const Row kRows[] = {
    {WM_CREATE, P::None, P::Data},
    {WM_NCCREATE, P::None, P::Data},
    {WM_MOVE, P::None, P::Point},
    {WM_SIZE, P::SizeCode, P::Size},
    {WM_ACTIVATE, P::Activate, P::Window},
    {WM_SETFOCUS, P::Window, P::None},
    {WM_KILLFOCUS, P::Window, P::None},
    {WM_ENABLE, P::Bool, P::None},
    {WM_SETREDRAW, P::Bool, P::None},
    {WM_SETTEXT, P::None, P::Data},
    {WM_GETTEXT, P::Dec, P::Data},
    {WM_SHOWWINDOW, P::Bool, P::ShowStat},
    {WM_ACTIVATEAPP, P::Bool, P::Hex},
    {WM_SETCURSOR, P::Window, P::HitMsg},
    {WM_MOUSEACTIVATE, P::Window, P::HitMsg},
    {WM_ERASEBKGND, P::Handle, P::None},
    {WM_CTLCOLORMSGBOX, P::Handle, P::Window},
    {WM_CTLCOLOREDIT, P::Handle, P::Window},
    {WM_CTLCOLORLISTBOX, P::Handle, P::Window},
    {WM_CTLCOLORBTN, P::Handle, P::Window},
    {WM_CTLCOLORDLG, P::Handle, P::Window},
    {WM_CTLCOLORSCROLLBAR, P::Handle, P::Window},
    {WM_CTLCOLORSTATIC, P::Handle, P::Window},
    {WM_SETFONT, P::Handle, P::Bool},
    {WM_INITMENU, P::Handle, P::None},
    {WM_INITMENUPOPUP, P::Handle, P::MenuPopup},
    {WM_MENUSELECT, P::MenuSelect, P::Handle},
    {WM_XBUTTONDOWN, P::XButton, P::Point},
    {WM_XBUTTONUP, P::XButton, P::Point},
    {WM_XBUTTONDBLCLK, P::XButton, P::Point},
    {WM_SETICON, P::IconType, P::Handle},
    {WM_GETICON, P::IconType, P::Dec},
    {0x02E0 /*WM_DPICHANGED*/, P::DpiPair, P::Data},
    {WM_GETDLGCODE, P::VKey, P::Hex},
    {WM_PRINT, P::Handle, P::PrintFlags},
    {WM_PRINTCLIENT, P::Handle, P::PrintFlags},
    {WM_GETMINMAXINFO, P::None, P::Data},
    {WM_WINDOWPOSCHANGING, P::None, P::Data},
    {WM_WINDOWPOSCHANGED, P::None, P::Data},
    {WM_COPYDATA, P::Window, P::Data},
    {WM_NOTIFY, P::Dec, P::Data},
    {WM_STYLECHANGING, P::StyleIndex, P::Data},
    {WM_STYLECHANGED, P::StyleIndex, P::Data},
    {WM_NCCALCSIZE, P::Bool, P::Data},
    {WM_NCHITTEST, P::None, P::Point},
    {WM_NCMOUSEMOVE, P::HitTest, P::Point},
    {WM_NCLBUTTONDOWN, P::HitTest, P::Point},
    {WM_NCLBUTTONUP, P::HitTest, P::Point},
    {WM_NCLBUTTONDBLCLK, P::HitTest, P::Point},
    {WM_NCRBUTTONDOWN, P::HitTest, P::Point},
    {WM_NCRBUTTONUP, P::HitTest, P::Point},
    {WM_NCACTIVATE, P::Bool, P::None},
    {WM_KEYDOWN, P::VKey, P::KeyData},
    {WM_KEYUP, P::VKey, P::KeyData},
    {WM_SYSKEYDOWN, P::VKey, P::KeyData},
    {WM_SYSKEYUP, P::VKey, P::KeyData},
    {WM_CHAR, P::Char, P::KeyData},
    {WM_SYSCHAR, P::Char, P::KeyData},
    {WM_DEADCHAR, P::Char, P::KeyData},
    {WM_COMMAND, P::Command, P::Window},
    {WM_SYSCOMMAND, P::SysCmd, P::Point},
    {WM_HSCROLL, P::Scroll, P::Window},
    {WM_VSCROLL, P::Scroll, P::Window},
    {WM_MEASUREITEM, P::Dec, P::Data},
    {WM_DRAWITEM, P::Dec, P::Data},
    {WM_MOUSEMOVE, P::Keys, P::Point},
    {WM_LBUTTONDOWN, P::Keys, P::Point},
    {WM_LBUTTONUP, P::Keys, P::Point},
    {WM_LBUTTONDBLCLK, P::Keys, P::Point},
    {WM_RBUTTONDOWN, P::Keys, P::Point},
    {WM_RBUTTONUP, P::Keys, P::Point},
    {WM_RBUTTONDBLCLK, P::Keys, P::Point},
    {WM_MBUTTONDOWN, P::Keys, P::Point},
    {WM_MBUTTONUP, P::Keys, P::Point},
    {WM_MBUTTONDBLCLK, P::Keys, P::Point},
    {WM_MOUSEWHEEL, P::Wheel, P::Point},
    {WM_MOUSEHWHEEL, P::Wheel, P::Point},
    {WM_CONTEXTMENU, P::Window, P::Point},
    {WM_PARENTNOTIFY, P::Hex, P::Hex},
    {WM_CAPTURECHANGED, P::None, P::Window},
    {WM_SIZING, P::Dec, P::Data},
    {WM_MOVING, P::Dec, P::Data},
    {WM_SETTINGCHANGE, P::Hex, P::Data},
    {WM_TIMER, P::Dec, P::Hex},
};

const Row* RowOf(uint32_t msg) {
  for (const auto& r : kRows)
    if (r.msg == msg) return &r;
  return nullptr;
}

std::wstring CharText(int64_t v) {
  const auto c = static_cast<uint32_t>(v & 0xFFFFFFFF);
  wchar_t buf[48];
  if (c >= 0x20 && c != 0x7F && c < 0x10000)
    std::swprintf(buf, 48, L"'%lc' U+%04X", static_cast<wint_t>(c), c);
  else
    std::swprintf(buf, 48, L"U+%04X", c);
  return buf;
}

std::wstring KeyData(int64_t v) {
  const auto d = static_cast<uint32_t>(v & 0xFFFFFFFF);
  std::wstring s = L"repeat " + Dec(d & 0xFFFF) + L", scan " + Hex((d >> 16) & 0xFF, 2);
  if (d & (1u << 24)) s += L", extended";
  if (d & (1u << 29)) s += L", alt";
  if (d & (1u << 30)) s += L", was down";
  if (d & (1u << 31)) s += L", released";
  return s;
}

std::wstring Rect(const int64_t* v) {
  return L"(" + Dec(v[0]) + L"," + Dec(v[1]) + L")-(" + Dec(v[2]) + L"," + Dec(v[3]) + L") " + Dec(v[2] - v[0]) +
         L"x" + Dec(v[3] - v[1]);
}

}  // namespace

std::wstring MessageHex(uint32_t msg) { return Hex(msg, 4); }

std::wstring SwpFlagNames(uint32_t flags) { return FlagNames(kSwpFlags, flags, L"0"); }
std::wstring MouseKeyNames(uint32_t keys) { return FlagNames(kMouseKeys, keys, L"no keys"); }

std::wstring VirtualKeyName(uint32_t vk) {
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return std::wstring(L"'") + static_cast<wchar_t>(vk) + L"'";
  if (const wchar_t* n = Lookup(kVirtualKeys, std::size(kVirtualKeys), vk)) return n;
  return Hex(vk, 2);
}

std::wstring QuotedText(const std::wstring& text, size_t limit) {
  std::wstring out = L"\"";
  for (size_t i = 0; i < text.size() && i < limit; ++i) {
    const wchar_t c = text[i];
    if (c == L'\r') out += L"\\r";
    else if (c == L'\n') out += L"\\n";
    else if (c == L'\t') out += L"\\t";
    else if (c == L'"') out += L"\\\"";
    else if (c == L'\\') out += L"\\\\";
    else if (c == 0) out += L"\\0";
    else out += c;
  }
  out += L"\"";
  if (text.size() > limit) out += L"...";
  return out;
}

MessageDecoder::MessageDecoder(BaseNames names, WindowText window_text)
    : names_(std::move(names)), window_text_(std::move(window_text)) {}

std::wstring MessageDecoder::DescribeWindow(int64_t handle) {
  if (handle == 0) return L"NULL";
  HWND h = reinterpret_cast<HWND>(static_cast<INT_PTR>(handle));
  std::wstring s = Hex(static_cast<uint64_t>(handle) & (sizeof(void*) == 8 ? ~0ULL : 0xFFFFFFFFULL));
  if (!IsWindow(h)) return s;
  wchar_t cls[256] = {};
  GetClassNameW(h, cls, 256);
  // The caption through WM_GETTEXT could block on a hung program: for another thread's window
  // only the text the platform keeps for it (InternalGetWindowText) is read. A control of this
  // thread (an edit keeps its own text) is asked.
  wchar_t caption[128] = {};
  if (GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId()) GetWindowTextW(h, caption, 128);
  else InternalGetWindowText(h, caption, 128);
  return s + L" " + cls + L" " + QuotedText(caption, 60);
}

std::wstring MessageDecoder::Name(uint32_t msg, const std::wstring& class_name) const {
  if (const ClassTable* t = TableOf(class_name)) {
    if (const wchar_t* n = Lookup(t->rows, t->count, msg)) return n;
    if (t->rich_edit)
      if (const wchar_t* n = Lookup(kRichEditMessages, std::size(kRichEditMessages), msg)) return n;
    if (t->common_control)
      if (const wchar_t* n = Lookup(kCommonControlMessages, std::size(kCommonControlMessages), msg)) return n;
  }
  if (msg < WM_USER) {
    std::wstring n = names_ ? names_(msg) : std::wstring();
    return n.empty() ? MessageHex(msg) : n;
  }
  if (msg < WM_APP) return L"WM_USER+" + Dec(msg - WM_USER);
  if (msg < 0xC000) return L"WM_APP+" + Dec(msg - WM_APP);
  if (msg <= 0xFFFF) {
    // Registered messages share their atoms with the clipboard formats.
    wchar_t name[256] = {};
    if (GetClipboardFormatNameW(msg, name, 256) > 0) return name;
  }
  return MessageHex(msg);
}

std::wstring MessageDecoder::DecodeData(const MessageFacts& m) const {
  if (!m.data || m.data->kind == kDataNone) return {};
  const CopiedData& d = *m.data;
  const auto& v = d.values;
  auto has = [&](size_t n) { return v.size() >= n; };
  switch (d.kind) {
    case kDataText:
      return QuotedText(d.text);
    case kDataCreate: {
      if (!has(8)) break;
      std::wstring name = d.text, cls;
      const size_t nul = d.text.find(L'\0');
      if (nul != std::wstring::npos) {
        name = d.text.substr(0, nul);
        cls = d.text.substr(nul + 1);
      }
      return L"class " + QuotedText(cls) + L", name " + QuotedText(name) + L", x=" + Dec(v[0]) + L" y=" +
             Dec(v[1]) + L" cx=" + Dec(v[2]) + L" cy=" + Dec(v[3]) + L", style " + Hex(v[4] & 0xFFFFFFFF, 8) +
             L", ex " + Hex(v[5] & 0xFFFFFFFF, 8) + L", parent " + window_text_(v[6]);
    }
    case kDataWindowPos:
      if (!has(7)) break;
      return L"x=" + Dec(v[2]) + L" y=" + Dec(v[3]) + L" cx=" + Dec(v[4]) + L" cy=" + Dec(v[5]) + L", " +
             SwpFlagNames(static_cast<uint32_t>(v[6])) + L", after " + window_text_(v[1]);
    case kDataRect:
      if (!has(4)) break;
      return Rect(v.data());
    case kDataNcCalcSize:
      if (!has(4)) break;
      return L"rect " + Rect(v.data()) + (has(12) ? L", old window " + Rect(v.data() + 4) + L", old client " +
                                                        Rect(v.data() + 8)
                                                  : std::wstring());
    case kDataMinMaxInfo:
      if (!has(10)) break;
      return L"max size " + Dec(v[2]) + L"x" + Dec(v[3]) + L", max position " + Dec(v[4]) + L"," + Dec(v[5]) +
             L", min track " + Dec(v[6]) + L"x" + Dec(v[7]) + L", max track " + Dec(v[8]) + L"x" + Dec(v[9]);
    case kDataMeasureItem:
      if (!has(6)) break;
      return L"type " + Dec(v[0]) + L", control " + Dec(v[1]) + L", item " + Dec(v[2]) + L", " + Dec(v[3]) + L"x" +
             Dec(v[4]) + L", data " + Hex(static_cast<uint64_t>(v[5]));
    case kDataDrawItem:
      if (!has(11)) break;
      return CodeName(kOwnerDrawTypes, static_cast<uint32_t>(v[0])) + L", control " + Dec(v[1]) + L", item " +
             Dec(v[2]) + L", " + FlagNames(kOwnerDrawActions, static_cast<uint32_t>(v[3]), L"no action") + L", " +
             FlagNames(kOwnerDrawStates, static_cast<uint32_t>(v[4]), L"ODS_NORMAL") + L", rect " + Rect(v.data() + 7);
    case kDataCopyData: {
      if (!has(2)) break;
      std::wstring s = L"dwData " + Hex(static_cast<uint64_t>(v[0])) + L", " + Dec(v[1]) + L" bytes";
      if (!d.bytes.empty()) {
        s += L":";
        for (size_t i = 0; i < d.bytes.size() && i < 32; ++i) {
          wchar_t b[4];
          std::swprintf(b, 4, L" %02X", d.bytes[i]);
          s += b;
        }
      }
      return s;
    }
    case kDataStyle:
      if (!has(2)) break;
      return L"old " + Hex(static_cast<uint64_t>(v[0]) & 0xFFFFFFFF, 8) + L", new " +
             Hex(static_cast<uint64_t>(v[1]) & 0xFFFFFFFF, 8);
    case kDataNotify:
      if (!has(3)) break;
      return L"from " + window_text_(v[0]) + L", id " + Dec(v[1]) + L", code " +
             CodeName(kNotifyCodes, static_cast<uint32_t>(static_cast<int32_t>(v[2])));
    default:
      break;
  }
  return {};
}

std::wstring MessageDecoder::Decode(const MessageFacts& m) const {
  const Row* row = RowOf(m.msg);
  std::wstring data = DecodeData(m);
  if (!row) return data;
  auto one = [&](P kind, int64_t v) -> std::wstring {
    const auto u = static_cast<uint32_t>(v & 0xFFFFFFFF);
    switch (kind) {
      case P::None: return {};
      case P::Hex: return Hex(static_cast<uint64_t>(v));
      case P::Dec: return Dec(v);
      case P::Bool: return v ? L"TRUE" : L"FALSE";
      case P::Point: return Point(v);
      case P::Size: return L"width " + Dec(u & 0xFFFF) + L" height " + Dec(u >> 16);
      case P::SizeCode: return CodeName(kSizeCodes, u);
      case P::Keys: return MouseKeyNames(u);
      case P::Window: return window_text_(v);
      case P::VKey: return VirtualKeyName(u);
      case P::KeyData: return KeyData(v);
      case P::Char: return CharText(v);
      case P::HitTest: return CodeName(kHitTests, static_cast<uint32_t>(static_cast<int16_t>(u & 0xFFFF)));
      case P::Activate:
        return CodeName(kActivateCodes, u & 0xFFFF) + ((u >> 16) ? L", minimized" : L"");
      case P::SysCmd: return CodeName(kSysCommands, u & 0xFFF0);
      case P::Scroll: {
        std::wstring s = CodeName(kScrollCodes, u & 0xFFFF);
        if ((u & 0xFFFF) == SB_THUMBPOSITION || (u & 0xFFFF) == SB_THUMBTRACK) s += L", position " + Dec(u >> 16);
        return s;
      }
      case P::Command: return L"id " + Dec(u & 0xFFFF) + L", code " + CommandCode(u >> 16, m.lParam);
      case P::Wheel: return L"delta " + Dec(Hi(v)) + L", " + MouseKeyNames(u & 0xFFFF);
      case P::ShowStat: return u ? CodeName(kShowStatus, u) : std::wstring(L"by ShowWindow");
      case P::StyleIndex:
        if (static_cast<int32_t>(u) == GWL_STYLE) return L"GWL_STYLE";
        if (static_cast<int32_t>(u) == GWL_EXSTYLE) return L"GWL_EXSTYLE";
        return Dec(static_cast<int32_t>(u));
      case P::Handle: return Hex(static_cast<uint64_t>(v));
      case P::HitMsg: {
        std::wstring s = CodeName(kHitTests, static_cast<uint32_t>(static_cast<int16_t>(u & 0xFFFF)));
        if (u >> 16) {
          const std::wstring n = names_ ? names_(u >> 16) : std::wstring();
          s += L", " + (n.empty() ? MessageHex(u >> 16) : n);
        }
        return s;
      }
      case P::MenuPopup: return L"index " + Dec(u & 0xFFFF) + ((u >> 16) ? L", window menu" : L"");
      case P::MenuSelect:
        if ((u >> 16) == 0xFFFF && m.lParam == 0) return L"menu closed";
        return L"item " + Dec(u & 0xFFFF) + L", " + FlagNames(kMenuFlags, u >> 16, L"MF_STRING");
      case P::XButton:
        return MouseKeyNames(u & 0xFFFF) + L", " +
               ((u >> 16) == XBUTTON1 ? L"XBUTTON1" : (u >> 16) == XBUTTON2 ? L"XBUTTON2" : Hex(u >> 16));
      case P::IconType: return CodeName(kIconTypes, u);
      case P::DpiPair: return L"dpi " + Dec(u & 0xFFFF) + L" x " + Dec(u >> 16);
      case P::PrintFlags: return FlagNames(kPrintFlags, u, L"0");
      case P::Data: return data;
    }
    return {};
  };
  // Where one parameter says how to read the other.
  const auto wu = static_cast<uint32_t>(m.wParam & 0xFFFFFFFF);
  if (m.msg == WM_SYSCOMMAND && (wu & 0xFFF0) == SC_KEYMENU) {
    const auto key = static_cast<uint32_t>(m.lParam & 0xFFFF);
    return L"SC_KEYMENU; " + (key ? L"key " + CharText(key) : std::wstring(L"no key (F10 or Alt alone)"));
  }
  if (m.msg == WM_MENUSELECT && (wu >> 16) == 0xFFFF && m.lParam == 0) return L"menu closed";
  if (m.msg == WM_CONTEXTMENU && static_cast<int32_t>(m.lParam & 0xFFFFFFFF) == -1)
    return window_text_(m.wParam) + L"; from the keyboard";
  std::wstring w = one(row->w, m.wParam);
  std::wstring l = one(row->l, m.lParam);
  if (row->l != P::Data && !data.empty()) l += (l.empty() ? L"" : L", ") + data;
  if (w.empty()) return l;
  if (l.empty()) return w;
  return w + L"; " + l;
}

// --- copies of what lParam points to, for windows of this thread ---------------------------------------

namespace {

bool Readable(LPARAM p, size_t n) { return p && !IsBadReadPtr(reinterpret_cast<const void*>(p), n); }

template <typename... V>
void Push(CopiedData& d, V... v) {
  (d.values.push_back(static_cast<int64_t>(v)), ...);
}
void PushRect(CopiedData& d, const RECT& r) { Push(d, r.left, r.top, r.right, r.bottom); }
void PushPos(CopiedData& d, const WINDOWPOS& p) {
  Push(d, reinterpret_cast<INT_PTR>(p.hwnd), reinterpret_cast<INT_PTR>(p.hwndInsertAfter), p.x, p.y, p.cx, p.cy,
       p.flags);
}

std::wstring SafeText(const wchar_t* p, size_t limit = 1024) {
  if (!p || IsBadStringPtrW(p, limit)) return {};
  size_t n = 0;
  while (n < limit && p[n]) ++n;
  return std::wstring(p, n);
}

}  // namespace

CopiedData CopyLocalData(uint32_t msg, WPARAM wParam, LPARAM lParam) {
  CopiedData d;
  switch (msg) {
    case WM_SETTEXT:
    case WM_SETTINGCHANGE:
      if (!lParam) break;
      d.kind = kDataText;
      d.text = SafeText(reinterpret_cast<const wchar_t*>(lParam));
      break;
    case WM_CREATE:
    case WM_NCCREATE:
      if (Readable(lParam, sizeof(CREATESTRUCTW))) {
        const auto& c = *reinterpret_cast<const CREATESTRUCTW*>(lParam);
        d.kind = kDataCreate;
        Push(d, c.x, c.y, c.cx, c.cy, static_cast<uint32_t>(c.style), static_cast<uint32_t>(c.dwExStyle),
             reinterpret_cast<INT_PTR>(c.hwndParent), reinterpret_cast<INT_PTR>(c.hMenu),
             reinterpret_cast<INT_PTR>(c.hInstance), reinterpret_cast<INT_PTR>(c.lpCreateParams));
        d.text = SafeText(c.lpszName) + std::wstring(1, L'\0');
        // A class given as an atom has no text.
        if (!IS_INTRESOURCE(c.lpszClass)) d.text += SafeText(c.lpszClass);
      }
      break;
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
      if (Readable(lParam, sizeof(WINDOWPOS))) {
        d.kind = kDataWindowPos;
        PushPos(d, *reinterpret_cast<const WINDOWPOS*>(lParam));
      }
      break;
    case WM_SIZING:
    case WM_MOVING:
      if (Readable(lParam, sizeof(RECT))) {
        d.kind = kDataRect;
        PushRect(d, *reinterpret_cast<const RECT*>(lParam));
      }
      break;
    case WM_NCCALCSIZE:
      if (wParam && Readable(lParam, sizeof(NCCALCSIZE_PARAMS))) {
        const auto& p = *reinterpret_cast<const NCCALCSIZE_PARAMS*>(lParam);
        d.kind = kDataNcCalcSize;
        for (const RECT& r : p.rgrc) PushRect(d, r);
        if (Readable(reinterpret_cast<LPARAM>(p.lppos), sizeof(WINDOWPOS))) PushPos(d, *p.lppos);
      } else if (!wParam && Readable(lParam, sizeof(RECT))) {
        d.kind = kDataNcCalcSize;
        PushRect(d, *reinterpret_cast<const RECT*>(lParam));
      }
      break;
    case WM_GETMINMAXINFO:
      if (Readable(lParam, sizeof(MINMAXINFO))) {
        const auto& i = *reinterpret_cast<const MINMAXINFO*>(lParam);
        d.kind = kDataMinMaxInfo;
        Push(d, i.ptReserved.x, i.ptReserved.y, i.ptMaxSize.x, i.ptMaxSize.y, i.ptMaxPosition.x, i.ptMaxPosition.y,
             i.ptMinTrackSize.x, i.ptMinTrackSize.y, i.ptMaxTrackSize.x, i.ptMaxTrackSize.y);
      }
      break;
    case WM_MEASUREITEM:
      if (Readable(lParam, sizeof(MEASUREITEMSTRUCT))) {
        const auto& i = *reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
        d.kind = kDataMeasureItem;
        Push(d, i.CtlType, i.CtlID, i.itemID, i.itemWidth, i.itemHeight, i.itemData);
      }
      break;
    case WM_DRAWITEM:
      if (Readable(lParam, sizeof(DRAWITEMSTRUCT))) {
        const auto& i = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        d.kind = kDataDrawItem;
        Push(d, i.CtlType, i.CtlID, i.itemID, i.itemAction, i.itemState, reinterpret_cast<INT_PTR>(i.hwndItem),
             reinterpret_cast<INT_PTR>(i.hDC));
        PushRect(d, i.rcItem);
        Push(d, i.itemData);
      }
      break;
    case WM_COPYDATA:
      if (Readable(lParam, sizeof(COPYDATASTRUCT))) {
        const auto& c = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        d.kind = kDataCopyData;
        Push(d, c.dwData, c.cbData);
        const size_t n = std::min<size_t>(c.cbData, 64);
        if (n && Readable(reinterpret_cast<LPARAM>(c.lpData), n)) {
          const auto* b = static_cast<const uint8_t*>(c.lpData);
          d.bytes.assign(b, b + n);
        }
      }
      break;
    case WM_STYLECHANGING:
    case WM_STYLECHANGED:
      if (Readable(lParam, sizeof(STYLESTRUCT))) {
        const auto& s = *reinterpret_cast<const STYLESTRUCT*>(lParam);
        d.kind = kDataStyle;
        Push(d, static_cast<uint32_t>(s.styleOld), static_cast<uint32_t>(s.styleNew));
      }
      break;
    case WM_NOTIFY:
      if (Readable(lParam, sizeof(NMHDR))) {
        const auto& h = *reinterpret_cast<const NMHDR*>(lParam);
        d.kind = kDataNotify;
        Push(d, reinterpret_cast<INT_PTR>(h.hwndFrom), h.idFrom, static_cast<int32_t>(h.code));
      }
      break;
    default:
      break;
  }
  return d;
}

}  // namespace spy
