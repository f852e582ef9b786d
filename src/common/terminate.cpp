// The C++ runtime's default terminate handler prints the type of an escaping exception and
// drags a symbol demangler into every program. Nothing in Zandle lets an exception escape,
// so the plain abort is enough and keeps the programs small.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
