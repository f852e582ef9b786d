// Arbitrary bytes restored through the public interface onto a machine that holds a
// variable and a paused run. The first byte picks the kind of machine (bit 0) and whether
// the header's length and checksum are made to hold (bit 1), so that the fields behind it
// are tried too; the rest are the bytes. Refused, they must leave the machine as it was;
// taken, the machine must pass checkRestored. Never a crash, never a byte past the cap.
#include <cstddef>
#include <cstdint>
#include <string>

#include "snapshot.hpp"

using namespace zandle;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool vm = (data[0] & 1) != 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 2) != 0) fuzz::fixHeader(bytes);
  fuzz::Machine machine(vm);
  zandle_machine* m = machine.get();
  fuzz::expect(zandle_set_text(m, "keep", 4, "safe", 4) == ZANDLE_OK, "restore: a variable");
  fuzz::expect(zandle_set_slice(m, 1) == ZANDLE_OK, "restore: a slice");
  const char script[] = "New a '1'\nNew b '2'\n";
  fuzz::expect(zandle_run(m, script, sizeof script - 1, "victim.znd", 10) == ZANDLE_PAUSED, "restore: no pause");
  fuzz::expect(zandle_set_slice(m, 0) == ZANDLE_OK, "restore: no slice");
  const std::string before = machine.snapshot();
  fuzz::expect(!before.empty(), "restore: no snapshot of the victim");

  const zandle_status s = zandle_restore(m, bytes.data(), bytes.size());
  fuzz::expect(s == ZANDLE_OK || s == ZANDLE_INVALID_SNAPSHOT || s == ZANDLE_OUT_OF_MEMORY, "restore: a status");
  if (s != ZANDLE_OK) {
    const char* text = nullptr;
    std::size_t len = 0;
    fuzz::expect(zandle_get_text(m, "keep", 4, &text, &len) == ZANDLE_OK && std::string(text, len) == "safe",
                 "restore: a refused snapshot changed a variable");
    fuzz::expect(zandle_paused(m) == 1 && machine.snapshot() == before, "restore: a refused snapshot changed the machine");
    fuzz::expect(zandle_resume(m) == ZANDLE_OK, "restore: the victim's run does not go on");
    return 0;
  }
  fuzz::checkRestored(machine, vm);
  return 0;
}
