// The library's default terminate handler prints the exception's demangled type, which brings a
// demangler and printf into the exe. A GUI program has no console to print to: end quietly.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
