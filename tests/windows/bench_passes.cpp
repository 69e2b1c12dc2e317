// Times the program's own deletion passes and key-branch erase inside the
// process, so that process start-up (slow under emulation) is not counted.
//
//   bench_passes passes LIST PREFIX   DeleteListedEntries on the list
//   bench_passes single LIST PREFIX   one call per line, no attributes read
//                                     or cleared; lines ending in a
//                                     backslash are directories
//   ... LIST PREFIX timed             either of these, each file-system
//                                     call also timed by its kind
//   bench_passes erase flat|nested N  makes N keys below HKCU\Software\Zelk
//                                     (not timed), then EraseKeyBranch
//   bench_passes spawn COMMAND LINE   starts the command and waits for it:
//                                     for tools that cannot be timed inside
//
// Prints one line: "passes=P calls=C ms=T", timed runs also
// " Kind=calls/ms" for each kind of call made. The calls are those of the
// file system (attributes read and set, deletions) or of the registry
// (open, enumerate, delete, close), counted by redirecting this program's
// own import table; the passes are the list's rewinds plus one, or the
// erase's opens of the branch itself.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "settings/keytree.h"
#include "settings/settings.h"
#include "tests/bench/bench_tree.h"
#include "uninstall/uninstall.h"

namespace {

long calls, passes;

// Replaces one imported function of this executable; answers the original.
void *Redirect(const char *dll, const char *function, void *replacement) {
  BYTE *base = (BYTE *)GetModuleHandleA(0);
  IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
  IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress);
       d->Name; d++) {
    if (lstrcmpiA((const char *)(base + d->Name), dll) != 0) continue;
    IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
    IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
    for (; names->u1.AddressOfData; names++, slots++) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
      if (lstrcmpA((const char *)byName->Name, function) != 0) continue;
      DWORD protection;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      void *original = (void *)slots->u1.Function;
      slots->u1.Function = (DWORD_PTR)replacement;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return original;
    }
  }
  printf("cannot redirect %s!%s\n", dll, function);
  ExitProcess(2);
}

// With "timed", each file-system call is also timed on its own, for the
// cost of one call of each kind; the clock reads slow the whole run a
// little, so the totals of such a run are not the ones to compare.
bool timed;
struct CallKind {
  const char *name;
  long calls;
  LONGLONG ticks;
};
CallKind kinds[] = {{"GetFileAttributesA", 0, 0},
                    {"SetFileAttributesA", 0, 0},
                    {"DeleteFileA", 0, 0},
                    {"RemoveDirectoryA", 0, 0}};

template <typename R, typename Call>
R TimeCall(int kind, Call call) {
  if (!timed) return call();
  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  R result = call();
  QueryPerformanceCounter(&after);
  kinds[kind].calls++;
  kinds[kind].ticks += after.QuadPart - before.QuadPart;
  return result;
}

// One counting stand-in per imported function: the original's pointer
// and a function that counts and calls it.
#define COUNTED(result, name, params, args)                 \
  result(WINAPI * Real##name) params;                       \
  result WINAPI Counted##name params {                      \
    calls++;                                                \
    return Real##name args;                                 \
  }
