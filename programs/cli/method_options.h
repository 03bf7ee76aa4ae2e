// The command-line options of the moments method, shared by
// quellmar-moments and quellmar-wind --from-spectra.

#ifndef QUELLMAR_COMPANIONS_MOMENTS_METHOD_OPTIONS_H
#define QUELLMAR_COMPANIONS_MOMENTS_METHOD_OPTIONS_H

#include <string>

#include "methods/moments/method.h"

namespace quellmar::companions {

// Lines of --help for the method options: each option, its default and
// meaning.
extern const char* const kMethodOptionsHelp;

// Whether arg is a method option; if so, and it takes a value, *next is
// advanced over argv's value. False with *error set for a wrong or missing
// value (then the option was one).
enum class MethodOption { kNotOne, kTaken, kWrong };
MethodOption parse_method_option(int argc, char** argv, int* next,
                                 MomentsMethod* method, std::string* error);

const char* axis_name(AxisChoice axis);

}  // namespace quellmar::companions

#endif  // QUELLMAR_COMPANIONS_MOMENTS_METHOD_OPTIONS_H
