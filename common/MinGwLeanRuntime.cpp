// Linked into BrimWatch and BrimSet only when they are built with MinGW's
// GCC and its static C++ runtime; MSVC builds never see this file.
//
// Neither program catches an exception anywhere: a failed allocation or a
// string length error inside the standard library ends the process through
// std::terminate and abort(). The static libstdc++ reaches that end by way of
// pieces that are far larger than the programs themselves:
//   - the default terminate handler prints the exception's demangled type
//     name to stderr, which pulls in the whole C++ demangler and printf's
//     floating-point formatting (about 65 KB) - and a GUI program has no
//     stderr to print to;
//   - the helpers that throw std::length_error, std::out_of_range and their
//     kin live in one object that also carries every standard exception class
//     and, through them, both narrow string implementations (about 55 KB).
// Defining the same functions here keeps the linker from fetching those
// objects. Each ends the process exactly where the library's uncaught
// exception would have ended it. Should either program ever catch one of
// these exceptions, this file must go.
#include <bits/functexcept.h>  // the library's own declarations of the helpers

#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc()
{
    std::abort();
}

void __throw_bad_array_new_length()
{
    std::abort();
}

void __throw_logic_error(const char*)
{
    std::abort();
}

void __throw_length_error(const char*)
{
    std::abort();
}

void __throw_out_of_range(const char*)
{
    std::abort();
}

void __throw_out_of_range_fmt(const char*, ...)
{
    std::abort();
}

// The rest of the library's throw helpers live in the same object as those
// above: were any of them needed, the linker would fetch that object and
// find every helper defined twice. They end the process the same way.
void __throw_bad_exception()
{
    std::abort();
}

void __throw_bad_cast()
{
    std::abort();
}

void __throw_bad_typeid()
{
    std::abort();
}

void __throw_domain_error(const char*)
{
    std::abort();
}

void __throw_invalid_argument(const char*)
{
    std::abort();
}

void __throw_runtime_error(const char*)
{
    std::abort();
}

void __throw_range_error(const char*)
{
    std::abort();
}

void __throw_overflow_error(const char*)
{
    std::abort();
}

void __throw_underflow_error(const char*)
{
    std::abort();
}

}  // namespace std
