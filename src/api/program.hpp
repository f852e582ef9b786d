// The constructors of the command-line programs' machines: those of the interface, but for
// snapshots, which the programs never take (zandle_snapshot and zandle_restore are then
// ZANDLE_UNSUPPORTED), so that the programs do not link that code.
#pragma once
#include "zandle/zandle.h"

namespace zandle::api {

zandle_status newProgramVm(const zandle_options* options, zandle_machine** out);
zandle_status newProgramZndvm(const zandle_options* options, zandle_machine** out);

}  // namespace zandle::api
