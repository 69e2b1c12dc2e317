// The one door from the program to the system.
//
// On Windows this is the SDK itself. On a Linux host the same names are
// declared by host/win32.h and served by the simulation in host/, so the
// program logic compiles unchanged against either.
#ifndef ZELK_PLATFORM_H
#define ZELK_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
#include <ddeml.h>
#include <shlobj.h>
#else
#include "host/win32.h"
#endif

#include <stddef.h>

// Formats into a fixed buffer. Returns the length written, or -1 when the
// text would not fit (the buffer then holds an empty text): a path cut
// short names a different file, so callers refuse rather than truncate.
int FormatText(char *dest, int size, const char *format, ...);

// Byte streams over files, the only stdio the program needs. On Windows
// they are the C runtime's own; on the host the simulation serves them.
struct FileStream;
FileStream *OpenStream(const char *path, const char *mode);
// Reads up to size - 1 bytes, stopping after a line feed; returns dest,
// or 0 at the end of the file when nothing was read.
char *ReadStreamLine(char *dest, int size, FileStream *stream);
size_t WriteStream(const void *data, size_t size, FileStream *stream);
void RewindStream(FileStream *stream);
void CloseStream(FileStream *stream);

#endif
