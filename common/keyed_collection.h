// The automation runtime's keyed collection: variants under text keys, keys compared
// without regard to case. Adding a present key raises error 457; looking up or removing
// an absent key raises error 5. Items keep the order in which they were added.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <list>
#include <string>
#include <unordered_map>

#include "com_ptr.h"

namespace common {

class KeyedCollection {
 public:
  explicit KeyedCollection(std::wstring source = L"Collection") : source_(std::move(source)) {}
  KeyedCollection(const KeyedCollection&) = delete;
  KeyedCollection& operator=(const KeyedCollection&) = delete;
  ~KeyedCollection();

  long Count() const noexcept { return static_cast<long>(entries_.size()); }
  bool Contains(const std::wstring& key) const;
  void Add(const VARIANT& item, const std::wstring& key);
  void Add(long item, const std::wstring& key);
  void Add(const std::wstring& item, const std::wstring& key);
  // A copy of the item under key, in result.
  void Item(const std::wstring& key, VARIANT* result) const;
  void Remove(const std::wstring& key);
  void Clear() noexcept;

  // The form under which two keys that differ only in case are the same key.
  static std::wstring Fold(const std::wstring& key);

 private:
  struct Entry {
    std::wstring key;
    VARIANT item;
  };
  std::wstring source_;
  std::list<Entry> entries_;
  std::unordered_map<std::wstring, std::list<Entry>::iterator> index_;
};

}  // namespace common
