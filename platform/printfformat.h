// The format check of our printf-like functions. Windows builds use mingw's C99 printf (%zu, %lld), which
// the compiler knows as gnu_printf there; plain printf would mean the old Microsoft one.
#pragma once

#ifdef __MINGW32__
#define QX_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define QX_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
