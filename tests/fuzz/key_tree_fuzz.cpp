// Random registry trees into the key tree operations, on both platform
// families: an erase leaves nothing of the branch that could be deleted and
// touches nothing outside it; a copy equals its source within the limits of
// its buffers; the numbered operations lose no entry's content.
//
// Input: byte 0 selects the platform family (bit 0), the settings root
// (bit 1) and the operation (bits 2-3); byte 1 the number of keys; then per
// key four bytes (parent and name; values; faults; value shape); the
// numbered operations read two more bytes (entry count, number/position).
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "settings/keytree.h"
#include "settings/settings.h"

using fuzz::Lower;
using fuzz::StartsWith;

namespace {

const std::string kBranch = "Software\\Zelk\\B";  // erased, and copied from
const std::string kTarget = "Software\\Zelk\\T";  // copied onto

enum Fault { REFUSE_DELETE = 1, REFUSE_OPEN = 2, REFUSE_CREATE = 4 };

struct Node {
  std::string name;
  int parent;  // -1: the branch itself
  unsigned faults;
  std::string relative;  // below the branch, empty for the branch
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

std::string KeyName(unsigned selector) {
  static const std::vector<std::string> names = {
      "a", "B", "c", "Dd", "e", "f", "Gg", "h", Repeat('k', 199), Repeat('m', 200), Repeat('n', 150),
      "A"};
  return names[selector % names.size()];
}

std::string ValueName(unsigned selector) {
  static const std::vector<std::string> names = {"", "v", "W", "x", Repeat('q', 199),
                                                 Repeat('r', 200), "y", "Z"};
  return names[selector % names.size()];
}

size_t DataSize(unsigned selector) {
  static const size_t sizes[] = {0, 1, 4, 7, 999, 1000, 1001, 3};
  return sizes[selector % 8];
}

// One value as a short line: long names and data by their size and hash.
std::string ValueLine(const std::string &name, DWORD type, const std::vector<BYTE> &data) {
  unsigned long hash = 2166136261u;
  for (BYTE b : data) hash = (hash ^ b) * 16777619u % 4294967296u;
  std::string shown = name.size() > 12 ? name.substr(0, 4) + "~" + std::to_string(name.size()) : name;
  return "[" + shown + "|" + std::to_string(std::hash<std::string>()(name) % 100000) + "]" +
         std::to_string(type) + ":" + std::to_string(data.size()) + ":" + std::to_string(hash) +
         "\n";
}

// Every key of a root below `path` (itself included), as its path relative
// to `path`, with its values in enumeration order.
void Flatten(HKEY root, const std::string &path, const std::string &relative,
             std::map<std::string, std::string> *out) {
  std::string values;
  for (const std::string &name : SimRegistryValues(root, path)) {
    DWORD type = 0;
    std::vector<BYTE> data;
    SimRegistryGetValue(root, path, name, &type, &data);
    values += ValueLine(name, type, data);
  }
  (*out)[relative] = values;
  for (const std::string &subkey : SimRegistrySubkeys(root, path))
    Flatten(root, path.empty() ? subkey : path + "\\" + subkey,
            relative.empty() ? subkey : relative + "\\" + subkey, out);
}

std::map<std::string, std::string> Everything() {
  std::map<std::string, std::string> all, user, machine;
  Flatten(HKEY_CURRENT_USER, "", "", &user);
  Flatten(HKEY_LOCAL_MACHINE, "", "", &machine);
  for (auto &key : user) all["HKCU\\" + key.first] = key.second;
  for (auto &key : machine) all["HKLM\\" + key.first] = key.second;
  return all;
}

std::string RootName(HKEY root) { return root == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\"; }

bool Below(const std::string &path, const std::string &branch) {
  return Lower(path) == Lower(branch) || StartsWith(Lower(path), Lower(branch) + "\\");
}

// Keys outside `branch` exactly as before.
void CheckOutsideUnchanged(const std::map<std::string, std::string> &before,
                           const std::map<std::string, std::string> &after,
                           const std::vector<std::string> &branches) {
  auto inside = [&branches](const std::string &path) {
    for (const std::string &branch : branches)
      if (Below(path, branch)) return true;
    return false;
  };
  for (auto &key : before)
    if (!inside(key.first)) {
      auto found = after.find(key.first);
      FUZZ_CHECK(found != after.end() && found->second == key.second,
                 "touched outside: " + key.first);
    }
  for (auto &key : after)
    FUZZ_CHECK(inside(key.first) || before.count(key.first), "made outside: " + key.first);
}

void Seed(HKEY root, const std::string &base, const std::vector<Node> &nodes,
          fuzz::Bytes &in, std::vector<unsigned> *valueCounts) {
  SimRegistryPutKey(root, base);
  for (size_t i = 0; i < nodes.size(); i++) {
    std::string path = nodes[i].relative.empty() ? base : base + "\\" + nodes[i].relative;
    SimRegistryPutKey(root, path);
    unsigned count = (*valueCounts)[i];
    for (unsigned v = 0; v < (count & 3); v++) {
      unsigned shape = in.Next();
      std::vector<BYTE> data(DataSize(shape >> 3), (BYTE)('0' + i % 10));
      SimRegistryPutValue(root, path, ValueName(shape + v), (shape & 4) ? REG_BINARY : REG_SZ, data);
    }
  }
}

std::vector<Node> ReadNodes(fuzz::Bytes &in, std::vector<unsigned> *valueCounts) {
  std::vector<Node> nodes;
  nodes.push_back({"", -1, in.Next() & 7, ""});
  valueCounts->push_back(in.Next());
  unsigned count = in.Next() % 14;
  for (unsigned i = 0; i < count; i++) {
    unsigned place = in.Next(), values = in.Next(), faults = in.Next();
    int parent = (place & 7) ? (int)(((place & 7) - 1) % nodes.size()) : 0;
    std::string name = KeyName(place >> 3);
    std::string relative =
        nodes[parent].relative.empty() ? name : nodes[parent].relative + "\\" + name;
    bool taken = false;
    for (const Node &node : nodes) taken = taken || Lower(node.relative) == Lower(relative);
    if (taken) continue;
    nodes.push_back({name, parent, faults & 7, relative});
    valueCounts->push_back(values);
  }
  return nodes;
}

// --- Erase ----------------------------------------------------------------

void FuzzErase(HKEY root, bool windows95, fuzz::Bytes &in) {
  std::vector<unsigned> valueCounts;
  std::vector<Node> nodes = ReadNodes(in, &valueCounts);
  Seed(root, kBranch, nodes, in, &valueCounts);
  SimRegistryPutText(root, "Software\\Zelk\\B2", "Kept", "sibling sharing the prefix");
  SimRegistryPutText(root, "Software\\Zelk", "Group", "ZELK");
  SimRegistryPutText(root == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kBranch,
                     "Kept", "other root");
  for (const Node &node : nodes) {
    std::string path = node.relative.empty() ? kBranch : kBranch + "\\" + node.relative;
    if (node.faults & REFUSE_DELETE) SimRegistryRefuseDelete(root, path);
    if (node.faults & REFUSE_OPEN) SimRegistryRefuseOpen(root, path, KEY_SET_VALUE);
  }
  const auto before = Everything();

  SelectSettingsRoot(root);
  EraseKeyBranch(kBranch.c_str());
  SelectSettingsRoot(HKEY_CURRENT_USER);

  const auto after = Everything();
  CheckOutsideUnchanged(before, after, {RootName(root) + kBranch});
  for (const std::string &deleted : SimRegistryDeletions())
    FUZZ_CHECK(Below(deleted, RootName(root) + kBranch), "deleted outside: " + deleted);

  // Which keys the erase can reach: a key it can open, whose parent it
  // reached, whose path fits, and before which (its own name included) no
  // sibling's name is too long for the enumeration.
  auto covered = [&nodes](size_t i, unsigned fault) {
    for (int at = (int)i; at >= 0; at = nodes[at].parent)
      if (nodes[at].faults & fault) return true;
    return false;
  };
  std::vector<bool> reached(nodes.size(), false);
  for (size_t i = 0; i < nodes.size(); i++) {
    bool visited = true;
    if (nodes[i].parent >= 0) {
      visited = reached[nodes[i].parent] &&
                (kBranch + "\\" + nodes[i].relative).size() < BRANCH_PATH_SIZE;
      for (const Node &sibling : nodes)
        if (sibling.parent == nodes[i].parent && Lower(sibling.name) <= Lower(nodes[i].name) &&
            sibling.name.size() >= KEY_NAME_SIZE)
          visited = false;
    }
    reached[i] = visited && !covered(i, REFUSE_OPEN);
  }
  for (size_t i = 0; i < nodes.size(); i++) {
    std::string path = nodes[i].relative.empty() ? kBranch : kBranch + "\\" + nodes[i].relative;
    if (!SimRegistryKeyExists(root, path)) continue;
    bool refused = covered(i, REFUSE_DELETE);
    if (windows95)  // a refused key below refuses its parents' deletion
      for (size_t j = 0; j < nodes.size(); j++)
        if (covered(j, REFUSE_DELETE) &&
            (i == 0 || Below(nodes[j].relative, nodes[i].relative)))
          refused = true;
    bool keepsSubkeys = !windows95 && !SimRegistrySubkeys(root, path).empty();
    FUZZ_CHECK(!reached[i] || refused || keepsSubkeys, "could have been erased: " + path);
  }
}

// --- Copy -----------------------------------------------------------------

// What the target must hold: for every key the copy reaches, its values up
// to the first whose name or data does not fit, and its subkeys up to the
// first whose name does not fit or whose target cannot be made; a subkey
// whose source cannot be opened arrives empty, one whose path does not fit
// is left out.
void ExpectedCopy(const std::vector<Node> &nodes, size_t index, const std::string &source,
                  const std::string &target, const std::string &relative,
                  std::map<std::string, std::string> *out) {
  HKEY root = HKEY_CURRENT_USER;
  if (nodes[index].faults & REFUSE_OPEN) {
    (*out)[relative] = "";
    return;
  }
  std::string values;
  for (const std::string &name : SimRegistryValues(root, source)) {
    DWORD type = 0;
    std::vector<BYTE> data;
    SimRegistryGetValue(root, source, name, &type, &data);
    if (name.size() >= KEY_NAME_SIZE || data.size() > VALUE_DATA_SIZE) break;
    // The registry stores a text set without its terminator with one (the
    // Windows 95 family even the empty text): the copy gains that byte.
    bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (text && (data.empty() ? SimPlatformId() == VER_PLATFORM_WIN32_WINDOWS : data.back() != 0))
      data.push_back(0);
    values += ValueLine(name, type, data);
  }
  (*out)[relative] = values;
  for (const std::string &subkey : SimRegistrySubkeys(root, source)) {
    if (subkey.size() >= KEY_NAME_SIZE) break;
    std::string from = source + "\\" + subkey, to = target + "\\" + subkey;
    if (from.size() >= BRANCH_PATH_SIZE || to.size() >= BRANCH_PATH_SIZE) continue;
    size_t child = 0;
    for (size_t i = 0; i < nodes.size(); i++)
      if (nodes[i].parent == (int)index && Lower(nodes[i].name) == Lower(subkey)) child = i;
    if (nodes[child].faults & REFUSE_CREATE) break;
    ExpectedCopy(nodes, child, from, to, relative.empty() ? subkey : relative + "\\" + subkey, out);
  }
}

void FuzzCopy(fuzz::Bytes &in) {
  std::vector<unsigned> valueCounts;
  std::vector<Node> nodes = ReadNodes(in, &valueCounts);
  nodes[0].faults &= ~(unsigned)REFUSE_CREATE;  // the target itself can be made
  Seed(HKEY_CURRENT_USER, kBranch, nodes, in, &valueCounts);
  SimRegistryPutText(HKEY_CURRENT_USER, kTarget, "Old", "former value");
  SimRegistryPutText(HKEY_CURRENT_USER, kTarget + "\\Old\\Deeper", "Old", "former subkey");
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Zelk\\T2", "Kept", "sibling");
  for (const Node &node : nodes) {
    std::string tail = node.relative.empty() ? "" : "\\" + node.relative;
    if (node.faults & REFUSE_OPEN) SimRegistryRefuseOpen(HKEY_CURRENT_USER, kBranch + tail, KEY_SET_VALUE);
    if (node.faults & REFUSE_CREATE) SimRegistryRefuseCreate(HKEY_CURRENT_USER, kTarget + tail);
  }
  std::map<std::string, std::string> expected;
  ExpectedCopy(nodes, 0, kBranch, kTarget, "", &expected);
  std::map<std::string, std::string> sourceBefore;
  Flatten(HKEY_CURRENT_USER, kBranch, "", &sourceBefore);
  const auto before = Everything();

  int result = CopyKeyBranch(kBranch.c_str(), kTarget.c_str());

  const auto after = Everything();
  CheckOutsideUnchanged(before, after, {"HKCU\\" + kTarget});
  std::map<std::string, std::string> sourceAfter, copied;
  Flatten(HKEY_CURRENT_USER, kBranch, "", &sourceAfter);
  FUZZ_CHECK(sourceAfter == sourceBefore, "the source changed");
  if (nodes[0].faults & REFUSE_OPEN) {
    FUZZ_CHECK(result == 0, "a source that cannot be opened copied");
    return;  // the target untouched: checked with the outside
  }
  FUZZ_CHECK(result == 1, "the copy failed");
  Flatten(HKEY_CURRENT_USER, kTarget, "", &copied);
  for (auto &key : expected) {
    auto found = copied.find(key.first);
    FUZZ_CHECK(found != copied.end(), "not copied: " + key.first);
    FUZZ_CHECK(found->second == key.second,
               "values differ in [" + key.first + "]:\n" + found->second + "expected:\n" +
                   key.second + "source:\n" + SimRegistryDump(HKEY_CURRENT_USER, kBranch) +
                   "target:\n" + SimRegistryDump(HKEY_CURRENT_USER, kTarget));
  }
  for (auto &key : copied) FUZZ_CHECK(expected.count(key.first), "not in the source: " + key.first);
}

// --- Numbered lists ---------------------------------------------------------

std::string EntryPath(int number) { return "Software\\Zelk\\L" + std::to_string(number); }

// An entry's keys and values, one line each, sorted; empty when missing.
typedef std::vector<std::string> Content;

Content ContentOf(int number) {
  Content lines;
  if (!SimRegistryKeyExists(HKEY_CURRENT_USER, EntryPath(number))) return lines;
  std::map<std::string, std::string> keys;
  Flatten(HKEY_CURRENT_USER, EntryPath(number), "", &keys);
  for (auto &key : keys) {
    lines.push_back("<" + Lower(key.first) + ">");
    size_t start = 0;
    while (start < key.second.size()) {
      size_t end = key.second.find('\n', start);
      lines.push_back("<" + Lower(key.first) + ">" + key.second.substr(start, end - start));
      start = end + 1;
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

void FuzzNumbered(bool remove, fuzz::Bytes &in) {
  unsigned shape = in.Next();
  int contiguous = (int)(shape % 7);
  int extra = (shape & 0x80) ? contiguous + 1 + (int)((shape >> 3) & 3) : -1;
  int lowest = -1, highest = 12;
  bool anyFault = false;
  for (int number = 0; number < highest; number++) {
    if (number >= contiguous && number != extra) continue;
    unsigned content = in.Next();
    std::string path = EntryPath(number);
    SimRegistryPutText(HKEY_CURRENT_USER, path, "Id", "entry " + std::to_string(number));
    if (content & 1) SimRegistryPutNumber(HKEY_CURRENT_USER, path + "\\Sub", "N", number);
    if (content & 2) SimRegistryPutKey(HKEY_CURRENT_USER, path + "\\Empty");
    if (content & 0x10) SimRegistryRefuseOpen(HKEY_CURRENT_USER, path, KEY_SET_VALUE);
    if (content & 0x20) SimRegistryRefuseDelete(HKEY_CURRENT_USER, path + "\\Sub");
    anyFault = anyFault || (content & 0x30);
  }
  unsigned choice = in.Next();
  if (choice & 0x80) {
    SimRegistryRefuseCreate(HKEY_CURRENT_USER, EntryPath((int)(choice >> 4) & 7));
    anyFault = true;
  }
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Zelk\\List", "Kept", "not an entry");
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Zelk", "Group", "ZELK");

  std::vector<Content> before;
  for (int number = lowest; number <= highest; number++) before.push_back(ContentOf(number));
  const auto everythingBefore = Everything();

  int argument;
  if (remove) {
    argument = (int)(choice & 15) % 13 - 1;  // -1 to 11
    RemoveNumberedKey("L%d", argument);
  } else {
    argument = contiguous ? (int)(choice & 15) % (contiguous + 1) : 0;
    OpenNumberedSlot("L%d", argument, contiguous);
  }

  std::vector<Content> after;
  for (int number = lowest; number <= highest; number++) after.push_back(ContentOf(number));
  std::vector<std::string> entryPaths;
  for (int number = lowest; number <= highest; number++)
    entryPaths.push_back("HKCU\\" + EntryPath(number));
  CheckOutsideUnchanged(everythingBefore, Everything(), entryPaths);

  // No entry's content is lost, but the one removed: each is found whole
  // in some entry (a key that a refused deletion left behind may share it).
  for (int number = lowest; number <= highest; number++) {
    const Content &content = before[number - lowest];
    if (content.empty() || (remove && number == argument)) continue;
    bool found = false;
    for (const Content &other : after)
      found = found || std::includes(other.begin(), other.end(), content.begin(), content.end());
    FUZZ_CHECK(found, "lost the content of entry " + std::to_string(number));
  }
  if (anyFault) return;

  // Without faults, exactly the moves.
  std::vector<Content> expected = before;
  auto at = [&](int number) -> Content & { return expected[number - lowest]; };
  auto was = [&](int number) { return before[number - lowest]; };
  if (remove) {
    int missing = argument + 1;
    while (missing <= highest && !was(missing).empty()) missing++;
    for (int number = argument; number < missing - 1; number++) at(number) = was(number + 1);
    at(missing - 1).clear();
  } else {
    for (int number = argument; number < contiguous; number++) at(number + 1) = was(number);
    at(argument).clear();
  }
  for (int number = lowest; number <= highest; number++)
    FUZZ_CHECK(after[number - lowest] == expected[number - lowest],
               "entry " + std::to_string(number) + " is not what the moves leave");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  fuzz::Bytes in(data, size);
  SimReset();
  SimSetCallLogging(false);
  unsigned flags = in.Next();
  bool windows95 = flags & 1;
  SimSetPlatformId(windows95 ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT);
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Other", "Kept", "another product");
  switch ((flags >> 2) & 3) {
    case 0:
      FuzzErase((flags & 2) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, windows95, in);
      break;
    case 1:
      FuzzCopy(in);
      break;
    case 2:
      FuzzNumbered(true, in);
      break;
    case 3:
      FuzzNumbered(false, in);
      break;
  }
  SelectSettingsRoot(HKEY_CURRENT_USER);
  fuzz::CheckSimulationClean("after the key tree operation");
  return 0;
}
