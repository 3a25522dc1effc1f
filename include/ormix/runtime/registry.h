#pragma once
// TRegistry: the one way things register with the framework (audio drivers, sample,
// pixmap, font and music loaders, stream factories, the ormix tool's commands). A
// registry is an ordered list of entries; each chain fixes where new entries go:
//   TRegistryOrder::NewestFirst  an entry added later is tried before the older ones;
//   TRegistryOrder::OldestFirst  entries are tried in the order they were added.
// Entries that carry a public `_succ` link (the chains' older interface) have it kept in
// step, so walking the links from Front() gives the registry's order.
// A registry does no locking: a chain used from several threads holds its own lock.
#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include <ormix/runtime/text.h>

enum class TRegistryOrder { NewestFirst, OldestFirst };

template <class Ptr, TRegistryOrder Order>
class TRegistry {
public:
  // Adds an entry once: an entry already present keeps its place.
  void Add(const Ptr& entry) {
    if (!entry || Contains(entry)) return;
    if (Order == TRegistryOrder::NewestFirst) _entries.insert(_entries.begin(), entry);
    else _entries.push_back(entry);
    Relink();
  }
  void Remove(const Ptr& entry) {
    auto it = std::find(_entries.begin(), _entries.end(), entry);
    if (it == _entries.end()) return;
    if constexpr (HasLink) (*it)->_succ = nullptr;
    _entries.erase(it);
    Relink();
  }
  bool Contains(const Ptr& entry) const {
    return std::find(_entries.begin(), _entries.end(), entry) != _entries.end();
  }

  // The entry tried first, or null.
  Ptr Front() const { return _entries.empty() ? Ptr() : _entries.front(); }
  size_t size() const { return _entries.size(); }
  bool empty() const { return _entries.empty(); }
  auto begin() const { return _entries.begin(); }
  auto end() const { return _entries.end(); }

  // The first entry, in order, for which pred(entry) holds; null when none does.
  template <class Pred>
  Ptr Find(Pred pred) const {
    for (const Ptr& e : _entries)
      if (pred(e)) return e;
    return Ptr();
  }
  // The first entry whose name (nameOf(entry)) equals `name` ignoring case.
  template <class NameOf>
  Ptr FindNamed(const Text& name, NameOf nameOf) const {
    const Text want = ToLower(name);
    return Find([&](const Ptr& e) { return ToLower(nameOf(e)) == want; });
  }
  // Asks each entry in order, fn(entry), and returns the first answer that is not null
  // (or a default answer). Entries added or removed meanwhile do not disturb the walk.
  template <class Fn>
  auto FirstAnswer(Fn fn) const -> decltype(fn(std::declval<const Ptr&>())) {
    const std::vector<Ptr> entries = _entries;
    for (const Ptr& e : entries)
      if (auto answer = fn(e)) return answer;
    return {};
  }

  // The list itself, in order (a test may save and restore it). Links are not updated
  // through it.
  std::vector<Ptr>& Entries() { return _entries; }

private:
  static constexpr bool HasLink = requires(Ptr p) { p->_succ = p; };
  void Relink() {
    if constexpr (HasLink) {
      for (size_t i = 0; i < _entries.size(); ++i)
        _entries[i]->_succ = i + 1 < _entries.size() ? _entries[i + 1] : Ptr();
    }
  }
  std::vector<Ptr> _entries;
};
