#include "platform/platform.h"

#include <stdarg.h>

#ifdef _WIN32
// The C runtime's own formatter, declared by hand: the C++ headers would
// route it to mingw's larger printf.
extern "C" int __cdecl _vsnprintf(char *dest, size_t size, const char *format, va_list args);
#define VFormat _vsnprintf
#else
#include <stdio.h>
#define VFormat vsnprintf
#endif

int FormatText(char *dest, int size, const char *format, ...) {
  if (size <= 0) return -1;
  va_list args;
  va_start(args, format);
  // Windows' form neither terminates nor reports the length when the text
  // does not fit; both answer less than the size when it does.
  int length = VFormat(dest, (size_t)size, format, args);
  va_end(args);
  if (length < 0 || length >= size) {
    dest[0] = '\0';
    return -1;
  }
  dest[length] = '\0';
  return length;
}
