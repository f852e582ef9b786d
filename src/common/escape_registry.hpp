// The escapes one machine knows: the built-in ones of its program's constant table and those
// a host registered, in one table. A name gets its slot the first time a line names it, and
// slots never move, so a prepared line finds its escape by index whoever provides it, and a
// host escape registered (or withheld) later is seen by lines prepared before.
#pragma once
#include <cstdint>
#include <string_view>

#include "intern.hpp"
#include "memory.hpp"
#include "snapshot.hpp"

namespace zandle {

// An entry of a program's table of built-in escapes: the routine, and the group by which an
// embedder allows it.
template <class Machine, class Group>
struct EscapeEntry {
  std::string_view name;
  bool (*run)(Machine&);  // false when it failed or halted the run (recorded in the machine)
  Group group;
};

template <class Group>
constexpr std::uint32_t groupBit(Group g) {
  return std::uint32_t{1} << static_cast<unsigned>(g);
}

// Entry is the program's table entry (name, run, group); find looks a name up in the table.
template <class Machine, class Entry>
class EscapeRegistry {
 public:
  using BuiltinFn = bool (*)(Machine&);
  using HostFn = bool (*)(Machine&, void* user);
  using FindFn = const Entry* (*)(std::string_view name);

  struct Slot {
    BuiltinFn builtin;  // null when the table has no escape of this name
    HostFn host;        // a host's escape, which takes the place of a built-in one
    void* user;
    bool allowed;
    bool allowance_set;  // allowed was set by name, and no longer follows the groups
  };

  // `groups`: the groups whose built-in escapes scripts may use (bit n for group n).
  EscapeRegistry(Memory& memory, std::uint32_t groups, FindFn find)
      : slots_(memory), groups_(groups), find_(find) {}

  // The slot of `name`, made when the name is new. False when memory runs out.
  [[nodiscard]] bool resolve(std::string_view name, NameId& id) {
    const std::size_t before = slots_.count();
    if (!slots_.intern(name, id)) return false;
    if (slots_.count() != before) {
      const Entry* e = find_(name);
      slots_[id] = Slot{e != nullptr ? e->run : nullptr, nullptr, nullptr,
                        e != nullptr && (groups_ >> static_cast<unsigned>(e->group) & 1) != 0, false};
    }
    return true;
  }

  // Runs the escape of slot `id` when it exists and is allowed; false for UnknownEscape.
  // The slot of `id` when an escape may run under that name, else null.
  const Slot* runnable(NameId id) const {
    const Slot& s = slots_[id];
    return s.allowed && (s.host != nullptr || s.builtin != nullptr) ? &s : nullptr;
  }
  static bool run(const Slot& s, Machine& m) { return s.host != nullptr ? s.host(m, s.user) : s.builtin(m); }

  // A host's escape under `name` (a null fn removes it, keeping the user data for a later
  // registration); host escapes are allowed unless withheld by name. False when memory runs
  // out.
  [[nodiscard]] bool registerHost(std::string_view name, HostFn fn, void* user) {
    NameId id;
    if (!resolve(name, id)) return false;
    Slot& s = slots_[id];
    s.host = fn;
    if (fn != nullptr) s.user = user;
    if (!s.allowance_set) {
      const Entry* e = find_(name);
      s.allowed = fn != nullptr || (e != nullptr && (groups_ >> static_cast<unsigned>(e->group) & 1) != 0);
    }
    return true;
  }

  [[nodiscard]] bool allow(std::string_view name, bool allowed) {
    NameId id;
    if (!resolve(name, id)) return false;
    slots_[id].allowed = allowed;
    slots_[id].allowance_set = true;
    return true;
  }

  std::string_view name(NameId id) const { return slots_.name(id); }
  std::size_t count() const { return slots_.count(); }
  // Whether the name was withheld by name, and whether a host escape holds it.
  bool withheld(NameId id) const { return slots_[id].allowance_set && !slots_[id].allowed; }
  bool hosted(NameId id) const { return slots_[id].host != nullptr; }

  // The names in a snapshot, in the order they were first named, each with whether it was
  // withheld by name and whether a host escape held it. Restoring withholds what was
  // withheld; it allows nothing the machine's own set does not, and registers no host
  // escape: those are the host's to register again.
  void save(SnapshotWriter& w) const {
    w.u64(slots_.count());
    for (NameId id = 0; id < slots_.count(); ++id) {
      w.text(slots_.name(id));
      w.u8(static_cast<std::uint8_t>((withheld(id) ? 1 : 0) | (hosted(id) ? 2 : 0)));
    }
  }
  // False when memory runs out; a reader that cannot take the names is left spoilt.
  [[nodiscard]] bool load(SnapshotReader& r) {
    for (std::uint64_t i = 0, n = r.count(9); i < n && r.ok(); ++i) {
      const std::string_view name = r.text();
      const std::uint8_t flags = r.u8();
      if (!r.ok()) break;
      NameId id;
      if (!resolve(name, id)) return false;
      if (id != i || flags > 3) r.spoil();  // each name once
      if ((flags & 1) != 0 && !allow(name, false)) return false;
    }
    return true;
  }

  // The user data a host escape of this name was last registered with, or null.
  void* hostData(std::string_view name) const {
    const NameId id = slots_.find(name);
    return id == no_name ? nullptr : slots_[id].user;
  }

 private:
  InternTable<Slot> slots_;
  std::uint32_t groups_;
  FindFn find_;
};

}  // namespace zandle
