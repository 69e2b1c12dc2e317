// The registry slice: two roots of keys and typed values, with the answers
// that Wine's registry gives (measured): names compared without regard to
// case, subkeys and values enumerated in the order of their lower-cased
// names, ERROR_MORE_DATA for what does not fit, ERROR_KEY_DELETED through a
// handle whose key is gone, and the deletion rule of the platform family.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "platform/host/sim.h"

namespace {

struct Value {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;  // as made
  Key *parent = nullptr;
  HKEY root = nullptr;
  std::vector<std::shared_ptr<Key>> subkeys;  // in enumeration order
  std::vector<Value> values;                  // in enumeration order
  bool deleted = false;
};

struct Handle {
  std::shared_ptr<Key> key;
  REGSAM access;
};

enum FaultKind { REFUSE_OPEN, REFUSE_CREATE, REFUSE_DELETE };
struct Fault {
  FaultKind kind;
  HKEY root;
  std::string path;  // lower case, no leading or trailing backslash
  REGSAM refused;
};

std::shared_ptr<Key> currentUser, localMachine;
std::map<HKEY, Handle> handles;
ULONG_PTR nextHandle;
std::vector<std::string> deletions;
std::vector<Fault> faults;

std::string Lower(const std::string &text) {
  std::string out = text;
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return out;
}

bool NameLess(const std::string &a, const std::string &b) { return Lower(a) < Lower(b); }
bool SameName(const std::string &a, const std::string &b) { return Lower(a) == Lower(b); }

bool IsRoot(HKEY key) { return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE; }

std::shared_ptr<Key> RootKey(HKEY root) {
  if (root == HKEY_CURRENT_USER) return currentUser;
  if (root == HKEY_LOCAL_MACHINE) return localMachine;
  return nullptr;
}

std::string KeyPath(const Key *key) {
  std::string path;
  for (; key && key->parent; key = key->parent)
    path = key->name + (path.empty() ? "" : "\\" + path);
  return path;
}

bool FaultCovers(const Fault &fault, const Key *key) {
  if (fault.root != key->root) return false;
  std::string path = Lower(KeyPath(key));
  return fault.path.empty() || path == fault.path ||
         (path.size() > fault.path.size() && path.compare(0, fault.path.size(), fault.path) == 0 &&
          path[fault.path.size()] == '\\');
}

bool Refused(FaultKind kind, const Key *key, REGSAM access = 0) {
  for (const Fault &fault : faults) {
    if (fault.kind != kind || !FaultCovers(fault, key)) continue;
    if (kind != REFUSE_OPEN || (fault.refused & access) != 0) return true;
  }
  return false;
}

// What a create would have to make below `key`, for the creation fault.
bool CreateRefused(const Key *parent, const std::string &name) {
  Key probe;
  probe.name = name;
  probe.parent = const_cast<Key *>(parent);
  probe.root = parent->root;
  return Refused(REFUSE_CREATE, &probe);
}

std::shared_ptr<Key> FindSubkey(const Key &key, const std::string &name) {
  for (const auto &sub : key.subkeys)
    if (SameName(sub->name, name)) return sub;
  return nullptr;
}

std::shared_ptr<Key> AddSubkey(Key &key, const std::string &name) {
  auto sub = std::make_shared<Key>();
  sub->name = name;
  sub->parent = &key;
  sub->root = key.root;
  auto at = std::lower_bound(key.subkeys.begin(), key.subkeys.end(), sub,
                             [](const std::shared_ptr<Key> &a, const std::shared_ptr<Key> &b) {
                               return NameLess(a->name, b->name);
                             });
  key.subkeys.insert(at, sub);
  return sub;
}

Value *FindValue(Key &key, const char *name) {
  std::string wanted = name ? name : "";
  for (Value &value : key.values)
    if (SameName(value.name, wanted)) return &value;
  return nullptr;
}

void PutValue(Key &key, const std::string &name, DWORD type, const std::vector<BYTE> &data) {
  if (Value *value = FindValue(key, name.c_str())) {
    value->type = type;
    value->data = data;
    return;
  }
  Value value{name, type, data};
  auto at = std::lower_bound(key.values.begin(), key.values.end(), value,
                             [](const Value &a, const Value &b) { return NameLess(a.name, b.name); });
  key.values.insert(at, value);
}

// Splits a path as the registry does: empty components (a doubled or a
// trailing backslash) are passed over; a leading backslash is refused.
bool SplitPath(const char *path, std::vector<std::string> *parts) {
  parts->clear();
  if (!path) return true;
  if (path[0] == '\\') return false;
  std::string part;
  for (const char *p = path;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!part.empty()) parts->push_back(part);
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  return true;
}

// The key that a handle names: a root, or one this slice handed out.
LONG KeyOf(HKEY handle, std::shared_ptr<Key> *key, REGSAM *access) {
  if (IsRoot(handle)) {
    *key = RootKey(handle);
    *access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  auto found = handles.find(handle);
  if (found == handles.end()) {
    SimReportProblem("registry call with a key handle that was never opened or is closed");
    return ERROR_INVALID_HANDLE;
  }
  if (found->second.key->deleted) return ERROR_KEY_DELETED;
  *key = found->second.key;
  *access = found->second.access;
  return ERROR_SUCCESS;
}

LONG Walk(std::shared_ptr<Key> key, const char *path, std::shared_ptr<Key> *found) {
  std::vector<std::string> parts;
  if (!SplitPath(path, &parts)) return ERROR_BAD_PATHNAME;
  for (const std::string &part : parts) {
    key = FindSubkey(*key, part);
    if (!key) return ERROR_FILE_NOT_FOUND;
  }
  *found = key;
  return ERROR_SUCCESS;
}

HKEY NewHandle(const std::shared_ptr<Key> &key, REGSAM access) {
  HKEY handle = (HKEY)(nextHandle += 4);
  handles[handle] = Handle{key, access};
  return handle;
}

void MarkDeleted(Key &key) {
  key.deleted = true;
  for (auto &sub : key.subkeys) MarkDeleted(*sub);
}

bool SubtreeDeleteRefused(const Key &key) {
  if (Refused(REFUSE_DELETE, &key)) return true;
  for (const auto &sub : key.subkeys)
    if (SubtreeDeleteRefused(*sub)) return true;
  return false;
}

bool Windows95Family() { return SimPlatformId() == VER_PLATFORM_WIN32_WINDOWS; }

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The test helpers' path walk, making what is missing.
std::shared_ptr<Key> MakePath(HKEY root, const std::string &path) {
  std::shared_ptr<Key> key = RootKey(root);
  if (!key) throw std::invalid_argument("not a simulated registry root");
  std::vector<std::string> parts;
  if (!SplitPath(path.c_str(), &parts)) throw std::invalid_argument("bad registry path " + path);
  for (const std::string &part : parts) {
    std::shared_ptr<Key> sub = FindSubkey(*key, part);
    key = sub ? sub : AddSubkey(*key, part);
  }
  return key;
}

std::shared_ptr<Key> FindPath(HKEY root, const std::string &path) {
  std::shared_ptr<Key> key = RootKey(root), found;
  if (!key) return nullptr;
  return Walk(key, path.c_str(), &found) == ERROR_SUCCESS ? found : nullptr;
}

std::string Hex(const std::vector<BYTE> &data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (BYTE b : data) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

void DumpKey(const Key &key, const std::string &relative, std::ostringstream &out) {
  out << "[" << relative << "]\n";
  for (const Value &value : key.values)
    out << "  \"" << value.name << "\" " << value.type << " " << Hex(value.data) << "\n";
  for (const auto &sub : key.subkeys)
    DumpKey(*sub, relative.empty() ? sub->name : relative + "\\" + sub->name, out);
}

}  // namespace

void SimResetRegistry() {
  handles.clear();
  nextHandle = 0x1000;
  deletions.clear();
  faults.clear();
  currentUser = std::make_shared<Key>();
  currentUser->root = HKEY_CURRENT_USER;
  localMachine = std::make_shared<Key>();
  localMachine->root = HKEY_LOCAL_MACHINE;
}

int SimOpenRegistryHandles() { return (int)handles.size(); }

void SimRegistryPutKey(HKEY root, const std::string &path) { MakePath(root, path); }

void SimRegistryPutValue(HKEY root, const std::string &path, const std::string &name, DWORD type,
                         const std::vector<BYTE> &data) {
  PutValue(*MakePath(root, path), name, type, data);
}

void SimRegistryPutText(HKEY root, const std::string &path, const std::string &name,
                        const std::string &text) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  SimRegistryPutValue(root, path, name, REG_SZ, data);
}

void SimRegistryPutNumber(HKEY root, const std::string &path, const std::string &name,
                          DWORD value) {
  std::vector<BYTE> data = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16),
                            (BYTE)(value >> 24)};
  SimRegistryPutValue(root, path, name, REG_DWORD, data);
}

