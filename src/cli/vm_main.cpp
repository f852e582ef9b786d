// The vm program: the shared command line with vm's modes. Everything it prints goes to
// standard error.
#include "api/program.hpp"
#include "cli/shell.hpp"
#include "vm/texts.hpp"

int main(int argc, char** argv) {
  using zandle::cli::Mode;
  namespace texts = zandle::vm::texts;
  const Mode modes[] = {
      {"version", texts::version(), false, true},
      {"test", texts::tests(), true, false},
      {"docs", texts::docs(), false, false},
  };
  return zandle::cli::runCommandLine({zandle::api::newProgramVm, 2, modes, zandle::cli::systemWriteFailure}, argc, argv);
}
