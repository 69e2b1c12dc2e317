// Host declarations of the Win32 names the program uses, and no others.
// Values and layouts follow the 32-bit ANSI interface; the simulation in
// this folder serves the calls.
#ifndef ZELK_HOST_WIN32_H
#define ZELK_HOST_WIN32_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef ULONG_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef BYTE *LPBYTE;
typedef const BYTE *LPCBYTE;
typedef DWORD *LPDWORD;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef void *HANDLE;
typedef HANDLE *LPHANDLE;

typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__ *HWND;
typedef struct HSZ__ *HSZ;
typedef struct HCONV__ *HCONV;
typedef struct HDDEDATA__ *HDDEDATA;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

// Registry
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_FILE_EXISTS 80L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR cls,
                     DWORD options, REGSAM sam, LPSECURITY_ATTRIBUTES sa,
                     PHKEY result, LPDWORD disposition);
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM sam,
                   PHKEY result);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type,
                    const BYTE *data, DWORD size);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD size);
LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size,
                   LPDWORD reserved, LPSTR cls, LPDWORD cls_size,
                   PFILETIME last_write);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size,
                   LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD data_size);
LONG RegCloseKey(HKEY key);

// Process, modules, resources
LPSTR GetCommandLineA(void);
HMODULE GetModuleHandleA(LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
void Sleep(DWORD milliseconds);
DWORD GetLastError(void);
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
#ifdef __cplusplus
[[noreturn]]
#endif
void ExitProcess(UINT code);

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
BOOL GetVersionExA(LPOSVERSIONINFOA info);

// Message boxes
#define MB_OK 0x0
#define MB_YESNO 0x4
#define MB_ICONERROR 0x10
#define MB_ICONQUESTION 0x20
#define MB_ICONINFORMATION 0x40
#define MB_SETFOREGROUND 0x10000
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Files and directories
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_HIDDEN 0x02
#define FILE_ATTRIBUTE_SYSTEM 0x04
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1
#define FILE_SHARE_WRITE 2
#define FILE_SHARE_DELETE 4
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

DWORD GetFileAttributesA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
BOOL DeleteFileA(LPCSTR path);
BOOL RemoveDirectoryA(LPCSTR path);
BOOL SetCurrentDirectoryA(LPCSTR path);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
DWORD GetTempPathA(DWORD size, LPSTR buffer);
DWORD GetShortPathNameA(LPCSTR long_path, LPSTR short_path, DWORD size);
DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR *file_part);
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share,
                   LPSECURITY_ATTRIBUTES sa, DWORD creation, DWORD flags,
                   HANDLE template_file);
BOOL CloseHandle(HANDLE handle);

// Code pages
BOOL CharToOemBuffA(LPCSTR src, LPSTR dest, DWORD length);
BOOL OemToCharBuffA(LPCSTR src, LPSTR dest, DWORD length);

// Processes
#define STARTF_USESHOWWINDOW 0x1
#define STARTF_USESTDHANDLES 0x100
#define SW_HIDE 0
#define SW_SHOWDEFAULT 10
#define DETACHED_PROCESS 0x8

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

BOOL CreateProcessA(LPCSTR application, LPSTR command_line,
                    LPSECURITY_ATTRIBUTES process_sa,
                    LPSECURITY_ATTRIBUTES thread_sa, BOOL inherit_handles,
                    DWORD creation_flags, LPVOID environment,
                    LPCSTR current_directory, LPSTARTUPINFOA startup,
                    LPPROCESS_INFORMATION info);

// Shell
#define CSIDL_PROGRAMS 2
typedef LONG HRESULT;
#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005)
typedef struct _ITEMIDLIST {
  BYTE mkid[1];
} ITEMIDLIST, *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;
HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST *list);
BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path);
#define SHGetPathFromIDList SHGetPathFromIDListA
typedef uint32_t ULONG;
// The shell's allocator, through which item lists are released.
struct IMalloc {
  virtual HRESULT QueryInterface(const void *iid, void **object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual void *Alloc(size_t size) = 0;
  virtual void *Realloc(void *block, size_t size) = 0;
  virtual void Free(void *block) = 0;
  virtual size_t GetSize(void *block) = 0;
  virtual int DidAlloc(void *block) = 0;
  virtual void HeapMinimize() = 0;
};
HRESULT SHGetMalloc(IMalloc **allocator);

// DDE client
#define DMLERR_NO_ERROR 0
#define DMLERR_NO_CONV_ESTABLISHED 0x400a
#define DMLERR_DLL_USAGE 0x4004
#define APPCMD_CLIENTONLY 0x10
#define CP_WINANSI 1004
#define XTYP_EXECUTE 0x4050
typedef struct tagCONVCONTEXT {
  UINT cb;
  UINT wFlags;
  UINT wCountryID;
  int iCodePage;
  DWORD dwLangID;
  DWORD dwSecurity;
  BYTE qos[12];
} CONVCONTEXT, *PCONVCONTEXT;
typedef HDDEDATA (*PFNCALLBACK)(UINT type, UINT format, HCONV conv, HSZ hsz1,
                                HSZ hsz2, HDDEDATA data, ULONG_PTR data1,
                                ULONG_PTR data2);
UINT DdeInitializeA(LPDWORD instance, PFNCALLBACK callback, DWORD command,
                    DWORD reserved);
BOOL DdeUninitialize(DWORD instance);
HSZ DdeCreateStringHandleA(DWORD instance, LPCSTR text, int code_page);
BOOL DdeFreeStringHandle(DWORD instance, HSZ hsz);
HCONV DdeConnect(DWORD instance, HSZ service, HSZ topic, PCONVCONTEXT context);
HDDEDATA DdeClientTransaction(LPBYTE data, DWORD length, HCONV conv, HSZ item,
                              UINT format, UINT type, DWORD timeout,
                              LPDWORD result);
BOOL DdeFreeDataHandle(HDDEDATA data);
BOOL DdeDisconnect(HCONV conv);

#endif
