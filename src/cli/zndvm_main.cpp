// The zndvm program: the shared command line with zndvm's modes. Texts and program output go
// to standard output, reports to standard error.
#include "api/program.hpp"
#include "cli/shell.hpp"
#include "zndvm/texts.hpp"

int main(int argc, char** argv) {
  using zandle::cli::Mode;
  namespace texts = zandle::zndvm::texts;
  const Mode modes[] = {
      {"version", texts::version(), false, true},
      {"test", texts::tests(), true, false},
      {"dance", texts::dance(), true, false},
      {"docs", texts::handbook(), false, false},
      {"psh", texts::psh(), true, false},
  };
  return zandle::cli::runCommandLine({zandle::api::newProgramZndvm, 1, modes, zandle::cli::writeFailed}, argc, argv);
}
