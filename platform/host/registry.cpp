// The registry of the host machine: keys and typed values in the store,
// names compared regardless of letter case, every call one transaction.
// Deleting a key removes everything beneath it, as the Windows 95 family
// does.
//
// Faults: the operation's API name; the argument is the key's path below its
// root ("Enum\LPTENUM\KALDRENKX512E10") for key operations, and
// "<key path>:<value name>" for value operations.
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "host.h"

namespace kxhost {
namespace {

KX_HOST_SCHEMA("registry keys",
               "CREATE TABLE IF NOT EXISTS reg_keys("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " parent INTEGER NOT NULL,"
               " name TEXT NOT NULL,"
               " fold TEXT NOT NULL,"
               " UNIQUE(parent, fold))");
KX_HOST_SCHEMA("registry values",
               "CREATE TABLE IF NOT EXISTS reg_values("
               " key INTEGER NOT NULL,"
               " name TEXT NOT NULL,"
               " fold TEXT NOT NULL,"
               " type INTEGER NOT NULL,"
               " data BLOB NOT NULL,"
               " UNIQUE(key, fold))");

struct Root {
  HKEY handle;
  const char* name;
  const char* short_name;
};
const Root kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKU"},
};

// What an open handle stands for: a key of the store and its path below its
// root, as the names are stored.
struct OpenKey {
  int64_t id = 0;
  const Root* root = nullptr;
  std::string path;
};

struct HandleTable {
  std::mutex mutex;
  std::map<uintptr_t, OpenKey> keys;
  uintptr_t next = 0x100000;
};

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

const Root* FindRoot(HKEY key) {
  for (const auto& root : kRoots)
    if (root.handle == key) return &root;
  return nullptr;
}

// The id of a root key, created on first use.
int64_t RootId(Store& store, const Root& root) {
  auto query = store.Prepare("SELECT id FROM reg_keys WHERE parent = 0 AND fold = ?");
  query.Bind(1, FoldCase(root.name));
  if (query.Step()) return query.Int(0);
  store.Prepare("INSERT INTO reg_keys(parent, name, fold) VALUES(0, ?, ?)")
      .Bind(1, root.name)
      .Bind(2, FoldCase(root.name))
      .Run();
  return sqlite3_last_insert_rowid(store.db());
}

bool KeyExists(Store& store, int64_t id) {
  auto query = store.Prepare("SELECT 1 FROM reg_keys WHERE id = ?");
  query.Bind(1, id);
  return query.Step();
}

// Resolves a handle to its key; an error code when it cannot.
std::optional<LONG> Resolve(Store& store, HKEY key, OpenKey* out) {
  if (const Root* root = FindRoot(key)) {
    *out = {RootId(store, *root), root, std::string()};
    return std::nullopt;
  }
  {
    auto& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.keys.find(reinterpret_cast<uintptr_t>(key));
    if (it == table.keys.end()) return ERROR_INVALID_HANDLE;
    *out = it->second;
  }
  if (!KeyExists(store, out->id)) return ERROR_KEY_DELETED;
  return std::nullopt;
}

HKEY NewHandle(const OpenKey& key) {
  auto& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  uintptr_t value = table.next;
  table.next += 4;
  table.keys.emplace(value, key);
  return reinterpret_cast<HKEY>(value);
}

std::vector<std::string> SplitPath(const char* path) {
  std::vector<std::string> parts;
  if (!path) return parts;
  std::string_view text(path);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\\', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string JoinPath(const std::string& base, const std::string& name) {
  return base.empty() ? name : base + "\\" + name;
}

// The path that faults match for a key below `parent` named by `subkey`.
std::string SubkeyPath(const OpenKey& parent, const char* subkey) {
  std::string path = parent.path;
  for (const auto& part : SplitPath(subkey)) path = JoinPath(path, part);
  return path;
}

std::string ShownPath(const OpenKey& key, const std::string& path) {
  return std::string(key.root->short_name) + (path.empty() ? "" : "\\" + path);
}

std::string ValueArgument(const OpenKey& key, const char* name) {
  return key.path + ":" + (name ? name : "");
}

// A value's data as the journal shows it: text quoted, other types in hex.
std::string ShownData(DWORD type, const BYTE* data, DWORD size) {
  static const char* const kTypes[] = {"REG_NONE",   "REG_SZ",      "REG_EXPAND_SZ",
                                       "REG_BINARY", "REG_DWORD",   "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",   "REG_MULTI_SZ"};
  std::string shown = type < 8 ? kTypes[type] : "type " + std::to_string(type);
  shown += " " + std::to_string(size) + " bytes ";
  const DWORD shown_bytes = size < 64 ? size : 64;
  bool text = type == REG_SZ || type == REG_EXPAND_SZ;
  char hex[8];
  if (text) shown += '"';
  for (DWORD i = 0; i < shown_bytes; ++i) {
    BYTE c = data[i];
    if (text && c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      shown += static_cast<char>(c);
    } else if (text && c == 0 && i + 1 == size) {
      shown += "\\0";
    } else {
      std::snprintf(hex, sizeof hex, text ? "\\x%02X" : "%02X ", c);
      shown += hex;
    }
  }
  if (text) shown += '"';
  if (shown_bytes < size) shown += "...";
  return shown;
}

// Runs one registry call in a transaction, turning store errors into the
// platform's "registry corrupt" code rather than letting them escape.
LONG Call(const std::function<LONG(Store&)>& body) {
  try {
    auto& store = Store::Get();
    LONG status = ERROR_SUCCESS;
    store.Transaction([&] { status = body(store); });
    return status;
  } catch (const std::exception&) {
    return ERROR_REGISTRY_CORRUPT;
  }
}

// Walks `subkey` below `parent`, creating missing keys when `create` is set.
LONG Walk(Store& store, const OpenKey& parent, const char* subkey, bool create, OpenKey* out,
          bool* created) {
  OpenKey key = parent;
  for (const auto& part : SplitPath(subkey)) {
    auto query = store.Prepare("SELECT id, name FROM reg_keys WHERE parent = ? AND fold = ?");
    query.Bind(1, key.id).Bind(2, FoldCase(part));
    if (query.Step()) {
      key.id = query.Int(0);
      key.path = JoinPath(key.path, query.Text(1));
      continue;
    }
    if (!create) return ERROR_FILE_NOT_FOUND;
    store.Prepare("INSERT INTO reg_keys(parent, name, fold) VALUES(?, ?, ?)")
        .Bind(1, key.id)
        .Bind(2, part)
        .Bind(3, FoldCase(part))
        .Run();
    key.id = sqlite3_last_insert_rowid(store.db());
    key.path = JoinPath(key.path, part);
    if (created) *created = true;
  }
  *out = key;
  return ERROR_SUCCESS;
}

LONG OpenOrCreate(const char* api, HKEY parent_handle, const char* subkey, PHKEY result,
                  bool create) {
  if (!result) return ERROR_INVALID_PARAMETER;
  HKEY opened = nullptr;
  LONG status = Call([&](Store& store) -> LONG {
    OpenKey parent;
    if (auto error = Resolve(store, parent_handle, &parent)) return *error;
    std::string path = SubkeyPath(parent, subkey);
    if (auto fault = TakeFault(api, path)) return static_cast<LONG>(*fault);
    // The platform hands back the key itself for an empty name.
    if (!create && (!subkey || !*subkey) && !FindRoot(parent_handle)) {
      opened = parent_handle;
      return ERROR_SUCCESS;
    }
    OpenKey key;
    bool created = false;
    if (LONG error = Walk(store, parent, subkey, create, &key, &created)) return error;
    if (created) Journal(api, ShownPath(key, key.path), "created");
    opened = FindRoot(parent_handle) && key.id == parent.id ? parent_handle : NewHandle(key);
    return ERROR_SUCCESS;
  });
  *result = status == ERROR_SUCCESS ? opened : nullptr;
  return status;
}

void DeleteTree(Store& store, int64_t id) {
  store
      .Prepare(
          "WITH RECURSIVE tree(id) AS (SELECT ? UNION ALL "
          " SELECT reg_keys.id FROM reg_keys JOIN tree ON reg_keys.parent = tree.id) "
          "DELETE FROM reg_values WHERE key IN tree")
      .Bind(1, id)
      .Run();
  store
      .Prepare(
          "WITH RECURSIVE tree(id) AS (SELECT ? UNION ALL "
          " SELECT reg_keys.id FROM reg_keys JOIN tree ON reg_keys.parent = tree.id) "
          "DELETE FROM reg_keys WHERE id IN tree")
      .Bind(1, id)
      .Run();
}

// Copies a name into a caller's buffer of `*size` bytes (zero included).
LONG CopyName(const std::string& name, LPSTR buffer, DWORD capacity, DWORD* copied) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > capacity) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  if (copied) *copied = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace kxhost

