// The simulated file system where the program leans on Windows' own rules:
// how paths resolve, when deletions are refused, how lines are read, and
// what a directory search reports.
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/platform.h"

namespace {

class FilesSim : public SimTest {};

std::string FullPath(const char *path) {
  char buffer[MAX_PATH];
  DWORD length = GetFullPathNameA(path, sizeof buffer, buffer, nullptr);
  return length && length < sizeof buffer ? std::string(buffer, length) : "<failed>";
}

std::vector<std::string> Search(const char *pattern, std::vector<DWORD> *attributes = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(data.cFileName);
    if (attributes) attributes->push_back(data.dwFileAttributes);
  } while (FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
  FindClose(find);
  return names;
}

TEST_F(FilesSim, PathsResolveAsWindowsResolvesThem) {
  SimAddDirectory("C:\\Program Files\\Zelk");
  ASSERT_TRUE(SetCurrentDirectoryA("c:\\program files\\zelk"));
  struct {
    const char *path;
    const char *full;
  } cases[] = {
      {"..\\Other", "C:\\program files\\Other"},
      {"a\\.\\b\\..\\c", "C:\\program files\\zelk\\a\\c"},
      {"C:\\..\\..\\x", "C:\\x"},
      {"/Windows/Temp/", "C:\\Windows\\Temp\\"},
      {"\\top", "C:\\top"},
      {"C:rel", "C:\\program files\\zelk\\rel"},
      {"D:rel", "D:\\rel"},
      // Trailing dots and blanks go from the last component, a single dot
      // from the others.
      {"name. . ", "C:\\program files\\zelk\\name"},
      {"dir.\\x", "C:\\program files\\zelk\\dir\\x"},
      {"..\\..\\..\\..", "C:\\"},
  };
  for (const auto &c : cases) EXPECT_EQ(FullPath(c.path), c.full) << c.path;

  // Too small a buffer answers the size needed and leaves it alone.
  char small[8] = "keep";
  EXPECT_EQ(GetFullPathNameA("x", sizeof small, small, nullptr),
            strlen("C:\\program files\\zelk\\x") + 1);
  EXPECT_STREQ(small, "keep");
  char current[MAX_PATH];
  EXPECT_EQ(GetCurrentDirectoryA(5, current), strlen("c:\\program files\\zelk") + 1);
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\Missing"));
  EXPECT_EQ(SimCurrentDirectory(), "C:\\program files\\zelk");

  // A path of MAX_PATH characters or more is not accepted.
  std::string longName = "C:\\" + std::string(MAX_PATH - 3, 'a');
  EXPECT_EQ(GetFileAttributesA(longName.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(CreateFileA(longName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(FilesSim, NamesMatchInAnyCaseAndKeepTheirOwn) {
  SimAddFile("C:\\Program Files\\Zelk\\Zelk.EXE", "MZ");
  SimSetCurrentDirectory("C:\\Program Files");
  EXPECT_EQ(GetFileAttributesA("zelk\\ZELK.exe"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesA("c:/PROGRAM FILES/zelk/"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("zelk\\zelk.exe\\"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(DeleteFileA("ZELK\\zelk.exe"));
  ASSERT_TRUE(RemoveDirectoryA("c:\\program files\\ZELK"));
  ASSERT_EQ(SimDeletions().size(), 2u);
  EXPECT_FALSE(SimDeletions()[0].directory);
  EXPECT_EQ(SimDeletions()[0].path, "C:\\Program Files\\Zelk\\Zelk.EXE");
  EXPECT_TRUE(SimDeletions()[1].directory);
  EXPECT_EQ(SimDeletions()[1].path, "C:\\Program Files\\Zelk");
  EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\Zelk"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesSim, DeletionsAreRefusedWhereWindowsRefusesThem) {
  SimAddFile("C:\\P\\readonly.txt", "x", FILE_ATTRIBUTE_READONLY);
  SimAddFile("C:\\P\\full\\inside.txt");
  SimAddDirectory("C:\\P\\lockeddir", FILE_ATTRIBUTE_READONLY);
  SimAddFile("C:\\P\\busy.dll");
  SimSetInUse("C:\\P\\busy.dll", true);
  SimAddFile("C:\\P\\open.txt");
  SimAddDirectory("C:\\P\\current");
  SimSetCurrentDirectory("C:\\P\\current");
  HANDLE open = CreateFileA("C:\\P\\open.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);

  struct {
    bool directory;
    const char *path;
    DWORD error;
  } cases[] = {
      {false, "C:\\P\\readonly.txt", ERROR_ACCESS_DENIED},
      {false, "C:\\P\\full", ERROR_ACCESS_DENIED},
      {false, "C:\\P\\missing.txt", ERROR_FILE_NOT_FOUND},
      {false, "C:\\P\\nodir\\missing.txt", ERROR_PATH_NOT_FOUND},
      {false, "C:\\P\\busy.dll", ERROR_SHARING_VIOLATION},
      {false, "C:\\P\\open.txt", ERROR_SHARING_VIOLATION},
      {true, "C:\\P\\full", ERROR_DIR_NOT_EMPTY},
      {true, "C:\\P\\lockeddir", ERROR_ACCESS_DENIED},
      {true, "C:\\P\\readonly.txt", 267 /* ERROR_DIRECTORY */},
      {true, "C:\\P\\current", ERROR_SHARING_VIOLATION},
      {true, "C:\\P\\missing", ERROR_FILE_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SimSetLastError(0);
    BOOL done = c.directory ? RemoveDirectoryA(c.path) : DeleteFileA(c.path);
    EXPECT_FALSE(done) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  EXPECT_TRUE(SimDeletions().empty());

  // A read-only file is deletable once its attributes are cleared; the
  // directory bit survives the clearing.
  EXPECT_TRUE(SetFileAttributesA("C:\\P\\readonly.txt", 0));
  EXPECT_EQ(GetFileAttributesA("C:\\P\\readonly.txt"), (DWORD)FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(DeleteFileA("C:\\P\\readonly.txt"));
  EXPECT_TRUE(SetFileAttributesA("C:\\P\\lockeddir", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\P\\lockeddir"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(RemoveDirectoryA("C:\\P\\lockeddir"));
  // Closing the handle frees the file.
  EXPECT_TRUE(CloseHandle(open));
  EXPECT_TRUE(DeleteFileA("C:\\P\\open.txt"));
}

// A name that ends with a separator names a directory. Measured under Wine:
// every call on "file\" fails with ERROR_INVALID_NAME and leaves the file as
// it was (Wine's GetFileAttributesA says ERROR_PATH_NOT_FOUND instead; it
// fails all the same), nothing is made under such a name, and "file\." is
// the file again.
TEST_F(FilesSim, ANameEndingInASeparatorNeverReachesAFile) {
  SimAddFile("C:\\P\\f.txt", "kept", FILE_ATTRIBUTE_HIDDEN);
  SimAddDirectory("C:\\P\\d", FILE_ATTRIBUTE_READONLY);
  SimSetCurrentDirectory("C:\\P");

  struct Call {
    const char *name;
    bool (*fails)(const char *path);  // true when the call failed
  };
  const Call calls[] = {
      {"GetFileAttributesA", [](const char *path) {
         return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
       }},
      {"SetFileAttributesA", [](const char *path) { return !SetFileAttributesA(path, 0); }},
      {"DeleteFileA", [](const char *path) { return !DeleteFileA(path); }},
      {"RemoveDirectoryA", [](const char *path) { return !RemoveDirectoryA(path); }},
      {"SetCurrentDirectoryA", [](const char *path) { return !SetCurrentDirectoryA(path); }},
      {"CreateFileA OPEN_EXISTING", [](const char *path) {
         HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
         if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
         return h == INVALID_HANDLE_VALUE;
       }},
      {"CreateFileA CREATE_ALWAYS", [](const char *path) {
         HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
         if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
         return h == INVALID_HANDLE_VALUE;
       }},
      {"OpenStream rb", [](const char *path) {
         FileStream *stream = OpenStream(path, "rb");
         if (stream) CloseStream(stream);
         return stream == nullptr;
       }},
      {"OpenStream wb", [](const char *path) {
         FileStream *stream = OpenStream(path, "wb");
         if (stream) CloseStream(stream);
         return stream == nullptr;
       }},
  };
  for (const char *path : {"C:\\P\\f.txt\\", "f.txt\\\\", "C:/P/f.txt/"}) {
    for (const Call &call : calls) {
      SimSetLastError(0);
      EXPECT_TRUE(call.fails(path)) << call.name << " " << path;
      // The runtime's streams report through errno, not the last error.
      if (std::string(call.name).rfind("OpenStream", 0) != 0) {
        EXPECT_EQ(GetLastError(), (DWORD)123 /* ERROR_INVALID_NAME */) << call.name << " " << path;
      }
    }
  }
  EXPECT_TRUE(SimDeletions().empty());
  EXPECT_EQ(SimReadFile("C:\\P\\f.txt"), "kept");
  EXPECT_EQ(SimFileAttributes("C:\\P\\f.txt"), (DWORD)FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(SimCurrentDirectory(), "C:\\P");

  // Nothing is made under such a name either.
  for (const Call &call : calls) EXPECT_TRUE(call.fails("C:\\P\\new.txt\\")) << call.name;
  EXPECT_EQ(SimListTree("C:\\P"), (std::vector<std::string>{"C:\\P\\d\\", "C:\\P\\f.txt"}));

  // A directory answers to its name with the separator.
  EXPECT_EQ(GetFileAttributesA("d\\"), (DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(SetFileAttributesA("d\\", 0));
  EXPECT_TRUE(SetCurrentDirectoryA("d\\"));
  EXPECT_TRUE(SetCurrentDirectoryA("..\\"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\P\\d\\"));
  // A dot after the separator takes the name back to the file.
  EXPECT_TRUE(DeleteFileA("f.txt\\."));
  ASSERT_EQ(SimDeletions().size(), 2u);
  EXPECT_EQ(SimDeletions()[1].path, "C:\\P\\f.txt");
}

TEST_F(FilesSim, AJunctionLeadsOutsideItsDirectory) {
  SimAddFile("C:\\Users\\me\\Documents\\letter.doc", "dear");
  SimMakeJunction("C:\\Program Files\\Zelk\\docs", "C:\\Users\\me\\Documents");
  EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\Zelk\\docs"),
            (DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(Search("C:\\Program Files\\Zelk\\docs\\*.*"),
            (std::vector<std::string>{".", "..", "letter.doc"}));
  ASSERT_TRUE(DeleteFileA("C:\\Program Files\\Zelk\\docs\\letter.doc"));
  ASSERT_EQ(SimDeletions().size(), 1u);
  EXPECT_EQ(SimDeletions()[0].path, "C:\\Users\\me\\Documents\\letter.doc");
  // Removing the junction removes the link, not the target.
  SimAddFile("C:\\Users\\me\\Documents\\other.doc");
  ASSERT_TRUE(RemoveDirectoryA("C:\\Program Files\\Zelk\\docs"));
  EXPECT_TRUE(SimPathExists("C:\\Users\\me\\Documents\\other.doc"));
  EXPECT_EQ(SimListTree("C:\\Program Files"), (std::vector<std::string>{"C:\\Program Files\\Zelk\\"}));
}

TEST_F(FilesSim, LinesAreReadAsRawBytesWithTheRuntimesLimits) {
  const std::string bytes("one\r\n\0two\x1A\nabcdefghij\nlast", 26);
  SimAddFile("C:\\list.txt", bytes);
  FileStream *stream = OpenStream("C:\\list.txt", "rb");
  ASSERT_NE(stream, nullptr);
  std::vector<std::string> lines;
  char line[6];
  while (char *got = ReadStreamLine(line, sizeof line, stream)) {
    EXPECT_EQ(got, line);
    lines.push_back(std::string(line, strnlen(line, sizeof line)));
  }
  EXPECT_EQ(ReadStreamLine(line, sizeof line, stream), nullptr);
  // Five bytes per read at most, stopping after each LF; a NUL stops what a
  // C string shows but not the read, and 0x1A is an ordinary byte.
  EXPECT_EQ(lines, (std::vector<std::string>{"one\r\n", "", "\n", "abcde", "fghij", "\n", "last"}));
  RewindStream(stream);
  ASSERT_NE(ReadStreamLine(line, sizeof line, stream), nullptr);
  EXPECT_STREQ(line, "one\r\n");
  ASSERT_NE(ReadStreamLine(line, sizeof line, stream), nullptr);
  EXPECT_EQ(std::string(line, 5), std::string("\0two\x1A", 5));
  CloseStream(stream);

  // Text mode, by contrast, folds CR LF and ends at 0x1A.
  stream = OpenStream("C:\\list.txt", "r");
  ASSERT_NE(stream, nullptr);
  ASSERT_NE(ReadStreamLine(line, sizeof line, stream), nullptr);
  EXPECT_STREQ(line, "one\n");
  ASSERT_NE(ReadStreamLine(line, sizeof line, stream), nullptr);
  EXPECT_EQ(ReadStreamLine(line, sizeof line, stream), nullptr);
  CloseStream(stream);
}

TEST_F(FilesSim, StreamsCreateTruncateAndCountAsHandles) {
  SimAddFile("C:\\P\\old.txt", "previous content");
  SimAddFile("C:\\P\\ro.txt", "", FILE_ATTRIBUTE_READONLY);
  SimRefuseCreation("C:\\P\\locked");
  EXPECT_EQ(OpenStream("C:\\P\\missing.txt", "rb"), nullptr);
  EXPECT_EQ(OpenStream("C:\\P", "rb"), nullptr);
  EXPECT_EQ(OpenStream("C:\\P\\ro.txt", "wb"), nullptr);
  EXPECT_EQ(OpenStream("C:\\P\\locked\\new.txt", "wb"), nullptr);
  EXPECT_EQ(OpenStream("C:\\nowhere\\new.txt", "wb"), nullptr);

  FileStream *old = OpenStream("c:\\p\\OLD.TXT", "wb");
  FileStream *text = OpenStream("C:\\P\\text.txt", "w");
  ASSERT_NE(old, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SimOpenFileHandles(), 2);
  EXPECT_EQ(SimReadFile("C:\\P\\old.txt"), "");
  EXPECT_EQ(WriteStream("a\r\nb\n", 5, old), 5u);
  EXPECT_EQ(WriteStream("a\nb", 3, text), 3u);
  // An open stream holds its file against deletion, as the runtime's does.
  EXPECT_FALSE(DeleteFileA("C:\\P\\old.txt"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
  CloseStream(old);
  CloseStream(text);
  EXPECT_EQ(SimReadFile("C:\\P\\old.txt"), "a\r\nb\n");
  EXPECT_EQ(SimReadFile("C:\\P\\text.txt"), "a\r\nb");

  // The NUL device opens with any access; files follow their disposition.
  HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE fresh =
      CreateFileA("C:\\P\\fresh.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(nul, INVALID_HANDLE_VALUE);
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA("C:\\P\\fresh.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
  EXPECT_EQ(CreateFileA("C:\\P\\locked", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(SimOpenFileHandles(), 2);
  CloseHandle(nul);
  CloseHandle(fresh);
}

TEST_F(FilesSim, SearchesListDotsFirstThenNamesInOrder) {
  SimAddFile("C:\\G\\b.lnk");
  SimAddFile("C:\\G\\A.lnk", "", FILE_ATTRIBUTE_READONLY);
  SimAddDirectory("C:\\G\\Sub");
  SimAddFile("C:\\G\\Sub\\deep.txt");
  std::vector<DWORD> attributes;
  EXPECT_EQ(Search("C:\\G\\*.*", &attributes),
            (std::vector<std::string>{".", "..", "A.lnk", "b.lnk", "Sub"}));
  EXPECT_EQ(attributes, (std::vector<DWORD>{FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY,
                                            FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_ARCHIVE,
                                            FILE_ATTRIBUTE_DIRECTORY}));
  EXPECT_EQ(Search("C:\\G\\*"), Search("C:\\G\\*.*"));
  EXPECT_EQ(Search("c:\\g\\B.LNK"), (std::vector<std::string>{"b.lnk"}));
  EXPECT_EQ(Search("C:\\G\\*.txt"), (std::vector<std::string>{}));
  // A root has no "." or ".." entries.
  EXPECT_EQ(Search("C:\\*.*"), (std::vector<std::string>{"G", "WINDOWS"}));
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA("C:\\Missing\\*.*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA("C:\\G\\*.txt", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesSim, ShortNamesAndTheTemporaryDirectory) {
  SimAddDirectory("C:\\Program Files\\Zelk");
  SimAddDirectory("C:\\Program Data");
  SimAddFile("C:\\Program Files\\Zelk\\uninstall.exe");
  char buffer[MAX_PATH];
  ASSERT_GT(GetShortPathNameA("c:\\program files\\zelk\\uninstall.exe", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "C:\\PROGRA~1\\Zelk\\UNINST~1.EXE");
  ASSERT_GT(GetShortPathNameA("C:\\Program Data", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "C:\\PROGRA~2");
  // Short names reach the same entries.
  EXPECT_EQ(GetFileAttributesA("C:\\PROGRA~1\\Zelk\\uninstall.exe"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetShortPathNameA("C:\\Program Files\\Missing", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetShortPathNameA("C:\\Program Files", buffer, 4), strlen("C:\\PROGRA~1") + 1);

  ASSERT_EQ(GetTempPathA(sizeof buffer, buffer), strlen("C:\\WINDOWS\\TEMP\\"));
  EXPECT_EQ(GetFileAttributesA(buffer), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  SimSetTempPath("D:\\tmp");
  ASSERT_EQ(GetTempPathA(sizeof buffer, buffer), strlen("D:\\tmp\\"));
  EXPECT_STREQ(buffer, "D:\\tmp\\");
  EXPECT_EQ(GetTempPathA(3, buffer), strlen("D:\\tmp\\") + 1);
}

TEST_F(FilesSim, CodePagesConvertLatinLettersAndLoseTheRest) {
  struct {
    unsigned char ansi;
    unsigned char oem;
  } cases[] = {
      {0xC9, 0x90}, {0xE9, 0x82}, {0xFC, 0x81}, {0xE4, 0x84}, {0xF6, 0x94}, {0xDF, 0xE1},
      {0xE0, 0x85}, {0xE8, 0x8A}, {0xF1, 0xA4}, {0xE7, 0x87}, {0xC4, 0x8E}, {'A', 'A'},
      {'&', '&'},   {0x80, '?'},  {0x8A, '?'},  {0x9C, '?'},
  };
  for (const auto &c : cases) {
    char in = (char)c.ansi, out = 0;
    ASSERT_TRUE(CharToOemBuffA(&in, &out, 1));
    EXPECT_EQ((unsigned char)out, c.oem) << std::hex << (int)c.ansi;
    if (c.oem == '?') continue;
    char back = 0;
    ASSERT_TRUE(OemToCharBuffA(&out, &back, 1));
    EXPECT_EQ((unsigned char)back, c.ansi) << std::hex << (int)c.ansi;
  }
  // In place, and the round trip shows what was lost.
  char text[] = "C:\\Caf\xE9 \x80uro";
  ASSERT_TRUE(CharToOemBuffA(text, text, (DWORD)strlen(text)));
  ASSERT_TRUE(OemToCharBuffA(text, text, (DWORD)strlen(text)));
  EXPECT_STREQ(text, "C:\\Caf\xE9 ?uro");
}

}  // namespace
