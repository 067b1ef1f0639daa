#pragma once
// Internal invariant failures. They are not `Errors`: they abort the call and
// surface in Python as the panic exception, which derives from BaseException.
#include <stdexcept>
#include <string>

namespace norvale {

class Panic : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

[[noreturn]] inline void panic(const std::string& what) { throw Panic(what); }

}  // namespace norvale
