/* Forced include for argtable2's arg_int.c: it declares its own EOVERFLOW
   error code, which clashes with the macro of the C runtime's errno.h, and it
   calls isspace and toupper without including ctype.h, an error for clang 16. */
#include <ctype.h>
#include <errno.h>
#undef EOVERFLOW