bool SimRegistryKeyExists(HKEY root, const std::string &path) {
  return FindPath(root, path) != nullptr;
}

bool SimRegistryGetValue(HKEY root, const std::string &path, const std::string &name,
                         DWORD *type, std::vector<BYTE> *data) {
  std::shared_ptr<Key> key = FindPath(root, path);
  Value *value = key ? FindValue(*key, name.c_str()) : nullptr;
  if (!value) return false;
  if (type) *type = value->type;
  if (data) *data = value->data;
  return true;
}

std::vector<std::string> SimRegistrySubkeys(HKEY root, const std::string &path) {
  std::vector<std::string> names;
  if (std::shared_ptr<Key> key = FindPath(root, path))
    for (const auto &sub : key->subkeys) names.push_back(sub->name);
  return names;
}

std::vector<std::string> SimRegistryValues(HKEY root, const std::string &path) {
  std::vector<std::string> names;
  if (std::shared_ptr<Key> key = FindPath(root, path))
    for (const Value &value : key->values) names.push_back(value.name);
  return names;
}

std::string SimRegistryDump(HKEY root, const std::string &path) {
  std::shared_ptr<Key> key = FindPath(root, path);
  if (!key) return "(no key)\n";
  std::ostringstream out;
  DumpKey(*key, "", out);
  return out.str();
}

