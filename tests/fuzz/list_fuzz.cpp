// List file bytes into the whole uninstall sequence, over a program
// directory made from the input: nested directories, read-only, hidden and
// system files, files in use, a junction leading out, and decoys outside
// the directory (one in a sibling whose name extends the directory's).
//
// Input: byte 0 selects the platform family (bit 0) and the junction
// (bit 1); byte 1 the number of entries; two bytes per entry (kind and
// attributes; parent and name); the rest is the list file, where the bytes
// 1 to 6 stand for the relative path of entry 0 to 5.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fuzz_support.h"
#include "resources/strings.h"

using fuzz::Lower;
using fuzz::StartsWith;

namespace {

const std::string kProgramDir = "C:\\Program Files\\Zelk";
const std::string kPrefix = kProgramDir + "\\";
const std::string kModule = kPrefix + "uninstall.exe";
const std::string kList = kPrefix + "Uninstall.lst";
const std::string kPrograms = "C:\\Menu\\Programs";
const std::string kGroupFolder = kPrograms + "\\ZELK";
const std::string kTemp = "C:\\WINDOWS\\TEMP\\";
const std::string kJunction = "j";
const int kLinePiece = 519;  // one read of a list line

// Names without a distinct short form, so that an entry and its deletion
// name the file alike.
const char *const kNames[] = {"a", "b", "c", "d", "e", "x.txt", "y", "ab"};

struct Entry {
  std::string relative;
  bool directory;
  bool inUse;
};

void AddOutside() {
  SimAddFile("C:\\Program Files\\Zelk2\\a", "", FILE_ATTRIBUTE_READONLY);
  SimAddFile("C:\\Program Files\\Other\\a", "", FILE_ATTRIBUTE_HIDDEN);
  SimAddFile("C:\\a", "", FILE_ATTRIBUTE_READONLY);
  SimAddFile("C:\\Elsewhere\\a", "", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  SimAddFile("C:\\Elsewhere\\d\\b");
  SimAddFile(kGroupFolder + "\\ZELK.lnk");
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Zelk", "Group", "ZELK");
  SimRegistryPutText(HKEY_LOCAL_MACHINE, "Software\\Zelk", "Group", "ZELK");
  SimRegistryPutText(HKEY_LOCAL_MACHINE,
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZELK manager",
                     "UninstallString", kModule);
}

std::vector<Entry> AddProgramDirectory(fuzz::Bytes &in, bool junction) {
  SimAddFile(kModule, "MZ");
  if (junction) SimMakeJunction(kPrefix + kJunction, "C:\\Elsewhere");
  std::vector<Entry> entries;
  std::vector<std::string> directories;  // relative paths
  std::set<std::string> taken = {Lower(kJunction), "uninstall.exe", "uninstall.lst"};
  unsigned count = in.Next() % 13;
  for (unsigned i = 0; i < count; i++) {
    unsigned kind = in.Next(), place = in.Next();
    std::string parent;
    if ((place & 7) && !directories.empty())
      parent = directories[((place & 7) - 1) % directories.size()] + "\\";
    std::string relative = parent + kNames[(place >> 3) % 8];
    if (!taken.insert(Lower(relative)).second) continue;
    DWORD attributes = 0;
    if (kind & 4) attributes |= FILE_ATTRIBUTE_READONLY;
    if (kind & 8) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (kind & 16) attributes |= FILE_ATTRIBUTE_SYSTEM;
    bool directory = (kind & 3) >= 2;
    bool inUse = !directory && (kind & 32);
    if (directory) {
      SimAddDirectory(kPrefix + relative, attributes);
      directories.push_back(relative);
    } else {
      SimAddFile(kPrefix + relative, "data", attributes ? attributes : FILE_ATTRIBUTE_ARCHIVE);
      if (inUse) SimSetInUse(kPrefix + relative, true);
    }
    entries.push_back({relative, directory, inUse});
  }
  return entries;
}

std::string ExpandList(const std::string &raw, const std::vector<Entry> &entries) {
  std::string list;
  for (char c : raw) {
    unsigned char b = (unsigned char)c;
    if (b >= 1 && b <= 6) {
      if (b - 1u < entries.size()) list += entries[b - 1].relative;
    } else {
      list += c;
    }
  }
  return list;
}

void TrimEnd(std::string *text) {
  while (!text->empty() &&
         ((unsigned char)text->back() <= 0x20 || (unsigned char)text->back() == 0x7F))
    text->pop_back();
}

// What the list names. A line too long for one read is taken in pieces by
// the plain reading, or skipped whole by a stricter one: its pieces count as
// entries and either reading may delete them, but only lines that fit one
// read must be honoured.
struct Listing {
  std::vector<std::string> names;       // every line and every piece
  std::vector<std::string> shortLines;  // lines that fit one read
  long entries = 0;                     // non-empty entries, pieces counted
};

std::string EntryOf(std::string text) {
  text = text.substr(0, text.find('\0'));
  TrimEnd(&text);
  return text;
}

Listing ReadListing(const std::string &list) {
  Listing listing;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\n', start);
    std::string line =
        list.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
    start += line.size();
    std::vector<std::string> pieces;
    for (size_t at = 0; at < line.size(); at += kLinePiece) pieces.push_back(line.substr(at, kLinePiece));
    for (const std::string &piece : pieces) {
      std::string entry = EntryOf(piece);
      if (entry.empty()) continue;
      listing.names.push_back(entry);
      listing.entries++;
    }
    std::string whole = EntryOf(line);
    if (pieces.size() > 1 && !whole.empty()) listing.names.push_back(whole);
    if (pieces.size() == 1 && !whole.empty()) listing.shortLines.push_back(whole);
  }
  return listing;
}

// The full path an entry names, and whether it names only a directory:
// "b\" is the directory b, never the file b.
std::string Resolve(const std::string &path, bool *directoryOnly) {
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return "";
  *directoryOnly = length > 3 && full[length - 1] == '\\';
  while (length > 3 && full[length - 1] == '\\') length--;
  return Lower(std::string(full, length));
}

// A path every reader takes alike: names of letters, digits, dots and
// underscores, separated by single backslashes, none of dots alone, none
// ending in a dot, not through the junction.
bool PlainEntry(const std::string &entry) {
  if (Lower(entry) == Lower(kJunction) || StartsWith(Lower(entry), Lower(kJunction) + "\\"))
    return false;
  size_t start = 0;
  for (;;) {
    size_t end = entry.find('\\', start);
    std::string part = entry.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part.back() == '.' || part.find_first_not_of('.') == std::string::npos)
      return false;
    for (char c : part)
      if (!isalnum((unsigned char)c) && c != '_' && c != '.') return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool Outside(const std::string &lowerPath) {
  return !StartsWith(lowerPath, Lower(kPrefix)) && !StartsWith(lowerPath, Lower(kGroupFolder)) &&
         !StartsWith(lowerPath, Lower(kTemp));
}

std::map<std::string, DWORD> OutsideSnapshot() {
  std::map<std::string, DWORD> snapshot;
  for (const std::string &path : SimListTree("C:\\"))
    if (Outside(Lower(path))) snapshot[path] = SimFileAttributes(path);
  return snapshot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  fuzz::Bytes in(data, size);
  SimReset();
  unsigned flags = in.Next();
  SimSetPlatformId((flags & 1) ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT);
  SimSetProgramsFolder(kPrograms);
  AddOutside();
  std::vector<Entry> entries = AddProgramDirectory(in, flags & 2);
  const std::string list = ExpandList(in.Rest(), entries);
  SimAddFile(kList, list);
  const std::map<std::string, DWORD> outsideBefore = OutsideSnapshot();

  SimQueueAnswer(IDYES);
  SimClearCalls();
  unsigned exitCode = 1;
  try {
    exitCode = (unsigned)UninstallerMain(SimInstance(), nullptr, "", SW_SHOWDEFAULT);
  } catch (const SimProcessExit &exit) {
    exitCode = exit.code;
  }
  const std::vector<std::string> calls = SimCalls();

  FUZZ_CHECK(exitCode == 0, "exit code " + std::to_string(exitCode));
  FUZZ_CHECK(SimMessageBoxes().size() == 1 && SimMessageBoxes()[0].text == TEXT_CONFIRM_UNINSTALL,
             "only the confirmation is shown");
  fuzz::CheckSimulationClean("after the uninstallation");

  const Listing listing = ReadListing(list);
  std::set<std::string> listedFiles, listedDirectories;
  for (const std::string &entry : listing.names) {
    bool directoryOnly = false;
    std::string resolved = Resolve(kPrefix + entry, &directoryOnly);
    if (resolved.empty()) continue;
    listedDirectories.insert(resolved);
    if (!directoryOnly) listedFiles.insert(resolved);
  }

  // Nothing outside the program directory is deleted, but for the group
  // folder; inside it, only what the list names, and the list itself.
  for (const SimDeletion &deletion : SimDeletions()) {
    std::string path = Lower(deletion.path);
    if (StartsWith(path, Lower(kGroupFolder))) continue;
    FUZZ_CHECK(StartsWith(path, Lower(kPrefix)), "deleted outside: " + deletion.path);
    const std::set<std::string> &listed = deletion.directory ? listedDirectories : listedFiles;
    FUZZ_CHECK(path == Lower(kList) || listed.count(path),
               "deleted without being listed as such: " + deletion.path);
  }
  FUZZ_CHECK(OutsideSnapshot() == outsideBefore,
             "an entry outside the program directory was deleted or changed");

  // The passes end, at most one more than there are entries.
  long rewinds = std::count(calls.begin(), calls.end(), std::string("RewindStream"));
  FUZZ_CHECK(rewinds + 1 <= listing.entries + 1,
             std::to_string(rewinds + 1) + " passes for " + std::to_string(listing.entries) +
                 " entries");

  // A listed plain file that nobody holds open is gone; so is a listed
  // directory that ended up empty.
  std::set<std::string> inUse;
  for (const Entry &entry : entries)
    if (entry.inUse) inUse.insert(Lower(kPrefix + entry.relative));
  for (const std::string &entry : listing.shortLines) {
    if (!PlainEntry(entry) || kPrefix.size() + entry.size() >= MAX_PATH) continue;
    std::string path = kPrefix + entry;
    if (!SimPathExists(path) || inUse.count(Lower(path))) continue;
    FUZZ_CHECK((SimFileAttributes(path) & FILE_ATTRIBUTE_DIRECTORY) && !SimListTree(path).empty(),
               "listed and deletable, yet still there: " + path);
  }
  return 0;
}
