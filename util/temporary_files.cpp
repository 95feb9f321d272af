#include "util/temporary_files.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace util {

namespace {

// A fixed table, so that the signal handler reads it without allocating or locking. A slot is
// free, being filled (its path not yet whole) or ready; the handler only reads ready slots.
constexpr int slotCount = 64;
constexpr std::size_t pathBytes = 4096;
enum SlotState : int { freeSlot = 0, fillingSlot = 1, readySlot = 2 };

struct Slot {
  std::atomic<int> state{freeSlot};
  char path[pathBytes];
};

Slot slots[slotCount];

extern "C" void removeTrackedAndRaise(int signal) {
  for (Slot& slot : slots)
    if (slot.state.load() == readySlot) ::unlink(slot.path);
  // The signal is blocked while its handler runs: raised again with the default action, it ends
  // the process as soon as the handler returns, with the status a caller expects of it.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

int trackTemporaryFile(const std::string& path) {
  if (path.size() >= pathBytes) return -1;
  for (int i = 0; i < slotCount; ++i) {
    int expected = freeSlot;
    if (!slots[i].state.compare_exchange_strong(expected, fillingSlot)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(readySlot);
    return i;
  }
  return -1;
}

void untrackTemporaryFile(int slot) {
  if (slot >= 0 && slot < slotCount) slots[slot].state.store(freeSlot);
}

void removeTemporaryFilesOnSignals() {
  static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");
  struct sigaction action {};
  action.sa_handler = removeTrackedAndRaise;
  sigemptyset(&action.sa_mask);
  // The other two signals wait while one handler removes the files.
  for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored by whoever started the program (nohup) stays ignored.
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace util
