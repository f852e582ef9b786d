#include "children.hpp"

#include <sys/wait.h>

#include <cerrno>

namespace zandle {

Children::~Children() {
  for (const int pid : pids_) {
    while (::waitpid(pid, nullptr, WNOHANG) < 0 && errno == EINTR) {
    }
  }
}

void Children::waited(int pid) {
  for (std::size_t i = 0; i < pids_.size(); ++i) {
    if (pids_[i] == pid) {
      pids_[i] = pids_[pids_.size() - 1];
      pids_.pop();
      return;
    }
  }
}

}  // namespace zandle
