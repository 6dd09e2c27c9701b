// The registry of the posix machine: one SQLite database in the machine
// directory. Every change is one transaction, so a process killed in the
// middle of a write leaves the store as it was before that write; WAL mode
// and a short busy timeout let several processes use it at once: a store
// another process keeps locked answers reads, and fails writes with an
// error after a moment instead of holding the caller.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>

#include "platform/debug_output.h"
#include "platform/posix/machine.h"
#include "platform/posix/wow64_views.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Platform {

namespace {

// Windows limits a key name component to 255 characters and a value name
// to 16383.
constexpr size_t kMaxKeyComponent = 255;
constexpr size_t kMaxValueName = 16383;

// How long a write waits for another process's lock before it fails.
constexpr int kBusyWaitMs = 1000;

constexpr int64_t kLocalMachineId = 1;
constexpr int64_t kCurrentUserId = 2;
constexpr int64_t kUsersId = 3;

struct RootMapping {
  int64_t rootId;
  std::u16string prefix;  // path below the stored root
};

std::optional<RootMapping> MapRoot(RegRoot root) {
  switch (root) {
    case kHkeyLocalMachine: return RootMapping{kLocalMachineId, u""};
    case kHkeyCurrentUser: return RootMapping{kCurrentUserId, u""};
    case kHkeyUsers: return RootMapping{kUsersId, u""};
    case kHkeyClassesRoot: return RootMapping{kLocalMachineId, u"Software\\Classes"};
    case kHkeyCurrentConfig:
      return RootMapping{kLocalMachineId, u"System\\CurrentControlSet\\Hardware Profiles\\Current"};
    default: return std::nullopt;
  }
}

// Splits a subkey path into its names. A leading backslash is a bad path, as
// on Windows; a trailing one is ignored; an empty name inside is a bad path.
Win32Error SplitPath(std::u16string_view path, std::vector<std::u16string>& parts) {
  if (!path.empty() && path.front() == u'\\') return kErrorBadPathName;
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end == start) return kErrorBadPathName;
    if (end - start > kMaxKeyComponent) return kErrorInvalidParameter;
    parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return kErrorSuccess;
}

