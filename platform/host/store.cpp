// The machine folder and its store: one SQLite database in WAL mode that
// every process of the machine opens.
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "host.h"

namespace kxhost {
namespace {

struct SchemaEntry {
  const char* name;
  const char* sql;
};

std::vector<SchemaEntry>& Schemas() {
  static std::vector<SchemaEntry> schemas;
  return schemas;
}

[[noreturn]] void Fail(sqlite3* db, const char* what) {
  throw std::runtime_error(std::string("machine store: ") + what + ": " +
                           (db ? sqlite3_errmsg(db) : "no database"));
}

uint64_t generation = 0;

std::unique_ptr<Store>& Current() {
  static std::unique_ptr<Store> store;
  return store;
}

// The statements this thread has alive, linked through themselves (nothing
// to destroy when the thread or the process ends). Threads share the
// process's connection: a read that another thread has open ends by itself,
// one of this thread's only when this thread goes on.
thread_local Statement* this_thread_statements = nullptr;

}  // namespace

KX_HOST_SCHEMA("settings",
               "CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value TEXT)");

SchemaPart::SchemaPart(const char* name, const char* sql) { Schemas().push_back({name, sql}); }

std::filesystem::path MachineDir() {
  if (const char* dir = std::getenv(kMachineVariable); dir && *dir) return dir;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".kx51" / "machine";
}

// ---- Statement -------------------------------------------------------------

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db), stmt_(nullptr) {
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
      SQLITE_OK)
    Fail(db, "prepare");
  next_ = this_thread_statements;
  if (next_) next_->previous_ = this;
  this_thread_statements = this;
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_),
      stmt_(other.stmt_),
      previous_(other.previous_),
      next_(other.next_),
      linked_(other.linked_) {
  other.stmt_ = nullptr;
  // This one takes the other's place among the thread's statements.
  if (linked_) {
    (previous_ ? previous_->next_ : this_thread_statements) = this;
    if (next_) next_->previous_ = this;
  }
  other.previous_ = other.next_ = nullptr;
  other.linked_ = false;
}

Statement::~Statement() {
  if (linked_) {
    (previous_ ? previous_->next_ : this_thread_statements) = next_;
    if (next_) next_->previous_ = previous_;
  }
  sqlite3_finalize(stmt_);
}

sqlite3_stmt* Statement::OpenReadOfThisThread(sqlite3* db, const Statement* except) {
  for (const Statement* statement = this_thread_statements; statement; statement = statement->next_)
    if (statement != except && statement->db_ == db && statement->stmt_ &&
        sqlite3_stmt_busy(statement->stmt_))
      return statement->stmt_;
  return nullptr;
}

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  sqlite3_bind_blob64(stmt_, index, size ? data : "", size, SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(stmt_, index);
  return *this;
}

bool Statement::Step() {
  for (;;) {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      // A write outside a transaction, behind a read of this thread that
      // is still open, would wait for ever: such a caller is wrong.
      if (sqlite3_stmt* open = OpenReadOfThisThread(db_, this))
        throw std::logic_error(std::string("machine store: write begun during a read: ") +
                               sqlite3_sql(open));
      // Outside a transaction a reader can still meet a checkpoint.
      sqlite3_reset(stmt_);
      usleep(1000);
      continue;
    }
    Fail(db_, "step");
  }
}

void Statement::Run() {
  while (Step()) {
  }
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
  auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
              : std::string();
}

std::vector<uint8_t> Statement::Blob(int column) const {
  auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  int size = sqlite3_column_bytes(stmt_, column);
  return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

// ---- Store -----------------------------------------------------------------

Store& Store::Get() {
  auto& store = Current();
  if (!store) {
    auto dir = MachineDir();
    std::filesystem::create_directories(dir);
    store = std::make_unique<Store>(dir / "machine.db");
  }
  return *store;
}

void Store::Reset() {
  Current().reset();
  ++generation;
}

uint64_t Store::Generation() { return generation; }

Store::Store(const std::filesystem::path& db_path) {
  ++generation;
  if (sqlite3_open_v2(db_path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK)
    Fail(db_, "open");
  sqlite3_busy_timeout(db_, 60000);
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=NORMAL");
  Transaction([&] {
    for (const auto& part : Schemas()) Exec(part.sql);
  });
}

Store::~Store() { sqlite3_close_v2(db_); }

void Store::Exec(const char* sql) {
  char* error = nullptr;
  for (;;) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
    if (rc == SQLITE_OK) return;
    std::string message = error ? error : "";
    sqlite3_free(error);
    error = nullptr;
    if (rc == SQLITE_BUSY && depth_ == 0) {
      usleep(1000);
      continue;
    }
    throw std::runtime_error("machine store: " + message + " in: " + sql);
  }
}

void Store::Transaction(const std::function<void()>& body) {
  std::lock_guard<std::recursive_mutex> lock(transaction_mutex_);
  if (depth_ > 0) {
    ++depth_;
    try {
      body();
    } catch (...) {
      --depth_;
      throw;
    }
    --depth_;
    return;
  }
  // A read of this thread still open holds an old snapshot, and a snapshot
  // that others wrote past can never take the write lock: the transaction
  // would wait for ever. Such a caller is wrong; say so. (Another thread's
  // read ends by itself: the transaction waits for it.)
  if (sqlite3_stmt* open = Statement::OpenReadOfThisThread(db_, nullptr))
    throw std::logic_error(std::string("machine store: transaction begun during a read: ") +
                           sqlite3_sql(open));
  Exec("BEGIN IMMEDIATE");
  depth_ = 1;
  try {
    body();
  } catch (...) {
    depth_ = 0;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  depth_ = 0;
  Exec("COMMIT");
}

std::optional<std::string> Store::Setting(std::string_view name) {
  auto query = Prepare("SELECT value FROM settings WHERE name = ?");
  query.Bind(1, name);
  if (!query.Step()) return std::nullopt;
  return query.Text(0);
}

void Store::SetSetting(std::string_view name, std::string_view value) {
  Prepare(
      "INSERT INTO settings(name, value) VALUES(?, ?) "
      "ON CONFLICT(name) DO UPDATE SET value = excluded.value")
      .Bind(1, name)
      .Bind(2, value)
      .Run();
  ++generation;
}

}  // namespace kxhost