using namespace kxhost;

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subkey, PHKEY result) {
  return OpenOrCreate("RegOpenKeyA", key, subkey, result, false);
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD, REGSAM, PHKEY result) {
  return OpenOrCreate("RegOpenKeyExA", key, subkey, result, false);
}

LONG WINAPI RegCreateKeyA(HKEY key, LPCSTR subkey, PHKEY result) {
  return OpenOrCreate("RegCreateKeyA", key, subkey, result, true);
}

LONG WINAPI RegCloseKey(HKEY key) {
  if (FindRoot(key)) return ERROR_SUCCESS;
  OpenKey open;
  {
    auto& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.keys.find(reinterpret_cast<uintptr_t>(key));
    if (it == table.keys.end()) return ERROR_INVALID_HANDLE;
    open = it->second;
  }
  if (auto fault = TakeFault("RegCloseKey", open.path)) return static_cast<LONG>(*fault);
  auto& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.keys.erase(reinterpret_cast<uintptr_t>(key));
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
  if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
  return Call([&](Store& store) -> LONG {
    OpenKey open;
    if (auto error = Resolve(store, key, &open)) return *error;
    if (auto fault = TakeFault("RegQueryValueExA", ValueArgument(open, name)))
      return static_cast<LONG>(*fault);
    auto query = store.Prepare("SELECT type, data FROM reg_values WHERE key = ? AND fold = ?");
    query.Bind(1, open.id).Bind(2, FoldCase(name ? name : ""));
    if (!query.Step()) return ERROR_FILE_NOT_FOUND;
    auto bytes = query.Blob(1);
    if (type) *type = static_cast<DWORD>(query.Int(0));
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (!size) return ERROR_SUCCESS;
    if (data && *size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (data && needed) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
  if (reserved || (!data && size)) return ERROR_INVALID_PARAMETER;
  // The NT family (and Wine) add a zero that a text's count left out when
  // the byte after the count is zero: they read past the caller's data. The
  // host stores exactly the bytes counted and reads nothing beyond them.
  return Call([&](Store& store) -> LONG {
    OpenKey open;
    if (auto error = Resolve(store, key, &open)) return *error;
    std::string argument = ValueArgument(open, name);
    if (auto fault = TakeFault("RegSetValueExA", argument)) return static_cast<LONG>(*fault);
    const char* value_name = name ? name : "";
    store
        .Prepare(
            "INSERT INTO reg_values(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?) "
            "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, "
            "data = excluded.data")
        .Bind(1, open.id)
        .Bind(2, value_name)
        .Bind(3, FoldCase(value_name))
        .Bind(4, static_cast<int64_t>(type))
        .BindBlob(5, data, size)
        .Run();
    Journal("RegSetValueExA",
            ShownPath(open, open.path) + ":" + value_name + " " + ShownData(type, data, size));
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
  return Call([&](Store& store) -> LONG {
    OpenKey open;
    if (auto error = Resolve(store, key, &open)) return *error;
    if (auto fault = TakeFault("RegDeleteValueA", ValueArgument(open, name)))
      return static_cast<LONG>(*fault);
    const char* value_name = name ? name : "";
    auto remove = store.Prepare("DELETE FROM reg_values WHERE key = ? AND fold = ?");
    remove.Bind(1, open.id).Bind(2, FoldCase(value_name)).Run();
    if (sqlite3_changes(store.db()) == 0) return ERROR_FILE_NOT_FOUND;
    Journal("RegDeleteValueA", ShownPath(open, open.path) + ":" + value_name);
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subkey) {
  return Call([&](Store& store) -> LONG {
    OpenKey parent;
    if (auto error = Resolve(store, key, &parent)) return *error;
    if (auto fault = TakeFault("RegDeleteKeyA", SubkeyPath(parent, subkey)))
      return static_cast<LONG>(*fault);
    OpenKey target;
    if (LONG error = Walk(store, parent, subkey, false, &target, nullptr)) return error;
    if (target.id == parent.id && FindRoot(key)) return ERROR_ACCESS_DENIED;
    DeleteTree(store, target.id);
    Journal("RegDeleteKeyA", ShownPath(target, target.path), "deleted with all beneath it");
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size) {
  return Call([&](Store& store) -> LONG {
    OpenKey open;
    if (auto error = Resolve(store, key, &open)) return *error;
    auto query =
        store.Prepare("SELECT name FROM reg_keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?");
    query.Bind(1, open.id).Bind(2, static_cast<int64_t>(index));
    if (!query.Step()) return ERROR_NO_MORE_ITEMS;
    return CopyName(query.Text(0), name, size, nullptr);
  });
}

LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD data_size) {
  if (!name_size || reserved || (data && !data_size)) return ERROR_INVALID_PARAMETER;
  return Call([&](Store& store) -> LONG {
    OpenKey open;
    if (auto error = Resolve(store, key, &open)) return *error;
    auto query = store.Prepare(
        "SELECT name, type, data FROM reg_values WHERE key = ? ORDER BY rowid LIMIT 1 OFFSET ?");
    query.Bind(1, open.id).Bind(2, static_cast<int64_t>(index));
    if (!query.Step()) return ERROR_NO_MORE_ITEMS;
    DWORD copied = 0;
    if (LONG error = CopyName(query.Text(0), name, *name_size, &copied)) return error;
    auto bytes = query.Blob(2);
    if (type) *type = static_cast<DWORD>(query.Int(1));
    if (data_size) {
      const DWORD needed = static_cast<DWORD>(bytes.size());
      if (data && *data_size < needed) {
        *data_size = needed;
        return ERROR_MORE_DATA;
      }
      if (data && needed) std::memcpy(data, bytes.data(), needed);
      *data_size = needed;
    }
    *name_size = copied;
    return ERROR_SUCCESS;
  });
}