std::string Folded(std::u16string_view name) { return Utf16ToUtf8(FoldCase(name)); }

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return rc_ == SQLITE_OK; }
  Statement& Bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& Bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int i, const void* data, size_t size) {
    sqlite3_bind_blob(stmt_, i, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return rc_ = sqlite3_step(stmt_); }
  int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, sqlite3_column_bytes(stmt_, col)) : std::string();
  }
  const void* Blob(int col) const { return sqlite3_column_blob(stmt_, col); }
  int Bytes(int col) const { return sqlite3_column_bytes(stmt_, col); }
  int rc() const { return rc_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

class RegistryStore {
 public:
  static RegistryStore& Instance() {
    static RegistryStore store;
    return store;
  }

  // The store of the current machine directory, opened on first use, and
  // opened anew when its file was deleted or replaced meanwhile (writes to
  // a deleted file would be lost with the process).
  sqlite3* Db() {
    const std::string path = Posix::MachineDirectory() + "/registry.db";
    if (db_ && path == path_ && SameFileAsOpened()) return db_;
    if (db_ && path == path_) Report("registry store " + path_ + " was removed or replaced; a new store was started\n");
    CloseDb();
    path_ = path;
    const Health health = OpenAndCheck();
    if (health == Health::Damaged) {
      SetAside();
      if (OpenAndCheck() != Health::Ok) CloseDb();
    } else if (health == Health::Unavailable) {
      CloseDb();
    }
    RememberFile();
    return db_;
  }

  std::mutex& Mutex() { return mutex_; }

 private:
  ~RegistryStore() { CloseDb(); }

  void CloseDb() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
  }

  void RememberFile() {
    struct stat info {};
    opened_ = db_ && ::stat(path_.c_str(), &info) == 0 ? std::optional<std::pair<dev_t, ino_t>>({info.st_dev, info.st_ino})
                                                        : std::nullopt;
  }
  bool SameFileAsOpened() const {
    struct stat info {};
    return opened_ && ::stat(path_.c_str(), &info) == 0 && opened_->first == info.st_dev &&
           opened_->second == info.st_ino;
  }

  static void Report(const std::string& message) {
    std::fputs(message.c_str(), stderr);
    WriteDebugString(Utf8ToUtf16(message));
  }

  // Only a regular file (or nothing yet) can be the store: a directory, a
  // device or a link in its place is set aside like a damaged file.
  bool PathHoldsSomethingElse() const {
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0) return false;
    return !S_ISREG(info.st_mode);
  }

  // The store's own tables, or none yet; anything else is another
  // program's database.
  bool ForeignSchema() {
    Statement tables(db_, "SELECT name, sql FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'");
    if (!tables.ok()) return true;
    int ours = 0;
    while (tables.Step() == SQLITE_ROW) {
      const std::string name = tables.Text(0);
      if (name != "keys" && name != "vals") return true;
      ++ours;
    }
    if (ours == 0) return false;
    for (const char* check : {"SELECT id, parent, name, folded FROM keys LIMIT 0",
                              "SELECT key, name, folded, type, data FROM vals LIMIT 0"}) {
      Statement probe(db_, check);
      if (!probe.ok()) return true;
    }
    return ours != 2;
  }

  bool HasOwnTables() {
    Statement count(db_, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN ('keys','vals')");
    return count.ok() && count.Step() == SQLITE_ROW && count.Int(0) == 2;
  }

  bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

  enum class Health { Ok, Damaged, Unavailable };

  // Damaged: the file is not a database or fails its check. Unavailable:
  // anything else (no permission, disk full), which must not cost the data.
  Health OpenAndCheck() {
    if (PathHoldsSomethingElse()) return Health::Damaged;
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
      return Health::Unavailable;
    sqlite3_busy_timeout(db_, kBusyWaitMs);
    const auto damaged = [this] {
      const int code = sqlite3_errcode(db_);
      return code == SQLITE_NOTADB || code == SQLITE_CORRUPT ? Health::Damaged : Health::Unavailable;
    };
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL")) return damaged();
    {
      Statement check(db_, "PRAGMA quick_check");
      if (!check.ok() || check.Step() != SQLITE_ROW) return damaged();
      if (check.Text(0) != "ok") return Health::Damaged;
    }
    if (ForeignSchema()) return Health::Damaged;
    // Made once; a store that has them is opened without taking the write
    // lock, which another process may hold.
    if (HasOwnTables()) return Health::Ok;
    const bool schema = Exec("BEGIN IMMEDIATE") &&
           Exec("CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
                " name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));"
                "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL,"
                " folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
                " PRIMARY KEY(key, folded)) WITHOUT ROWID;"
                "INSERT OR IGNORE INTO keys VALUES(1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');"
                "INSERT OR IGNORE INTO keys VALUES(2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER');"
                "INSERT OR IGNORE INTO keys VALUES(3, 0, 'HKEY_USERS', 'HKEY_USERS');") &&
                        Exec("COMMIT");
    return schema ? Health::Ok : damaged();
  }

  // A store that cannot be opened or fails its check is kept for inspection
  // under another name, never emptied in place.
  void SetAside() {
    CloseDb();
    const std::string aside = path_ + ".corrupt-" + std::to_string(std::time(nullptr));
    std::rename(path_.c_str(), aside.c_str());
    std::rename((path_ + "-wal").c_str(), (aside + "-wal").c_str());
    std::remove((path_ + "-shm").c_str());
    Report("registry store " + path_ + " is damaged; kept as " + aside + " and a new store was started\n");
  }

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string path_;
  std::optional<std::pair<dev_t, ino_t>> opened_;  // the file db_ was opened on
};