#define COUNTED_FILE(kind, result, name, params, args)              \
  result(WINAPI * Real##name) params;                               \
  result WINAPI Counted##name params {                              \
    calls++;                                                        \
    return TimeCall<result>(kind, [&]() { return Real##name args; }); \
  }
COUNTED_FILE(0, DWORD, GetFileAttributesA, (LPCSTR p), (p))
COUNTED_FILE(1, BOOL, SetFileAttributesA, (LPCSTR p, DWORD a), (p, a))
COUNTED_FILE(2, BOOL, DeleteFileA, (LPCSTR p), (p))
COUNTED_FILE(3, BOOL, RemoveDirectoryA, (LPCSTR p), (p))
COUNTED(LONG, RegEnumKeyExA,
        (HKEY k, DWORD i, LPSTR n, LPDWORD l, LPDWORD r, LPSTR c, LPDWORD cl, PFILETIME t),
        (k, i, n, l, r, c, cl, t))
COUNTED(LONG, RegDeleteKeyA, (HKEY k, LPCSTR s), (k, s))
COUNTED(LONG, RegCloseKey, (HKEY k), (k))
#undef COUNTED
#undef COUNTED_FILE

LONG(WINAPI *RealRegOpenKeyExA)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
LONG WINAPI CountedRegOpenKeyExA(HKEY k, LPCSTR s, DWORD o, REGSAM a, PHKEY r) {
  calls++;
  if (s && lstrcmpiA(s, "Software\\Zelk") == 0) passes++;
  return RealRegOpenKeyExA(k, s, o, a, r);
}

int(__cdecl *RealFseek)(FILE *, long, int);
int __cdecl CountedFseek(FILE *f, long o, int w) {
  passes++;
  return RealFseek(f, o, w);
}

template <typename F>
void Count(const char *dll, const char *function, F replacement, F *original) {
  *original = (F)Redirect(dll, function, (void *)replacement);
}

void CountFileCalls() {
  Count("kernel32.dll", "GetFileAttributesA", CountedGetFileAttributesA, &RealGetFileAttributesA);
  Count("kernel32.dll", "SetFileAttributesA", CountedSetFileAttributesA, &RealSetFileAttributesA);
  Count("kernel32.dll", "DeleteFileA", CountedDeleteFileA, &RealDeleteFileA);
  Count("kernel32.dll", "RemoveDirectoryA", CountedRemoveDirectoryA, &RealRemoveDirectoryA);
}

double TicksToMilliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (double)ticks * 1000.0 / (double)frequency.QuadPart;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  return TicksToMilliseconds(to.QuadPart - from.QuadPart);
}

// " kind=calls/ms" for each kind of call made, on the end of the line.
void PrintCallKinds() {
  if (!timed) return;
  for (const CallKind &kind : kinds)
    if (kind.calls) printf(" %s=%ld/%.1f", kind.name, kind.calls, TicksToMilliseconds(kind.ticks));
}

int RunPasses(const char *listPath, const char *prefix) {
  CountFileCalls();
  Count("msvcrt.dll", "fseek", CountedFseek, &RealFseek);
  FileStream *list = OpenStream(listPath, "rb");
  if (!list) return printf("cannot open %s\n", listPath), 1;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  DeleteListedEntries(list, prefix);
  QueryPerformanceCounter(&end);
  CloseStream(list);
  printf("passes=%ld calls=%ld ms=%.1f", passes + 1, calls, Milliseconds(start, end));
  PrintCallKinds();
  printf("\n");
  return 0;
}

// The least any uninstaller can do: the list in an order that lets every
// entry go at its first attempt, one call each.
int RunSinglePass(const char *listPath, const char *prefix) {
  CountFileCalls();
  FileStream *list = OpenStream(listPath, "rb");
  if (!list) return printf("cannot open %s\n", listPath), 1;
  char line[LIST_LINE_SIZE], path[MAX_PATH];
  long failed = 0;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  while (ReadStreamLine(line, sizeof line, list)) {
    TrimLineEnd(line);
    size_t length = strlen(line);
    if (length == 0) continue;
    int directory = line[length - 1] == '\\';
    if (directory) line[length - 1] = '\0';
    if (FormatText(path, sizeof path, "%s%s", prefix, line) < 0) continue;
    if (!(directory ? RemoveDirectoryA(path) : DeleteFileA(path))) failed++;
  }
  QueryPerformanceCounter(&end);
  CloseStream(list);
  printf("passes=1 calls=%ld ms=%.1f failed=%ld", calls, Milliseconds(start, end), failed);
  PrintCallKinds();
  printf("\n");
  return failed ? 1 : 0;
}

int RunErase(int nested, long count) {
  HKEY key;
  char path[BRANCH_PATH_SIZE];
  // The same branch as the host benchmark erases.
  for (const std::string &relative : bench::KeyBranch((size_t)count, nested != 0)) {
    FormatText(path, sizeof path, "Software\\Zelk\\%s", relative.c_str());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0) !=
        ERROR_SUCCESS)
      return printf("cannot create %s\n", path), 1;
    RegCloseKey(key);
  }
  Count("advapi32.dll", "RegOpenKeyExA", CountedRegOpenKeyExA, &RealRegOpenKeyExA);
  Count("advapi32.dll", "RegEnumKeyExA", CountedRegEnumKeyExA, &RealRegEnumKeyExA);
  Count("advapi32.dll", "RegDeleteKeyA", CountedRegDeleteKeyA, &RealRegDeleteKeyA);
  Count("advapi32.dll", "RegCloseKey", CountedRegCloseKey, &RealRegCloseKey);
  SelectSettingsRoot(HKEY_CURRENT_USER);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  EraseKeyBranch("Software\\Zelk");
  QueryPerformanceCounter(&end);
  // Past the counters: this look is not part of the erase.
  LONG left = RealRegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Zelk", 0, KEY_READ, &key);
  if (left == ERROR_SUCCESS) RealRegCloseKey(key);
  printf("passes=%ld calls=%ld ms=%.1f%s\n", passes, calls, Milliseconds(start, end),
         left == ERROR_SUCCESS ? " left=yes" : "");
  return left == ERROR_SUCCESS ? 1 : 0;
}

int RunSpawned(const char *commandLine) {
  char line[COMMAND_LINE_SIZE];
  if (FormatText(line, sizeof line, "%s", commandLine) < 0) return printf("too long\n"), 2;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(0, line, 0, 0, FALSE, 0, 0, 0, &startup, &process))
    return printf("cannot start %s\n", line), 1;
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  printf("passes=1 calls=0 ms=%.1f exit=%lu\n", Milliseconds(start, end), code);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[4], "timed") == 0) {
    timed = true;
    argc = 4;
  }
  if (argc == 4 && strcmp(argv[1], "passes") == 0) return RunPasses(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "single") == 0) return RunSinglePass(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "erase") == 0)
    return RunErase(strcmp(argv[2], "nested") == 0, atol(argv[3]));
  if (argc > 2 && strcmp(argv[1], "spawn") == 0) {
    // The rest of this process's own command line, as it was given.
    const char *rest = strstr(GetCommandLineA(), " spawn ");
    if (rest) return RunSpawned(rest + 7);
  }
  printf("usage: bench_passes passes|single LIST PREFIX | erase flat|nested N |"
         " spawn COMMAND LINE\n");
  return 2;
}