const std::vector<std::string> &SimRegistryDeletions() { return deletions; }

void SimRegistryRefuseOpen(HKEY root, const std::string &path, REGSAM refused) {
  std::vector<std::string> parts;
  SplitPath(path.c_str(), &parts);
  std::string joined;
  for (const std::string &part : parts) joined += (joined.empty() ? "" : "\\") + part;
  faults.push_back(Fault{REFUSE_OPEN, root, Lower(joined), refused});
}

void SimRegistryRefuseCreate(HKEY root, const std::string &path) {
  SimRegistryRefuseOpen(root, path, 0);
  faults.back().kind = REFUSE_CREATE;
}

void SimRegistryRefuseDelete(HKEY root, const std::string &path) {
  SimRegistryRefuseOpen(root, path, 0);
  faults.back().kind = REFUSE_DELETE;
}

// --- The calls ---------------------------------------------------------------

LONG RegCreateKeyExA(HKEY parent, LPCSTR sub_key, DWORD, LPSTR, DWORD, REGSAM sam,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (SimEnterCall("RegCreateKeyExA")) return ERROR_ACCESS_DENIED;
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Key> key;
  REGSAM parentAccess;
  LONG status = KeyOf(parent, &key, &parentAccess);
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (!SplitPath(sub_key, &parts)) return ERROR_BAD_PATHNAME;
  bool created = false;
  for (const std::string &part : parts) {
    std::shared_ptr<Key> sub = FindSubkey(*key, part);
    if (!sub) {
      if (CreateRefused(key.get(), part)) return ERROR_ACCESS_DENIED;
      sub = AddSubkey(*key, part);
      created = true;
    }
    key = sub;
  }
  if (!created && Refused(REFUSE_OPEN, key.get(), sam)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(key, sam);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY parent, LPCSTR sub_key, DWORD, REGSAM sam, PHKEY result) {
  if (SimEnterCall("RegOpenKeyExA")) return ERROR_ACCESS_DENIED;
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Key> key;
  REGSAM parentAccess;
  LONG status = KeyOf(parent, &key, &parentAccess);
  if (status == ERROR_SUCCESS) status = Walk(key, sub_key, &key);
  if (status != ERROR_SUCCESS) return status;
  if (Refused(REFUSE_OPEN, key.get(), sam)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(key, sam);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY handle) {
  bool fail = SimEnterCall("RegCloseKey");
  if (IsRoot(handle)) return fail ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
  if (handles.erase(handle) == 0) {
    SimReportProblem("RegCloseKey of a key handle that was never opened or is closed");
    return ERROR_INVALID_HANDLE;
  }
  // Even a close that reports failure lets the handle go.
  return fail ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE *data, DWORD size) {
  if (SimEnterCall("RegSetValueExA")) return ERROR_ACCESS_DENIED;
  std::shared_ptr<Key> key;
  REGSAM access;
  LONG status = KeyOf(handle, &key, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!data && size) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bytes(data, data + size);
  // A text set without its terminator is stored with one; the Windows 95
  // family stores an empty text as the terminator alone.
  if (IsStringType(type) && (size ? bytes.back() != 0 : Windows95Family())) bytes.push_back(0);
  PutValue(*key, name ? name : "", type, bytes);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  if (SimEnterCall("RegQueryValueExA")) return ERROR_ACCESS_DENIED;
  std::shared_ptr<Key> key;
  REGSAM access;
  LONG status = KeyOf(handle, &key, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  Value *value = FindValue(*key, name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  if (!size) return ERROR_SUCCESS;
  DWORD length = (DWORD)value->data.size();
  // Too small a buffer is left alone and told the size needed.
  if (data && length > *size) status = ERROR_MORE_DATA;
  else if (data && length) std::memcpy(data, value->data.data(), length);
  *size = length;
  return status;
}

LONG RegDeleteValueA(HKEY handle, LPCSTR name) {
  if (SimEnterCall("RegDeleteValueA")) return ERROR_ACCESS_DENIED;
  std::shared_ptr<Key> key;
  REGSAM access;
  LONG status = KeyOf(handle, &key, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Value *value = FindValue(*key, name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  key->values.erase(key->values.begin() + (value - key->values.data()));
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY parent, LPCSTR sub_key) {
  if (SimEnterCall("RegDeleteKeyA")) return ERROR_ACCESS_DENIED;
  std::shared_ptr<Key> key;
  REGSAM access;
  LONG status = KeyOf(parent, &key, &access);
  if (status == ERROR_SUCCESS) status = Walk(key, sub_key, &key);
  if (status != ERROR_SUCCESS) return status;
  if (!key->parent) return ERROR_ACCESS_DENIED;  // a root itself
  if (Windows95Family() ? SubtreeDeleteRefused(*key)
                        : !key->subkeys.empty() || Refused(REFUSE_DELETE, key.get()))
    return ERROR_ACCESS_DENIED;
  deletions.push_back((key->root == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\") + KeyPath(key.get()));
  // Open handles keep the key alive, and answer ERROR_KEY_DELETED from now on.
  MarkDeleted(*key);
  auto &siblings = key->parent->subkeys;
  siblings.erase(std::find(siblings.begin(), siblings.end(), key));
  key->parent = nullptr;
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD, LPSTR cls,
                   LPDWORD cls_size, PFILETIME last_write) {
  if (SimEnterCall("RegEnumKeyExA")) return ERROR_ACCESS_DENIED;
  std::shared_ptr<Key> key;
  REGSAM access;
  LONG status = KeyOf(handle, &key, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (!name || !name_size) return ERROR_INVALID_PARAMETER;
  if (index >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string &found = key->subkeys[index]->name;
  // The size counts the terminator; a name that does not fit leaves the
  // buffer and the size alone.
  if (found.size() >= *name_size) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *name_size = (DWORD)found.size();
  if (cls && cls_size && *cls_size) cls[0] = '\0';
  if (cls_size) *cls_size = 0;
  if (last_write) *last_write = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY handle, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD data_size) {
  if (SimEnterCall("RegEnumValueA")) return ERROR_ACCESS_DENIED;
  std::shared_ptr<Key> key;
  REGSAM access;
  LONG status = KeyOf(handle, &key, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (!name || !name_size || (data && !data_size)) return ERROR_INVALID_PARAMETER;
  if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value &value = key->values[index];
  DWORD length = (DWORD)value.data.size();
  // Either part not fitting writes neither; the type and the data size
  // needed are told all the same.
  bool dataFits = !data || length <= *data_size;
  if (type) *type = value.type;
  if (data_size) *data_size = length;
  if (value.name.size() >= *name_size || !dataFits) return ERROR_MORE_DATA;
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *name_size = (DWORD)value.name.size();
  if (data && length) std::memcpy(data, value.data.data(), length);
  return ERROR_SUCCESS;
}
