// Lets the compiler check the arguments of our own printf-like functions.
// A header of its own, apart from platform.h, so that layout/, which depends
// on nothing of the program's own, can use it without the Windows headers or
// the simulated system: it pulls in nothing but Visual Studio's <sal.h>.
#pragma once

// QUORVEX_PRINTF_LIKE(F, A) follows the declarator of a function whose
// parameter F is a printf format and whose arguments start at A (counting
// `this` as 1 in a member function); QUORVEX_FORMAT_STRING precedes that
// parameter. GCC and Clang check through the attribute; Visual Studio, which
// rejects the attribute, through its annotation (clang-cl takes this path too).
#if defined(_MSC_VER)
#include <sal.h>
#define QUORVEX_PRINTF_LIKE(format_index, first_argument)
#define QUORVEX_FORMAT_STRING _Printf_format_string_
#elif defined(__GNUC__) || defined(__clang__)
#define QUORVEX_PRINTF_LIKE(format_index, first_argument) __attribute__((format(printf, format_index, first_argument)))
#define QUORVEX_FORMAT_STRING
#else
#define QUORVEX_PRINTF_LIKE(format_index, first_argument)
#define QUORVEX_FORMAT_STRING
#endif
