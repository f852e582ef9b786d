// The constructor that takes the kind as an argument. It is kept apart from the rest of the
// interface because it names both interpreters: a program that calls only zandle_new_vm or
// zandle_new_zndvm links in only the one it uses.
#include "zandle/zandle.h"

extern "C" zandle_status zandle_new(zandle_kind kind, const zandle_options* options, zandle_machine** out) {
  switch (kind) {
    case ZANDLE_VM: return zandle_new_vm(options, out);
    case ZANDLE_ZNDVM: return zandle_new_zndvm(options, out);
  }
  if (out != nullptr) *out = nullptr;
  return ZANDLE_INVALID_ARGUMENT;
}
