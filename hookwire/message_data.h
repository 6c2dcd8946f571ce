// What a message's parameters point to, copied into a record (its counts) and its data block while the window has it: the
// pointers are only good on the window's thread and only for that moment.
//
// Used in the hook DLL (no C runtime: plain loops, kernel32 and user32 only) and in
// Hookwire.dll for windows of the client's own thread. Every pointer is checked readable
// before it is read, and every copy is bounded by the record.
#pragma once
#include <windows.h>

#include "capture_ring.h"

namespace hookwire::data {

// HookwireDataKind in the type library.
enum Kind : USHORT {
  kNone = 0,
  kText = 1,
  kCreate = 2,
  kWindowPos = 3,
  kRect = 4,
  kNcCalcSize = 5,
  kMinMaxInfo = 6,
  kMeasureItem = 7,
  kDrawItem = 8,
  kCopyData = 9,
  kStyle = 10,
  kNotify = 11,
};

inline LONGLONG Handle(const void* h) { return static_cast<LONGLONG>(reinterpret_cast<LONG_PTR>(h)); }

template <typename T>
inline bool Readable(const T* p) {
  return p && !IsBadReadPtr(p, sizeof(T));
}

inline void Put(ring::Record* r, ring::Data* d, LONGLONG v) {
  if (r->value_count < ring::kMaxValues) d->values[r->value_count++] = v;
}

inline void PutRect(ring::Record* r, ring::Data* d, const RECT& rc) {
  Put(r, d, rc.left);
  Put(r, d, rc.top);
  Put(r, d, rc.right);
  Put(r, d, rc.bottom);
}

inline void PutWindowPos(ring::Record* r, ring::Data* d, const WINDOWPOS& p) {
  Put(r, d, Handle(p.hwnd));
  Put(r, d, Handle(p.hwndInsertAfter));
  Put(r, d, p.x);
  Put(r, d, p.y);
  Put(r, d, p.cx);
  Put(r, d, p.cy);
  Put(r, d, p.flags);
}

// Appends a text that the window received, stopping at its end, at `max` characters or at the
// record's room; a text of an ANSI window is converted from the program's code page.
inline void PutText(ring::Record* r, ring::Data* d, const void* text, bool unicode, ULONG max = ring::kMaxTextChars) {
  if (!text) return;
  ULONG room = ring::kMaxTextChars - r->text_chars;
  if (max < room) room = max;
  if (unicode) {
    const WCHAR* s = static_cast<const WCHAR*>(text);
    if (IsBadStringPtrW(s, room)) return;
    ULONG n = 0;
    while (n < room && s[n]) {
      d->text[r->text_chars + n] = s[n];
      ++n;
    }
    r->text_chars = static_cast<USHORT>(r->text_chars + n);
  } else {
    const char* s = static_cast<const char*>(text);
    if (IsBadStringPtrA(s, room)) return;
    int n = 0;
    while (static_cast<ULONG>(n) < room && s[n]) ++n;
    int got = n ? MultiByteToWideChar(CP_ACP, 0, s, n, d->text + r->text_chars, static_cast<int>(room)) : 0;
    if (got > 0) r->text_chars = static_cast<USHORT>(r->text_chars + got);
  }
}

// A class given as an atom (a small number in place of the pointer) is left out.
inline void PutClassName(ring::Record* r, ring::Data* d, const void* name, bool unicode) {
  if (reinterpret_cast<ULONG_PTR>(name) < 0x10000) return;
  PutText(r, d, name, unicode);
}

// At the window's entry: the data the message brings.
inline void AtEntry(ring::Record* r, ring::Data* d, UINT msg, WPARAM wp, LPARAM lp, bool unicode) {
  r->data_kind = kNone;
  r->value_count = r->text_chars = r->byte_count = 0;
  const void* p = reinterpret_cast<const void*>(lp);
  switch (msg) {
    case WM_SETTEXT:
    case WM_SETTINGCHANGE:  // also WM_WININICHANGE
    case WM_DEVMODECHANGE:
      if (!p) return;
      r->data_kind = kText;
      PutText(r, d, p, unicode);
      return;
    case WM_CREATE:
    case WM_NCCREATE: {
      // The two structures differ only in the type of their two text pointers.
      auto* c = static_cast<const CREATESTRUCTW*>(p);
      if (!Readable(c)) return;
      r->data_kind = kCreate;
      Put(r, d, c->x);
      Put(r, d, c->y);
      Put(r, d, c->cx);
      Put(r, d, c->cy);
      Put(r, d, static_cast<ULONG>(c->style));
      Put(r, d, static_cast<ULONG>(c->dwExStyle));
      Put(r, d, Handle(c->hwndParent));
      Put(r, d, Handle(c->hMenu));
      Put(r, d, Handle(c->hInstance));
      Put(r, d, Handle(c->lpCreateParams));
      PutText(r, d, c->lpszName, unicode, ring::kMaxTextChars / 2);
      if (r->text_chars < ring::kMaxTextChars) d->text[r->text_chars++] = 0;
      PutClassName(r, d, c->lpszClass, unicode);
      return;
    }
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED: {
      auto* w = static_cast<const WINDOWPOS*>(p);
      if (!Readable(w)) return;
      r->data_kind = kWindowPos;
      PutWindowPos(r, d, *w);
      return;
    }
    case WM_NCCALCSIZE:
      if (wp) {
        auto* n = static_cast<const NCCALCSIZE_PARAMS*>(p);
        if (!Readable(n)) return;
        r->data_kind = kNcCalcSize;
        for (const RECT& rc : n->rgrc) PutRect(r, d, rc);
        if (Readable(n->lppos)) PutWindowPos(r, d, *n->lppos);
        return;
      }
      [[fallthrough]];
    case WM_SIZING:
    case WM_MOVING: {
      auto* rc = static_cast<const RECT*>(p);
      if (!Readable(rc)) return;
      r->data_kind = kRect;
      PutRect(r, d, *rc);
      return;
    }
    case WM_GETMINMAXINFO: {
      auto* m = static_cast<const MINMAXINFO*>(p);
      if (!Readable(m)) return;
      r->data_kind = kMinMaxInfo;
      const POINT points[] = {m->ptReserved, m->ptMaxSize, m->ptMaxPosition, m->ptMinTrackSize, m->ptMaxTrackSize};
      for (const POINT& pt : points) {
        Put(r, d, pt.x);
        Put(r, d, pt.y);
      }
      return;
    }
    case WM_DRAWITEM: {
      auto* di = static_cast<const DRAWITEMSTRUCT*>(p);
      if (!Readable(di)) return;
      r->data_kind = kDrawItem;
      Put(r, d, di->CtlType);
      Put(r, d, di->CtlID);
      Put(r, d, di->itemID);
      Put(r, d, di->itemAction);
      Put(r, d, di->itemState);
      Put(r, d, Handle(di->hwndItem));
      Put(r, d, Handle(di->hDC));
      PutRect(r, d, di->rcItem);
      Put(r, d, static_cast<LONGLONG>(di->itemData));
      return;
    }
    case WM_COPYDATA: {
      auto* c = static_cast<const COPYDATASTRUCT*>(p);
      if (!Readable(c)) return;
      r->data_kind = kCopyData;
      Put(r, d, static_cast<LONGLONG>(c->dwData));
      Put(r, d, c->cbData);
      ULONG n = c->cbData < ring::kMaxBytes ? c->cbData : ring::kMaxBytes;
      if (n && c->lpData && !IsBadReadPtr(c->lpData, n)) {
        const BYTE* b = static_cast<const BYTE*>(c->lpData);
        for (ULONG i = 0; i < n; ++i) d->bytes[i] = b[i];
        r->byte_count = static_cast<USHORT>(n);
      }
      return;
    }
    case WM_STYLECHANGING:
    case WM_STYLECHANGED: {
      auto* s = static_cast<const STYLESTRUCT*>(p);
      if (!Readable(s)) return;
      r->data_kind = kStyle;
      Put(r, d, static_cast<ULONG>(s->styleOld));
      Put(r, d, static_cast<ULONG>(s->styleNew));
      return;
    }
    case WM_NOTIFY: {
      auto* n = static_cast<const NMHDR*>(p);
      if (!Readable(n)) return;
      r->data_kind = kNotify;
      Put(r, d, Handle(n->hwndFrom));
      Put(r, d, static_cast<LONGLONG>(n->idFrom));
      Put(r, d, static_cast<LONG>(n->code));
      return;
    }
    default:
      return;
  }
}

// Whether the window's answer is in what the parameters point to, to be read at return.
inline bool AnswerInData(UINT msg) { return msg == WM_GETTEXT || msg == WM_MEASUREITEM; }

// At return, for AnswerInData messages: the text handed back, the size the window asked for.
inline void AtReturn(ring::Record* r, ring::Data* d, UINT msg, WPARAM wp, LPARAM lp, LRESULT result, bool unicode) {
  const void* p = reinterpret_cast<const void*>(lp);
  if (msg == WM_GETTEXT) {
    r->value_count = r->text_chars = r->byte_count = 0;
    r->data_kind = kText;
    ULONG n = result > 0 ? static_cast<ULONG>(result) : 0;
    if (n > wp) n = static_cast<ULONG>(wp);
    if (n) PutText(r, d, p, unicode, n);
  } else if (msg == WM_MEASUREITEM) {
    auto* m = static_cast<const MEASUREITEMSTRUCT*>(p);
    r->value_count = r->text_chars = r->byte_count = 0;
    if (!Readable(m)) return;
    r->data_kind = kMeasureItem;
    Put(r, d, m->CtlType);
    Put(r, d, m->CtlID);
    Put(r, d, m->itemID);
    Put(r, d, m->itemWidth);
    Put(r, d, m->itemHeight);
    Put(r, d, static_cast<LONGLONG>(m->itemData));
  }
}

}  // namespace hookwire::data
