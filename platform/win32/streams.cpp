// File streams on Windows are the C runtime's, opened in the caller's mode.
#include "platform/platform.h"

#include <stdio.h>

FileStream *OpenStream(const char *path, const char *mode) {
  return (FileStream *)fopen(path, mode);
}

char *ReadStreamLine(char *dest, int size, FileStream *stream) {
  return fgets(dest, size, (FILE *)stream);
}

size_t WriteStream(const void *data, size_t size, FileStream *stream) {
  return fwrite(data, 1, size, (FILE *)stream);
}

void RewindStream(FileStream *stream) { fseek((FILE *)stream, 0, SEEK_SET); }

void CloseStream(FileStream *stream) { fclose((FILE *)stream); }
