// The child processes a machine's scripts started and have not waited for. When the machine
// goes, those that have ended are reaped, so that they do not stay behind as zombies of the
// host's process; those still running are left alone, since waiting for them could block the
// host for as long as they run.
#pragma once
#include "memory.hpp"
#include "vec.hpp"

namespace zandle {

class Children : Pinned {
 public:
  explicit Children(Memory& memory) : pids_(memory) {}
  ~Children();

  // Room for one more, asked for before a child is started, so that every started child is
  // recorded. False when memory runs out.
  [[nodiscard]] bool reserve() { return pids_.reserve(pids_.size() + 1); }
  // After reserve.
  void started(int pid) { (void)pids_.push(pid); }
  // A script waited for the child: it is reaped.
  void waited(int pid);

 private:
  Vec<int> pids_;
};

}  // namespace zandle
