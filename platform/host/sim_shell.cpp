// The shell and DDE slice: the Programs folder lookup and the DDE client
// library, with a stand-in Program Manager behind the service "PROGMAN".
#include <cstring>
#include <map>
#include <set>

#include "platform/host/sim.h"

namespace {
std::string programsFolder;
bool programManagerPresent;
void (*programManagerAction)(const std::string &);
std::vector<SimDdeCall> ddeCalls;

std::set<ITEMIDLIST *> itemLists;
int allocatorReferences;
DWORD nextInstance;
std::set<DWORD> instances;
struct StringHandle {
  DWORD instance;
  std::string text;
};
std::map<HSZ, StringHandle> strings;
std::map<HCONV, DWORD> conversations;  // conversation -> instance
ULONG_PTR nextHandle;

const ULONG_PTR executeAcknowledged = 1;  // what an execute transaction returns

std::string TextOf(HSZ hsz) {
  auto found = strings.find(hsz);
  return found == strings.end() ? std::string() : found->second.text;
}

SimDdeCall &Record(const char *function, DWORD instance) {
  ddeCalls.emplace_back();
  ddeCalls.back().function = function;
  ddeCalls.back().instance = instance;
  return ddeCalls.back();
}

bool EqualsIgnoringCase(const std::string &a, const char *b) {
  if (a.size() != strlen(b)) return false;
  for (size_t i = 0; i < a.size(); i++) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = (char)(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = (char)(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}
}  // namespace

void SimResetShell() {
  for (ITEMIDLIST *list : itemLists) delete[] reinterpret_cast<BYTE *>(list);
  itemLists.clear();
  allocatorReferences = 0;
  programsFolder = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  programManagerPresent = true;
  programManagerAction = nullptr;
  ddeCalls.clear();
  nextInstance = 0x1000;
  instances.clear();
  strings.clear();
  conversations.clear();
  nextHandle = 0x5000;
}

int SimOpenShellHandles() {
  return (int)(itemLists.size() + instances.size() + strings.size() + conversations.size()) +
         allocatorReferences;
}

void SimSetProgramsFolder(const std::string &path) { programsFolder = path; }
void SimSetProgramManager(bool present) { programManagerPresent = present; }
void SimOnProgramManagerCommand(void (*action)(const std::string &)) {
  programManagerAction = action;
}
const std::vector<SimDdeCall> &SimDdeCalls() { return ddeCalls; }

// --- Shell -------------------------------------------------------------------

HRESULT SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST *list) {
  if (!list) {
    SimReportProblem("SHGetSpecialFolderLocation without a place for the list");
    return E_FAIL;
  }
  *list = nullptr;
  if (SimEnterCall("SHGetSpecialFolderLocation")) return E_FAIL;
  if (folder != CSIDL_PROGRAMS || programsFolder.empty()) return E_FAIL;
  // The list carries the folder's path; SHGetPathFromIDListA reads it back.
  BYTE *bytes = new BYTE[programsFolder.size() + 1];
  memcpy(bytes, programsFolder.c_str(), programsFolder.size() + 1);
  *list = reinterpret_cast<ITEMIDLIST *>(bytes);
  itemLists.insert(*list);
  return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path) {
  if (SimEnterCall("SHGetPathFromIDListA")) {
    if (path) path[0] = '\0';
    return FALSE;
  }
  if (!itemLists.count(const_cast<ITEMIDLIST *>(list))) {
    SimReportProblem("SHGetPathFromIDListA with a list the shell never gave");
    if (path) path[0] = '\0';
    return FALSE;
  }
  const char *text = reinterpret_cast<const char *>(list);
  if (strlen(text) + 1 > MAX_PATH) {
    path[0] = '\0';
    return FALSE;
  }
  memcpy(path, text, strlen(text) + 1);
  return TRUE;
}

// The shell's allocator: it frees the item lists the shell handed out, and
// each reference taken through SHGetMalloc counts until it is released.
struct SimShellAllocator : IMalloc {
  HRESULT QueryInterface(const void *, void **object) override {
    if (object) *object = nullptr;
    return E_FAIL;
  }
  ULONG AddRef() override { return (ULONG)++allocatorReferences; }
  ULONG Release() override {
    SimEnterCall("IMalloc::Release");
    if (allocatorReferences == 0) {
      SimReportProblem("IMalloc::Release without a reference");
      return 0;
    }
    return (ULONG)--allocatorReferences;
  }
  void *Alloc(size_t) override { return nullptr; }
  void *Realloc(void *, size_t) override { return nullptr; }
  void Free(void *block) override {
    SimEnterCall("IMalloc::Free");
    if (!block) return;
    ITEMIDLIST *list = static_cast<ITEMIDLIST *>(block);
    if (!itemLists.erase(list)) {
      SimReportProblem("IMalloc::Free of a block the shell never gave");
      return;
    }
    delete[] reinterpret_cast<BYTE *>(list);
  }
  size_t GetSize(void *) override { return 0; }
  int DidAlloc(void *block) override { return itemLists.count(static_cast<ITEMIDLIST *>(block)) ? 1 : 0; }
  void HeapMinimize() override {}
};

SimShellAllocator shellAllocator;

HRESULT SHGetMalloc(IMalloc **allocator) {
  if (!allocator) {
    SimReportProblem("SHGetMalloc without a place for the allocator");
    return E_FAIL;
  }
  *allocator = nullptr;
  if (SimEnterCall("SHGetMalloc")) return E_FAIL;
  ++allocatorReferences;
  *allocator = &shellAllocator;
  return S_OK;
}

// --- DDE client ----------------------------------------------------------------

UINT DdeInitializeA(LPDWORD instance, PFNCALLBACK callback, DWORD command, DWORD reserved) {
  SimDdeCall &call = Record("DdeInitializeA", instance ? *instance : 0);
  call.hasCallback = callback != nullptr;
  call.callback = callback;
  call.command = command;
  call.reserved = reserved;
  if (SimEnterCall("DdeInitializeA")) return DMLERR_DLL_USAGE;
  if (!instance || !callback) return DMLERR_DLL_USAGE;
  if (*instance != 0) {
    SimReportProblem("DdeInitializeA with an instance id that is not 0");
    return DMLERR_DLL_USAGE;
  }
  *instance = ++nextInstance;
  instances.insert(*instance);
  ddeCalls.back().instance = *instance;
  ddeCalls.back().succeeded = true;
  return DMLERR_NO_ERROR;
}

BOOL DdeUninitialize(DWORD instance) {
  Record("DdeUninitialize", instance);
  if (SimEnterCall("DdeUninitialize")) return FALSE;
  if (!instances.erase(instance)) return FALSE;
  // As the system does: what the instance still holds goes with it.
  for (auto it = strings.begin(); it != strings.end();)
    it = it->second.instance == instance ? strings.erase(it) : std::next(it);
  for (auto it = conversations.begin(); it != conversations.end();)
    it = it->second == instance ? conversations.erase(it) : std::next(it);
  ddeCalls.back().succeeded = true;
  return TRUE;
}

HSZ DdeCreateStringHandleA(DWORD instance, LPCSTR text, int code_page) {
  SimDdeCall &call = Record("DdeCreateStringHandleA", instance);
  call.text = text ? text : "";
  call.codePage = code_page;
  if (SimEnterCall("DdeCreateStringHandleA")) return nullptr;
  if (!instances.count(instance) || !text) return nullptr;
  HSZ hsz = reinterpret_cast<HSZ>(++nextHandle);
  strings[hsz] = StringHandle{instance, text};
  ddeCalls.back().succeeded = true;
  return hsz;
}

BOOL DdeFreeStringHandle(DWORD instance, HSZ hsz) {
  Record("DdeFreeStringHandle", instance).text = TextOf(hsz);
  if (SimEnterCall("DdeFreeStringHandle")) return FALSE;
  auto found = strings.find(hsz);
  if (found == strings.end() || found->second.instance != instance) return FALSE;
  strings.erase(found);
  ddeCalls.back().succeeded = true;
  return TRUE;
}

HCONV DdeConnect(DWORD instance, HSZ service, HSZ topic, PCONVCONTEXT context) {
  SimDdeCall &call = Record("DdeConnect", instance);
  call.text = TextOf(service);
  call.topic = TextOf(topic);
  call.hasContext = context != nullptr;
  if (SimEnterCall("DdeConnect")) return nullptr;
  if (!instances.count(instance) || !programManagerPresent) return nullptr;
  if (!EqualsIgnoringCase(TextOf(service), "PROGMAN") ||
      !EqualsIgnoringCase(TextOf(topic), "PROGMAN"))
    return nullptr;
  HCONV conversation = reinterpret_cast<HCONV>(++nextHandle);
  conversations[conversation] = instance;
  ddeCalls.back().conversation = conversation;
  ddeCalls.back().succeeded = true;
  return conversation;
}

HDDEDATA DdeClientTransaction(LPBYTE data, DWORD length, HCONV conv, HSZ item, UINT format,
                              UINT type, DWORD timeout, LPDWORD result) {
  auto found = conversations.find(conv);
  SimDdeCall &call = Record("DdeClientTransaction", found == conversations.end() ? 0 : found->second);
  if (data) call.data.assign(reinterpret_cast<const char *>(data), length);
  call.length = length;
  call.conversation = conv;
  call.hasItem = item != nullptr;
  call.format = format;
  call.type = type;
  call.timeout = timeout;
  call.hasResult = result != nullptr;
  if (SimEnterCall("DdeClientTransaction")) return nullptr;
  if (found == conversations.end() || type != XTYP_EXECUTE || !data) return nullptr;
  ddeCalls.back().succeeded = true;
  std::string command(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), length));
  if (programManagerAction) programManagerAction(command);
  return reinterpret_cast<HDDEDATA>(executeAcknowledged);
}

// An execute transaction hands back no data to free, so this fails for it
// as the system's does.
BOOL DdeFreeDataHandle(HDDEDATA data) {
  Record("DdeFreeDataHandle", 0).dataHandle = data;
  SimEnterCall("DdeFreeDataHandle");
  return FALSE;
}

BOOL DdeDisconnect(HCONV conv) {
  auto found = conversations.find(conv);
  SimDdeCall &call = Record("DdeDisconnect", found == conversations.end() ? 0 : found->second);
  call.conversation = conv;
  if (SimEnterCall("DdeDisconnect")) return FALSE;
  if (found == conversations.end()) return FALSE;
  conversations.erase(found);
  ddeCalls.back().succeeded = true;
  return TRUE;
}
