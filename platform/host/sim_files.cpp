// The file slice: drives, directories and files with their bytes and
// attributes, Windows path rules, junctions, sharing, find handles, the
// current and temporary directories, short names, and the byte streams of
// platform.h, all in memory.
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "platform/host/sim.h"
#include "platform/platform.h"

namespace {

const DWORD ERROR_FILENAME_TOO_LONG = 206;  // ERROR_FILENAME_EXCED_RANGE
const DWORD ERROR_NOT_A_DIRECTORY = 267;    // ERROR_DIRECTORY
const DWORD ERROR_BAD_NAME = 123;           // ERROR_INVALID_NAME
const DWORD OPEN_ALWAYS_ = 4;
const DWORD TRUNCATE_EXISTING_ = 5;
const DWORD DELETE_ACCESS = 0x00010000;
const DWORD SETTABLE_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | 0x100 |
                                  0x1000 | 0x2000;

struct Node;
using NodePtr = std::shared_ptr<Node>;

struct Node {
  std::string name;       // as created; "C:" for a drive's root
  std::string shortName;  // empty when the name is already 8.3
  bool directory = false;
  DWORD attributes = 0;
  std::string bytes;
  std::map<std::string, NodePtr> children;  // keyed by the folded name
  std::string junctionTarget;               // full path, for a junction
  bool inUse = false;
  Node *parent = nullptr;
};

// A full path taken apart: drive letter, components, and whether the text
// ended with a separator.
struct ParsedPath {
  char drive = 'C';
  std::vector<std::string> parts;
  bool trailingSeparator = false;
};

// Where a path leads: the directory that holds (or would hold) the last
// component, and the entry itself when it exists.
struct Located {
  DWORD error = 0;
  Node *parent = nullptr;
  Node *node = nullptr;
  std::string name;
  bool trailingSeparator = false;
  std::string fullPath;  // as GetFullPathNameA would give it
};

enum class HandleKind { Device, File, Find };

struct OpenHandle {
  HandleKind kind = HandleKind::Device;
  NodePtr node;
  DWORD access = 0;
  DWORD share = 0;
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

std::map<char, NodePtr> drives;
std::string currentDirectory;
std::string tempPath;
std::map<uintptr_t, OpenHandle> handles;
uintptr_t nextHandle;
std::set<std::string> refusedPaths;  // folded full paths
std::vector<SimDeletion> deletions;

}  // namespace

// The C runtime's FILE, as the simulation keeps it.
struct FileStream {
  NodePtr node;
  size_t position = 0;
  bool reading = false;
  bool writing = false;
  bool text = false;
};

namespace {

std::set<FileStream *> streams;

// Case folding of the ANSI page (1252), the way names compare on Windows.
unsigned char FoldByte(unsigned char c) {
  if (c >= 'a' && c <= 'z') return (unsigned char)(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return (unsigned char)(c - 0x20);
  if (c == 0x9A || c == 0x9C || c == 0x9E) return (unsigned char)(c - 0x10);
  if (c == 0xFF) return 0x9F;
  return c;
}

std::string Fold(const std::string &text) {
  std::string out = text;
  for (char &c : out) c = (char)FoldByte((unsigned char)c);
  return out;
}

NodePtr NewRoot(char drive) {
  auto root = std::make_shared<Node>();
  root->name = std::string(1, drive) + ":";
  root->directory = true;
  root->attributes = FILE_ATTRIBUTE_DIRECTORY;
  return root;
}

std::string PathOf(const Node *node) {
  if (!node->parent) return node->name + "\\";
  std::string parent = PathOf(node->parent);
  if (parent.back() != '\\') parent += '\\';
  return parent + node->name;
}

// Trailing dots and blanks go from the last component; a single trailing
// dot goes from the others, as the system's own path normalisation does.
std::string TrimComponent(const std::string &part, bool last) {
  std::string out = part;
  if (last) {
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  } else if (out.size() >= 2 && out.back() == '.' && out[out.size() - 2] != '.') {
    out.pop_back();
  }
  return out;
}

bool ParseAgainst(const std::string &text, const std::string &base, ParsedPath &out);

// Resolves `text` to a full path against the current directory.
bool Parse(const std::string &text, ParsedPath &out) {
  return ParseAgainst(text, currentDirectory, out);
}

bool ParseAgainst(const std::string &text, const std::string &base, ParsedPath &out) {
  std::string path = text;
  for (char &c : path)
    if (c == '/') c = '\\';
  if (path.empty() || path.compare(0, 2, "\\\\") == 0) return false;
  std::string rest;
  out = ParsedPath();
  bool fromBase = false;
  char baseDrive = base.empty() ? 'C' : (char)FoldByte((unsigned char)base[0]);
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    out.drive = (char)FoldByte((unsigned char)path[0]);
    rest = path.substr(2);
    fromBase = (rest.empty() || rest[0] != '\\') && out.drive == baseDrive;
  } else if (path[0] == '\\') {
    out.drive = baseDrive;
    rest = path;
  } else {
    out.drive = baseDrive;
    rest = path;
    fromBase = true;
  }
  if (fromBase && base.size() > 3) {
    size_t start = 3;
    while (start < base.size()) {
      size_t end = base.find('\\', start);
      if (end == std::string::npos) end = base.size();
      if (end > start) out.parts.push_back(base.substr(start, end - start));
      start = end + 1;
    }
  }
  out.trailingSeparator = !rest.empty() && rest.back() == '\\';
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    if (end > start) pieces.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string &piece = pieces[i];
    if (piece == ".") continue;
    if (piece == "..") {
      if (!out.parts.empty()) out.parts.pop_back();
      continue;
    }
    bool last = i + 1 == pieces.size() && !out.trailingSeparator;
    std::string trimmed = TrimComponent(piece, last);
    if (!trimmed.empty()) out.parts.push_back(trimmed);
  }
  return true;
}

std::string Join(const ParsedPath &parsed, bool withTrailing) {
  std::string out = std::string(1, parsed.drive) + ":\\";
  for (size_t i = 0; i < parsed.parts.size(); ++i) {
    if (i) out += '\\';
    out += parsed.parts[i];
  }
  if (withTrailing && parsed.trailingSeparator && !parsed.parts.empty()) out += '\\';
  return out;
}

Node *FindChild(Node *dir, const std::string &name) {
  std::string folded = Fold(name);
  auto found = dir->children.find(folded);
  if (found != dir->children.end()) return found->second.get();
  // Short names name the same entries.
  for (auto &child : dir->children)
    if (!child.second->shortName.empty() && child.second->shortName == folded)
      return child.second.get();
  return nullptr;
}

Node *Walk(const ParsedPath &parsed, size_t count, DWORD &error, int depth);

// The directory whose entries a directory shows: a junction's target.
Node *Contents(Node *dir, DWORD &error, int depth) {
  if (!dir->directory) {
    error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  if (dir->junctionTarget.empty()) return dir;
  if (depth > 31) {
    error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  ParsedPath target;
  if (!ParseAgainst(dir->junctionTarget, "C:\\", target)) {
    error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  Node *node = Walk(target, target.parts.size(), error, depth + 1);
  if (!node) {
    error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  return Contents(node, error, depth + 1);
}

// The entry named by the first `count` components, following junctions on
// the way (not at the last component itself).
Node *Walk(const ParsedPath &parsed, size_t count, DWORD &error, int depth) {
  auto drive = drives.find(parsed.drive);
  if (drive == drives.end()) {
    error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  Node *node = drive->second.get();
  for (size_t i = 0; i < count; ++i) {
    Node *dir = Contents(node, error, depth);
    if (!dir) return nullptr;
    node = FindChild(dir, parsed.parts[i]);
    if (!node) {
      error = i + 1 == count ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
  }
  return node;
}

Located Locate(const char *path) {
  Located where;
  ParsedPath parsed;
  if (!path || !Parse(path, parsed)) {
    where.error = path && *path ? ERROR_BAD_NAME : ERROR_PATH_NOT_FOUND;
    return where;
  }
  where.fullPath = Join(parsed, true);
  where.trailingSeparator = parsed.trailingSeparator;
  if (strlen(path) >= MAX_PATH || where.fullPath.size() >= MAX_PATH) {
    where.error = ERROR_FILENAME_TOO_LONG;
    return where;
  }
  if (parsed.parts.empty()) {
    DWORD error = 0;
    where.node = Walk(parsed, 0, error, 0);
    where.error = where.node ? 0 : ERROR_PATH_NOT_FOUND;
    return where;
  }
  DWORD error = 0;
  Node *holder = Walk(parsed, parsed.parts.size() - 1, error, 0);
  Node *dir = holder ? Contents(holder, error, 0) : nullptr;
  if (!dir) {
    where.error = ERROR_PATH_NOT_FOUND;
    return where;
  }
  where.parent = dir;
  where.name = parsed.parts.back();
  where.node = FindChild(dir, where.name);
  // A separator at the end names a directory: a file there is not found
  // under that name, so nothing opens, changes or deletes it.
  if (where.trailingSeparator && where.node && !where.node->directory) {
    where.node = nullptr;
    where.error = ERROR_BAD_NAME;
  }
  return where;
}

bool IsEightDotThree(const std::string &name) {
  size_t dot = name.find('.');
  if (dot != name.rfind('.') || dot == 0) return false;
  std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  for (unsigned char c : name)
    if (c <= 0x20 || c >= 0x7F || strchr("\"*+,/:;<=>?[\\]|", c)) return false;
  return true;
}

// Windows' pattern: the first six usable characters, "~" and a number that
// is free in the directory, and the first three of the last extension.
std::string MakeShortName(Node *dir, const std::string &name) {
  if (IsEightDotThree(name)) return "";
  size_t lastDot = name.rfind('.');
  std::string base, ext;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = (unsigned char)name[i];
    bool inExt = lastDot != std::string::npos && lastDot > 0 && i > lastDot;
    if (c == ' ' || c == '.') continue;
    char kept = (char)FoldByte(c);
    if (strchr("+,;=[]", c)) kept = '_';
    if (c >= 0x80 && !SimOemCarries(c)) kept = '_';
    if (inExt) {
      if (ext.size() < 3) ext += kept;
    } else if (lastDot == std::string::npos || i < lastDot) {
      base += kept;
    }
  }
  if (base.empty()) base = "_";
  for (int n = 1; n < 1000000; ++n) {
    std::string number = "~" + std::to_string(n);
    std::string candidate = base.substr(0, 8 - number.size()) + number;
    if (!ext.empty()) candidate += "." + ext;
    bool taken = dir->children.count(candidate) > 0;
    for (auto &child : dir->children)
      if (child.second->shortName == candidate) taken = true;
    if (!taken) return candidate;
  }
  return "";
}

Node *AddChild(Node *dir, const std::string &name, bool directory, DWORD attributes) {
  auto node = std::make_shared<Node>();
  node->name = name;
  node->shortName = MakeShortName(dir, name);
  node->directory = directory;
  node->attributes = attributes | (directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
  node->parent = dir;
  dir->children[Fold(name)] = node;
  return node.get();
}

NodePtr SharedOf(Node *node) {
  if (!node || !node->parent) return nullptr;
  return node->parent->children[Fold(node->name)];
}

void RemoveNode(Node *node) {
  deletions.push_back({node->directory, PathOf(node)});
  node->parent->children.erase(Fold(node->name));
}

bool IsRefused(const std::string &fullPath, Node *parent, const std::string &name) {
  std::vector<std::string> candidates = {Fold(fullPath)};
  if (parent) {
    std::string real = PathOf(parent);
    if (real.back() != '\\') real += '\\';
    candidates.push_back(Fold(real + name));
  }
  for (const std::string &candidate : candidates)
    for (const std::string &refused : refusedPaths)
      if (candidate == refused ||
          (candidate.size() > refused.size() && candidate.compare(0, refused.size(), refused) == 0 &&
           candidate[refused.size()] == '\\'))
        return true;
  return false;
}

// Whether an open with this access and sharing can live beside every open
// the node already has (handles, streams, and another process's hold).
bool SharingAllows(Node *node, DWORD access, DWORD share) {
  auto conflicts = [&](DWORD otherAccess, DWORD otherShare) {
    bool read = access & GENERIC_READ, write = access & GENERIC_WRITE,
         del = access & DELETE_ACCESS;
    bool otherRead = otherAccess & GENERIC_READ, otherWrite = otherAccess & GENERIC_WRITE;
    if (read && !(otherShare & FILE_SHARE_READ)) return true;
    if (write && !(otherShare & FILE_SHARE_WRITE)) return true;
    if (del && !(otherShare & FILE_SHARE_DELETE)) return true;
    if (otherRead && !(share & FILE_SHARE_READ)) return true;
    if (otherWrite && !(share & FILE_SHARE_WRITE)) return true;
    return false;
  };
  if (node->inUse && conflicts(GENERIC_READ, FILE_SHARE_READ)) return false;
  for (auto &entry : handles)
    if (entry.second.kind == HandleKind::File && entry.second.node.get() == node &&
        conflicts(entry.second.access, entry.second.share))
      return false;
  for (FileStream *stream : streams)
    if (stream->node.get() == node &&
        conflicts(stream->reading ? GENERIC_READ : GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE))
      return false;
  return true;
}

OpenHandle MakeHandle(HandleKind kind, NodePtr node, DWORD access, DWORD share) {
  OpenHandle entry;
  entry.kind = kind;
  entry.node = std::move(node);
  entry.access = access;
  entry.share = share;
  return entry;
}

HANDLE NewHandle(OpenHandle entry) {
  uintptr_t value = nextHandle;
  nextHandle += 4;
  handles.emplace(value, std::move(entry));
  return (HANDLE)value;
}

bool Matches(const char *pattern, const char *name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char *rest = name;; ++rest) {
      if (Matches(pattern + 1, rest)) return true;
      if (*rest == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  if (*pattern != '?' && FoldByte((unsigned char)*pattern) != FoldByte((unsigned char)*name))
    return false;
  return Matches(pattern + 1, name + 1);
}

bool MatchesPattern(const std::string &pattern, const std::string &name) {
  if (pattern == "*.*" || pattern == "*") return true;
  return Matches(pattern.c_str(), name.c_str());
}

WIN32_FIND_DATAA FindEntry(const std::string &name, const Node *node) {
  WIN32_FIND_DATAA data;
  memset(&data, 0, sizeof data);
  data.dwFileAttributes = node->attributes ? node->attributes : FILE_ATTRIBUTE_NORMAL;
  data.nFileSizeLow = (DWORD)node->bytes.size();
  size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  memcpy(data.cFileName, name.data(), length);
  if (&name == &node->name && !node->shortName.empty())
    memcpy(data.cAlternateFileName, node->shortName.c_str(), node->shortName.size() + 1);
  return data;
}

// Answers a text query the Windows way: the length when it fits, else the
// size needed with the terminator, leaving the buffer alone.
DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size) {
  if (text.size() + 1 > size || !buffer) return (DWORD)text.size() + 1;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return (DWORD)text.size();
}

Node *RequireDirectory(const std::string &path) {
  Located where = Locate(path.c_str());
  DWORD error = 0;
  Node *dir = where.node ? Contents(where.node, error, 0) : nullptr;
  if (!dir) throw std::runtime_error("no directory " + path);
  return dir;
}

Node *EnsureDirectory(const std::string &path, DWORD attributes) {
  ParsedPath parsed;
  if (!Parse(path, parsed)) throw std::runtime_error("bad path " + path);
  auto &root = drives[parsed.drive];
  if (!root) root = NewRoot(parsed.drive);
  Node *node = root.get();
  for (const std::string &part : parsed.parts) {
    DWORD error = 0;
    Node *dir = Contents(node, error, 0);
    if (!dir) throw std::runtime_error("not a directory on the way to " + path);
    node = FindChild(dir, part);
    if (!node) node = AddChild(dir, part, true, 0);
  }
  if (!node->directory) throw std::runtime_error("a file stands at " + path);
  node->attributes |= attributes;
  return node;
}

Located LocateForHelper(const std::string &path) {
  Located where = Locate(path.c_str());
  if (where.error && where.error != ERROR_FILE_NOT_FOUND)
    throw std::runtime_error("cannot reach " + path);
  return where;
}

std::string Parent(const ParsedPath &parsed) {
  ParsedPath up = parsed;
  up.parts.pop_back();
  up.trailingSeparator = false;
  return Join(up, false);
}

}  // namespace

// --- Control ---------------------------------------------------------------

void SimResetFiles() {
  for (FileStream *stream : streams) delete stream;
  streams.clear();
  handles.clear();
  nextHandle = 0x1000;
  drives.clear();
  drives['C'] = NewRoot('C');
  currentDirectory = "C:\\";
  tempPath = "C:\\WINDOWS\\TEMP\\";
  EnsureDirectory(tempPath, 0);
  refusedPaths.clear();
  deletions.clear();
}

int SimOpenFileHandles() { return (int)(handles.size() + streams.size()); }
std::string SimCurrentDirectory() { return currentDirectory; }

void SimSetCurrentDirectory(const std::string &path) {
  RequireDirectory(path);
  ParsedPath parsed;
  Parse(path, parsed);
  currentDirectory = Join(parsed, false);
}

void SimAddDirectory(const std::string &path, DWORD attributes) {
  EnsureDirectory(path, attributes & ~FILE_ATTRIBUTE_DIRECTORY);
}

void SimAddFile(const std::string &path, const std::string &bytes, DWORD attributes) {
  ParsedPath parsed;
  if (!Parse(path, parsed) || parsed.parts.empty()) throw std::runtime_error("bad path " + path);
  Node *holder = EnsureDirectory(Parent(parsed), 0);
  DWORD error = 0;
  Node *dir = Contents(holder, error, 0);
  if (!dir) throw std::runtime_error("no directory for " + path);
  Node *node = FindChild(dir, parsed.parts.back());
  if (node && node->directory) throw std::runtime_error("a directory stands at " + path);
  if (!node) node = AddChild(dir, parsed.parts.back(), false, 0);
  node->bytes = bytes;
  node->attributes = attributes & ~(DWORD)FILE_ATTRIBUTE_DIRECTORY;
}

void SimMakeJunction(const std::string &path, const std::string &target) {
  ParsedPath parsed, targetParsed;
  if (!Parse(path, parsed) || parsed.parts.empty() || !Parse(target, targetParsed))
    throw std::runtime_error("bad junction " + path);
  Node *holder = EnsureDirectory(Parent(parsed), 0);
  DWORD error = 0;
  Node *dir = Contents(holder, error, 0);
  if (!dir || FindChild(dir, parsed.parts.back()))
    throw std::runtime_error("cannot make a junction at " + path);
  Node *node = AddChild(dir, parsed.parts.back(), true, FILE_ATTRIBUTE_REPARSE_POINT);
  node->junctionTarget = Join(targetParsed, false);
}

void SimRemoveTree(const std::string &path) {
  Located where = Locate(path.c_str());
  if (where.error != 0 || !where.node || !where.node->parent)
    throw std::runtime_error("nothing to remove at " + path);
  where.node->parent->children.erase(Fold(where.node->name));
}

bool SimPathExists(const std::string &path) {
  Located where = Locate(path.c_str());
  return where.error == 0 && where.node;
}

DWORD SimFileAttributes(const std::string &path) {
  Located where = Locate(path.c_str());
  if (where.error || !where.node) return INVALID_FILE_ATTRIBUTES;
  return where.node->attributes ? where.node->attributes : FILE_ATTRIBUTE_NORMAL;
}

std::string SimReadFile(const std::string &path) {
  Located where = Locate(path.c_str());
  if (where.error || !where.node || where.node->directory)
    throw std::runtime_error("no file " + path);
  return where.node->bytes;
}

std::vector<std::string> SimListTree(const std::string &path) {
  std::vector<std::string> out;
  Node *dir = RequireDirectory(path);
  std::function<void(Node *)> visit = [&](Node *node) {
    for (auto &child : node->children) {
      Node *entry = child.second.get();
      out.push_back(PathOf(entry) + (entry->directory ? "\\" : ""));
      if (entry->directory && entry->junctionTarget.empty()) visit(entry);
    }
  };
  visit(dir);
  return out;
}

void SimSetInUse(const std::string &path, bool inUse) {
  Located where = LocateForHelper(path);
  if (!where.node) throw std::runtime_error("nothing at " + path);
  where.node->inUse = inUse;
}

void SimRefuseCreation(const std::string &path) {
  ParsedPath parsed;
  if (!Parse(path, parsed)) throw std::runtime_error("bad path " + path);
  refusedPaths.insert(Fold(Join(parsed, false)));
}

void SimSetTempPath(const std::string &path) {
  tempPath = path;
  if (tempPath.empty() || tempPath.back() != '\\') tempPath += '\\';
}

void SimSetShortName(const std::string &path, const std::string &shortName) {
  Located where = LocateForHelper(path);
  if (!where.node) throw std::runtime_error("nothing at " + path);
  where.node->shortName = Fold(shortName);
}

const std::vector<SimDeletion> &SimDeletions() { return deletions; }

// --- Paths and directories ---------------------------------------------------

DWORD GetFileAttributesA(LPCSTR path) {
  if (SimEnterCall("GetFileAttributesA")) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE_ATTRIBUTES;
  }
  Located where = Locate(path);
  if (where.error || !where.node) {
    SimSetLastError(where.error ? where.error : ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return where.node->attributes ? where.node->attributes : FILE_ATTRIBUTE_NORMAL;
}

// 0 and FILE_ATTRIBUTE_NORMAL clear what can be cleared; the directory and
// reparse bits are the entry's nature and stay.
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (SimEnterCall("SetFileAttributesA")) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  Located where = Locate(path);
  if (where.error || !where.node) {
    SimSetLastError(where.error ? where.error : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  Node *node = where.node;
  node->attributes = (node->attributes & ~SETTABLE_ATTRIBUTES) | (attributes & SETTABLE_ATTRIBUTES);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  if (SimEnterCall("DeleteFileA")) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  Located where = Locate(path);
  if (where.error || !where.node) {
    SimSetLastError(where.error ? where.error : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  Node *node = where.node;
  if (node->directory || (node->attributes & FILE_ATTRIBUTE_READONLY)) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!SharingAllows(node, DELETE_ACCESS, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    SimSetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  RemoveNode(node);
  return TRUE;
}

// A junction is removed as a link, whatever its target holds.
BOOL RemoveDirectoryA(LPCSTR path) {
  if (SimEnterCall("RemoveDirectoryA")) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  Located where = Locate(path);
  if (where.error || !where.node) {
    SimSetLastError(where.error ? where.error : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  Node *node = where.node;
  if (!node->directory) {
    SimSetLastError(ERROR_NOT_A_DIRECTORY);
    return FALSE;
  }
  if (!node->parent || (node->attributes & FILE_ATTRIBUTE_READONLY)) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (node->junctionTarget.empty() && !node->children.empty()) {
    SimSetLastError(ERROR_DIR_NOT_EMPTY);
    return FALSE;
  }
  // The process's current directory is held open by the system.
  Located current = Locate(currentDirectory.c_str());
  DWORD error = 0;
  Node *currentDir = current.node ? Contents(current.node, error, 0) : nullptr;
  if (node->inUse || current.node == node || currentDir == node) {
    SimSetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  RemoveNode(node);
  return TRUE;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
  if (SimEnterCall("SetCurrentDirectoryA")) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  Located where = Locate(path);
  if (where.error || !where.node) {
    SimSetLastError(where.error ? where.error : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  DWORD error = 0;
  if (!where.node->directory || !Contents(where.node, error, 0)) {
    SimSetLastError(where.node->directory ? ERROR_PATH_NOT_FOUND : ERROR_NOT_A_DIRECTORY);
    return FALSE;
  }
  ParsedPath parsed;
  Parse(path, parsed);
  currentDirectory = Join(parsed, false);
  return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  if (SimEnterCall("GetCurrentDirectoryA")) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return CopyOut(currentDirectory, buffer, size);
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  if (SimEnterCall("GetTempPathA")) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return CopyOut(tempPath, buffer, size);
}

// Always answers the full form, each component by its short name where it
// has one. The path must exist, as on Windows.
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  if (SimEnterCall("GetShortPathNameA") || !longPath) {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ParsedPath parsed;
  if (!Parse(longPath, parsed)) {
    SimSetLastError(ERROR_BAD_NAME);
    return 0;
  }
  DWORD error = 0;
  Node *node = Walk(parsed, 0, error, 0);
  std::string out = std::string(1, parsed.drive) + ":";
  for (size_t i = 0; node && i < parsed.parts.size(); ++i) {
    Node *dir = Contents(node, error, 0);
    node = dir ? FindChild(dir, parsed.parts[i]) : nullptr;
    if (node) out += "\\" + (node->shortName.empty() ? node->name : node->shortName);
  }
  if (!node) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (parsed.parts.empty() || parsed.trailingSeparator) out += "\\";
  return CopyOut(out, shortPath, size);
}

DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR *filePart) {
  if (SimEnterCall("GetFullPathNameA") || !path) {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ParsedPath parsed;
  if (!Parse(path, parsed)) {
    SimSetLastError(ERROR_BAD_NAME);
    return 0;
  }
  std::string full = Join(parsed, true);
  DWORD result = CopyOut(full, buffer, size);
  if (filePart && result < size) {
    char *slash = strrchr(buffer, '\\');
    *filePart = slash && slash[1] ? slash + 1 : nullptr;
  }
  return result;
}

// --- Find --------------------------------------------------------------------

// A snapshot of the matching entries, "." and ".." first outside a root,
// then the rest in the case-insensitive order of their names.
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  if (SimEnterCall("FindFirstFileA") || !pattern || !data) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  std::string text = pattern;
  for (char &c : text)
    if (c == '/') c = '\\';
  size_t slash = text.rfind('\\');
  std::string dirPart = slash == std::string::npos ? "." : text.substr(0, slash + 1);
  std::string namePattern = slash == std::string::npos ? text : text.substr(slash + 1);
  if (text.size() >= 2 && text[1] == ':' && slash == std::string::npos) {
    dirPart = text.substr(0, 2);
    namePattern = text.substr(2);
  }
  Located where = Locate(dirPart.c_str());
  DWORD error = 0;
  Node *dir = where.error == 0 && where.node ? Contents(where.node, error, 0) : nullptr;
  if (text.size() >= MAX_PATH || !dir) {
    SimSetLastError(text.size() >= MAX_PATH ? ERROR_FILENAME_TOO_LONG : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  OpenHandle entry = MakeHandle(HandleKind::Find, nullptr, 0, 0);
  if (dir->parent) {
    for (const char *dots : {".", ".."})
      if (MatchesPattern(namePattern, dots)) {
        WIN32_FIND_DATAA found = FindEntry(dots, dir);
        found.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        found.nFileSizeLow = 0;
        entry.entries.push_back(found);
      }
  }
  for (auto &child : dir->children)
    if (MatchesPattern(namePattern, child.second->name))
      entry.entries.push_back(FindEntry(child.second->name, child.second.get()));
  if (entry.entries.empty() || namePattern.empty()) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *data = entry.entries[0];
  entry.next = 1;
  return NewHandle(std::move(entry));
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
  if (SimEnterCall("FindNextFileA")) {
    SimSetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  auto found = handles.find((uintptr_t)find);
  if (found == handles.end() || found->second.kind != HandleKind::Find) {
    SimReportProblem("FindNextFileA with a handle that is not an open search");
    SimSetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  OpenHandle &search = found->second;
  if (search.next >= search.entries.size()) {
    SimSetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = search.entries[search.next++];
  return TRUE;
}

// An injected failure changes only the answer: the handle is gone all the
// same, as it is when the system reports an error on closing.
BOOL FindClose(HANDLE find) {
  bool fail = SimEnterCall("FindClose");
  auto found = handles.find((uintptr_t)find);
  if (found == handles.end() || found->second.kind != HandleKind::Find) {
    SimReportProblem("FindClose with a handle that is not an open search");
    SimSetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  handles.erase(found);
  return fail ? FALSE : TRUE;
}

// --- Handles -----------------------------------------------------------------

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD creation,
                   DWORD flags, HANDLE) {
  if (SimEnterCall("CreateFileA") || !path) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (Fold(path) == "NUL" || Fold(path) == "\\\\.\\NUL")
    return NewHandle(MakeHandle(HandleKind::Device, nullptr, access, share));
  Located where = Locate(path);
  if (where.error) {
    SimSetLastError(where.error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : where.error);
    return INVALID_HANDLE_VALUE;
  }
  Node *node = where.node;
  bool creates = !node && (creation == CREATE_NEW || creation == CREATE_ALWAYS ||
                           creation == OPEN_ALWAYS_);
  // Nor is a file made under a name that ends with a separator.
  if (!node && creates && where.trailingSeparator) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool truncates = node && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING_);
  if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING_) {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (!node && !creates) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (node && creation == CREATE_NEW) {
    SimSetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  bool writes = (access & GENERIC_WRITE) || truncates;
  if ((node && node->directory) || (node && writes && (node->attributes & FILE_ATTRIBUTE_READONLY)) ||
      ((creates || writes) && IsRefused(where.fullPath, where.parent, where.name))) {
    SimSetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (node && !SharingAllows(node, access, share)) {
    SimSetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (creates) {
    DWORD attributes = (flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM)) | FILE_ATTRIBUTE_ARCHIVE;
    node = AddChild(where.parent, where.name, false, attributes);
    SimSetLastError(0);
  } else {
    if (truncates) node->bytes.clear();
    SimSetLastError(creation == CREATE_ALWAYS || creation == OPEN_ALWAYS_ ? ERROR_ALREADY_EXISTS
                                                                         : 0);
  }
  return NewHandle(MakeHandle(HandleKind::File, SharedOf(node), access, share));
}

BOOL CloseHandle(HANDLE handle) {
  bool fail = SimEnterCall("CloseHandle");
  auto found = handles.find((uintptr_t)handle);
  if (found == handles.end() || found->second.kind == HandleKind::Find) {
    SimReportProblem("CloseHandle with a handle that CreateFileA did not return");
    SimSetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  handles.erase(found);
  return fail ? FALSE : TRUE;
}

// --- Streams -----------------------------------------------------------------

// "r" and "w" translate line ends like the C runtime's text mode (CR LF
// read as LF, LF written as CR LF, 0x1A read as the end); "b" keeps bytes.
FileStream *OpenStream(const char *path, const char *mode) {
  if (SimEnterCall("OpenStream") || !path || !mode) return nullptr;
  bool reading = mode[0] == 'r', writing = mode[0] == 'w';
  if (!reading && !writing) {
    SimReportProblem(std::string("OpenStream with an unknown mode ") + mode);
    return nullptr;
  }
  bool text = strchr(mode, 'b') == nullptr;
  Located where = Locate(path);
  if (where.error) return nullptr;
  Node *node = where.node;
  if (reading) {
    if (!node || node->directory || !SharingAllows(node, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE))
      return nullptr;
  } else {
    if (node && (node->directory || (node->attributes & FILE_ATTRIBUTE_READONLY))) return nullptr;
    if (IsRefused(where.fullPath, where.parent, where.name)) return nullptr;
    if (node && !SharingAllows(node, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE))
      return nullptr;
    if (!node && where.trailingSeparator) return nullptr;
    if (!node) node = AddChild(where.parent, where.name, false, FILE_ATTRIBUTE_ARCHIVE);
    node->bytes.clear();
  }
  FileStream *stream = new FileStream;
  stream->node = SharedOf(node);
  stream->reading = reading;
  stream->writing = writing;
  stream->text = text;
  streams.insert(stream);
  return stream;
}

char *ReadStreamLine(char *dest, int size, FileStream *stream) {
  if (SimEnterCall("ReadStreamLine")) return nullptr;
  if (!streams.count(stream)) {
    SimReportProblem("ReadStreamLine on a stream that is not open");
    return nullptr;
  }
  if (!stream->reading || size <= 0) return nullptr;
  const std::string &bytes = stream->node->bytes;
  int count = 0;
  while (count < size - 1 && stream->position < bytes.size()) {
    char c = bytes[stream->position];
    if (stream->text && c == '\x1A') break;
    ++stream->position;
    if (stream->text && c == '\r' && stream->position < bytes.size() &&
        bytes[stream->position] == '\n') {
      c = '\n';
      ++stream->position;
    }
    dest[count++] = c;
    if (c == '\n') break;
  }
  if (count == 0 && size > 1) return nullptr;
  dest[count] = '\0';
  return dest;
}

size_t WriteStream(const void *data, size_t size, FileStream *stream) {
  if (SimEnterCall("WriteStream")) return 0;
  if (!streams.count(stream)) {
    SimReportProblem("WriteStream on a stream that is not open");
    return 0;
  }
  if (!stream->writing) return 0;
  const char *bytes = (const char *)data;
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    if (stream->text && bytes[i] == '\n') out += '\r';
    out += bytes[i];
  }
  std::string &file = stream->node->bytes;
  if (file.size() < stream->position + out.size()) file.resize(stream->position + out.size());
  file.replace(stream->position, out.size(), out);
  stream->position += out.size();
  return size;
}

// An injected failure leaves the position where it was.
void RewindStream(FileStream *stream) {
  if (SimEnterCall("RewindStream")) return;
  if (!streams.count(stream)) {
    SimReportProblem("RewindStream on a stream that is not open");
    return;
  }
  stream->position = 0;
}

void CloseStream(FileStream *stream) {
  SimEnterCall("CloseStream");
  if (!streams.erase(stream)) {
    SimReportProblem("CloseStream on a stream that is not open");
    return;
  }
  delete stream;
}