class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {
    ok_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Transaction() {
    if (ok_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  bool ok() const { return ok_; }
  bool Commit() {
    done_ = true;
    return sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  }

 private:
  sqlite3* db_;
  bool ok_ = false;
  bool done_ = false;
};

std::optional<int64_t> FindChild(sqlite3* db, int64_t parent, const std::u16string& name) {
  Statement s(db, "SELECT id FROM keys WHERE parent=? AND folded=?");
  s.Bind(1, parent).Bind(2, Folded(name));
  if (s.Step() == SQLITE_ROW) return s.Int(0);
  return std::nullopt;
}

bool KeyExists(sqlite3* db, int64_t id) {
  Statement s(db, "SELECT 1 FROM keys WHERE id=?");
  s.Bind(1, id);
  return s.Step() == SQLITE_ROW;
}

// Called before the store's lock is taken: the machine's architecture is
// itself read from the registry.
Win32Error ResolvePath(RegRoot root, std::u16string_view subkey, RegView view, std::vector<std::u16string>& parts,
                       int64_t& rootId) {
  const auto mapping = MapRoot(root);
  if (!mapping) return kErrorInvalidHandle;
  rootId = mapping->rootId;
  if (Win32Error e = SplitPath(mapping->prefix, parts)) return e;
  if (Win32Error e = SplitPath(subkey, parts)) return e;
  if (rootId == kLocalMachineId && view != RegView::Force64) {
    std::vector<std::u16string> redirected = parts;
    Posix::RedirectTo32BitView(redirected);
    if (redirected != parts && Posix::MachineIs64BitWindows()) parts = std::move(redirected);
  }
  return kErrorSuccess;
}

void DeleteKeyRows(sqlite3* db, int64_t id) {
  std::vector<int64_t> children;
  {
    Statement s(db, "SELECT id FROM keys WHERE parent=?");
    s.Bind(1, id);
    while (s.Step() == SQLITE_ROW) children.push_back(s.Int(0));
  }
  for (int64_t child : children) DeleteKeyRows(db, child);
  Statement(db, "DELETE FROM vals WHERE key=?").Bind(1, id).Step();
  Statement(db, "DELETE FROM keys WHERE id=?").Bind(1, id).Step();
}

}  // namespace

class RegistryBackendKey {
 public:
  int64_t id = 0;
  bool writable = false;
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

bool RegistryKey::IsOpen() const { return key_ != nullptr; }
void RegistryKey::Close() { key_.reset(); }

Win32Error RegistryKey::Open(RegRoot root, std::u16string_view subkey, RegAccess access, RegView view,
                             RegistryKey& out) {
  out.Close();
  std::vector<std::u16string> parts;
  int64_t id = 0;
  if (Win32Error e = ResolvePath(root, subkey, view, parts, id)) return e;
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  for (const auto& part : parts) {
    const auto child = FindChild(db, id, part);
    if (!child) return kErrorFileNotFound;
    id = *child;
  }
  out.key_ = std::make_unique<RegistryBackendKey>();
  out.key_->id = id;
  out.key_->writable = access == RegAccess::ReadWrite;
  return kErrorSuccess;
}

Win32Error RegistryKey::Create(RegRoot root, std::u16string_view subkey, RegAccess access, RegView view,
                               RegistryKey& out, bool* created) {
  out.Close();
  std::vector<std::u16string> parts;
  int64_t id = 0;
  if (Win32Error e = ResolvePath(root, subkey, view, parts, id)) return e;
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  Transaction tx(db);
  if (!tx.ok()) return kErrorRegistryIoFailed;
  bool madeNew = false;
  for (const auto& part : parts) {
    if (const auto child = FindChild(db, id, part)) {
      id = *child;
      continue;
    }
    Statement insert(db, "INSERT INTO keys(parent, name, folded) VALUES(?,?,?)");
    insert.Bind(1, id).Bind(2, Utf16ToUtf8(part)).Bind(3, Folded(part));
    if (insert.Step() != SQLITE_DONE) return kErrorRegistryIoFailed;
    id = sqlite3_last_insert_rowid(db);
    madeNew = true;
  }
  if (!tx.Commit()) return kErrorRegistryIoFailed;
  if (created) *created = madeNew;
  out.key_ = std::make_unique<RegistryBackendKey>();
  out.key_->id = id;
  out.key_->writable = access == RegAccess::ReadWrite;
  return kErrorSuccess;
}

Win32Error RegistryKey::DeleteTree(RegRoot root, std::u16string_view subkey, RegView view) {
  RegistryKey key;
  if (Win32Error e = Open(root, subkey, RegAccess::ReadWrite, view, key)) return e;
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  if (key.key_->id <= kUsersId) return kErrorAccessDenied;  // the roots stay
  Transaction tx(db);
  if (!tx.ok()) return kErrorRegistryIoFailed;
  if (!KeyExists(db, key.key_->id)) return kErrorFileNotFound;
  DeleteKeyRows(db, key.key_->id);
  return tx.Commit() ? kErrorSuccess : kErrorRegistryIoFailed;
}

Win32Error RegistryKey::QueryValue(std::u16string_view name, uint32_t* type, void* data,
                                   uint32_t* size) const {
  if (!IsOpen()) return kErrorInvalidHandle;
  if (data && !size) return kErrorInvalidParameter;
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  Statement s(db, "SELECT type, data FROM vals WHERE key=? AND folded=?");
  s.Bind(1, key_->id).Bind(2, Folded(name));
  if (s.Step() != SQLITE_ROW) return KeyExists(db, key_->id) ? kErrorFileNotFound : kErrorKeyDeleted;
  const auto stored = static_cast<uint32_t>(s.Bytes(1));
  if (type) *type = static_cast<uint32_t>(s.Int(0));
  if (!size) return kErrorSuccess;
  if (data && *size < stored) {
    *size = stored;
    return kErrorMoreData;
  }
  if (data && stored) std::memcpy(data, s.Blob(1), stored);
  *size = stored;
  return kErrorSuccess;
}

Win32Error RegistryKey::SetValue(std::u16string_view name, uint32_t type, const void* data,
                                 uint32_t size) {
  if (!IsOpen()) return kErrorInvalidHandle;
  if (!key_->writable) return kErrorAccessDenied;
  if (name.size() > kMaxValueName) return kErrorInvalidParameter;
  if (size && !data) return kErrorNoAccess;
  std::vector<uint8_t> bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  // A text given without its terminator gets one, as RegSetValueExW does.
  if ((type == RegType::kSz || type == RegType::kExpandSz || type == RegType::kMultiSz) &&
      bytes.size() % 2 == 0 &&
      (bytes.size() < 2 || bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0)) {
    bytes.push_back(0);
    bytes.push_back(0);
  }
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  Transaction tx(db);
  if (!tx.ok()) return kErrorRegistryIoFailed;
  if (!KeyExists(db, key_->id)) return kErrorKeyDeleted;
  Statement s(db, "INSERT OR REPLACE INTO vals(key, name, folded, type, data) VALUES(?,?,?,?,?)");
  s.Bind(1, key_->id).Bind(2, Utf16ToUtf8(name)).Bind(3, Folded(name)).Bind(4, type);
  s.BindBlob(5, bytes.data(), bytes.size());
  if (s.Step() != SQLITE_DONE) return kErrorRegistryIoFailed;
  return tx.Commit() ? kErrorSuccess : kErrorRegistryIoFailed;
}

Win32Error RegistryKey::DeleteValue(std::u16string_view name) {
  if (!IsOpen()) return kErrorInvalidHandle;
  if (!key_->writable) return kErrorAccessDenied;
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  Transaction tx(db);
  if (!tx.ok()) return kErrorRegistryIoFailed;
  if (!KeyExists(db, key_->id)) return kErrorKeyDeleted;
  Statement s(db, "DELETE FROM vals WHERE key=? AND folded=?");
  s.Bind(1, key_->id).Bind(2, Folded(name));
  if (s.Step() != SQLITE_DONE) return kErrorRegistryIoFailed;
  if (sqlite3_changes(db) == 0) return kErrorFileNotFound;
  return tx.Commit() ? kErrorSuccess : kErrorRegistryIoFailed;
}

Win32Error RegistryKey::DeleteSubkey(std::u16string_view name) {
  if (!IsOpen()) return kErrorInvalidHandle;
  if (!key_->writable) return kErrorAccessDenied;
  std::vector<std::u16string> parts;
  if (Win32Error e = SplitPath(name, parts)) return e;
  if (parts.empty()) return kErrorInvalidParameter;
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  Transaction tx(db);
  if (!tx.ok()) return kErrorRegistryIoFailed;
  int64_t id = key_->id;
  for (const auto& part : parts) {
    const auto child = FindChild(db, id, part);
    if (!child) return kErrorFileNotFound;
    id = *child;
  }
  Statement children(db, "SELECT 1 FROM keys WHERE parent=? LIMIT 1");
  children.Bind(1, id);
  if (children.Step() == SQLITE_ROW) return kErrorAccessDenied;  // as RegDeleteKey does
  DeleteKeyRows(db, id);
  return tx.Commit() ? kErrorSuccess : kErrorRegistryIoFailed;
}

namespace {
// Names of the rows that `sql` selects for the open key, in folded order.
Win32Error CollectNames(int64_t keyId, const char* sql, std::vector<std::u16string>& names) {
  names.clear();
  auto& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Db();
  if (!db) return kErrorRegistryIoFailed;
  if (!KeyExists(db, keyId)) return kErrorKeyDeleted;
  Statement s(db, sql);
  s.Bind(1, keyId);
  while (s.Step() == SQLITE_ROW) names.push_back(Utf8ToUtf16(s.Text(0)));
  return kErrorSuccess;
}
}  // namespace

Win32Error RegistryKey::EnumSubkeys(std::vector<std::u16string>& names) const {
  if (!IsOpen()) return kErrorInvalidHandle;
  return CollectNames(key_->id, "SELECT name FROM keys WHERE parent=? ORDER BY folded", names);
}

Win32Error RegistryKey::EnumValueNames(std::vector<std::u16string>& names) const {
  if (!IsOpen()) return kErrorInvalidHandle;
  return CollectNames(key_->id, "SELECT name FROM vals WHERE key=? ORDER BY folded", names);
}

}  // namespace Zentrovak::Platform
