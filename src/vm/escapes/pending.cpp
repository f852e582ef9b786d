// Escapes of the table that are not built yet: they fail as if they were missing.
#include "escapes.hpp"

namespace zandle::vm::escapes {

void strLen(Machine&) { fail(Error::UnknownEscape); }
void strSplitNumL(Machine&) { fail(Error::UnknownEscape); }
void strSplitNumR(Machine&) { fail(Error::UnknownEscape); }
void random(Machine&) { fail(Error::UnknownEscape); }
void time(Machine&) { fail(Error::UnknownEscape); }
void fread(Machine&) { fail(Error::UnknownEscape); }
void fwrite(Machine&) { fail(Error::UnknownEscape); }
void fbwrite(Machine&) { fail(Error::UnknownEscape); }
void listDir(Machine&) { fail(Error::UnknownEscape); }
void gcwd(Machine&) { fail(Error::UnknownEscape); }
void chcwd(Machine&) { fail(Error::UnknownEscape); }
void spawnProc(Machine&) { fail(Error::UnknownEscape); }
void waitPid(Machine&) { fail(Error::UnknownEscape); }
void exit(Machine&) { fail(Error::UnknownEscape); }

}  // namespace zandle::vm::escapes
