#include "keyed_collection.h"

#include <iterator>

#include "runtime_error.h"

namespace common {

KeyedCollection::~KeyedCollection() { Clear(); }

std::wstring KeyedCollection::Fold(const std::wstring& key) {
  if (key.empty()) return key;
  // The user's locale decides what upper and lower case are, as for a text comparison.
  int n = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, key.data(), static_cast<int>(key.size()), nullptr, 0);
  if (n <= 0) return key;
  std::wstring folded(static_cast<size_t>(n), L'\0');
  LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, key.data(), static_cast<int>(key.size()), folded.data(), n);
  return folded;
}

bool KeyedCollection::Contains(const std::wstring& key) const { return index_.count(Fold(key)) != 0; }

void KeyedCollection::Add(const VARIANT& item, const std::wstring& key) {
  std::wstring folded = Fold(key);
  if (index_.count(folded)) Raise(errDuplicateKey, source_);
  Entry e{key, {}};
  VariantInit(&e.item);
  Check(VariantCopy(&e.item, const_cast<VARIANT*>(&item)), source_.c_str());
  entries_.push_back(std::move(e));
  index_.emplace(std::move(folded), std::prev(entries_.end()));
}

void KeyedCollection::Add(long item, const std::wstring& key) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = item;
  Add(v, key);
}

void KeyedCollection::Add(const std::wstring& item, const std::wstring& key) {
  unique_variant v;
  V_VT(v.get()) = VT_BSTR;
  V_BSTR(v.get()) = SysAllocStringLen(item.data(), static_cast<UINT>(item.size()));
  if (!V_BSTR(v.get())) Check(E_OUTOFMEMORY, source_.c_str());
  Add(*v.get(), key);
}

void KeyedCollection::Item(const std::wstring& key, VARIANT* result) const {
  auto it = index_.find(Fold(key));
  if (it == index_.end()) Raise(errInvalidArgument, source_);
  VariantClear(result);
  Check(VariantCopy(result, const_cast<VARIANT*>(&it->second->item)), source_.c_str());
}

void KeyedCollection::Remove(const std::wstring& key) {
  auto it = index_.find(Fold(key));
  if (it == index_.end()) Raise(errInvalidArgument, source_);
  VariantClear(&it->second->item);
  entries_.erase(it->second);
  index_.erase(it);
}

void KeyedCollection::Clear() noexcept {
  for (Entry& e : entries_) VariantClear(&e.item);
  entries_.clear();
  index_.clear();
}

}  // namespace common
