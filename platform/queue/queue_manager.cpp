#include "platform/queue/queue_manager.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/runtime/log.h"

namespace {

const char kDefaultDir[] = "/var/lib/storaged/queue";

// How long a reader waits for another process's lock on the file.
const int kBusyTimeoutMs = 30000;

// Queue names become file names: nothing that could leave the folder.
bool is_queue_name(const std::string& name) {
  if (name.empty() || name.size() > 128 || name[0] == '.')
    return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.';
    if (!ok)
      return false;
  }
  return true;
}

int to_milliseconds(const ACE_Time_Value* t) {
  if (t == nullptr)
    return INT_MAX;
  long long ms = static_cast<long long>(t->sec()) * 1000 + t->usec() / 1000;
  return static_cast<int>(std::max(0LL, std::min<long long>(ms, INT_MAX)));
}

// A prepared statement finalised with its scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* text) { sqlite3_prepare_v2(db, text, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

// One open queue file. Its own lock serialises this process's use of the
// handle; SQLite's file locks order it against other processes.
class Queue_Manager::Queue {
 public:
  Queue(std::string name, std::string path) : name_(std::move(name)), path_(std::move(path)) {}
  ~Queue() { sqlite3_close(db_); }

  bool open();
  int enqueue(const void* data, std::size_t length, int timeout_ms);
  int dequeue(std::string& data, int wait_ms);
  long long size();

 private:
  int take(std::string& data);
  void fail(const char* what);

  const std::string name_;
  const std::string path_;
  std::mutex lock_;
  std::condition_variable arrived_;
  sqlite3* db_ = nullptr;  // guarded by lock_
};

bool Queue_Manager::Queue::open() {
  std::lock_guard<std::mutex> guard(lock_);
  int rc =
      sqlite3_open_v2(path_.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // WAL with full synchronisation: a message is on disk once its insert
    // has committed.
    rc = sqlite3_exec(db_,
                      "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                      "CREATE TABLE IF NOT EXISTS messages ("
                      "id INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL);",
                      nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    LOG_ERROR("Failed to open queue '%s' at %s: %s", name_.c_str(), path_.c_str(),
              db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    return false;
  }
  return true;
}

void Queue_Manager::Queue::fail(const char* what) {
  LOG_ERROR("Failed to %s queue '%s': %s", what, name_.c_str(), sqlite3_errmsg(db_));
}

int Queue_Manager::Queue::enqueue(const void* data, std::size_t length, int timeout_ms) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    sqlite3_busy_timeout(db_, timeout_ms);
    Statement insert(db_, "INSERT INTO messages (data) VALUES (?)");
    if (!insert ||
        sqlite3_bind_blob64(insert.get(), 1, length == 0 ? "" : data, length, SQLITE_TRANSIENT) !=
            SQLITE_OK ||
        sqlite3_step(insert.get()) != SQLITE_DONE) {
      fail("write to");
      return -1;
    }
  }
  arrived_.notify_all();
  return 0;
}

// Requires: lock_ held. Removes and returns the oldest message in one
// transaction, so two consumers never take the same one.
int Queue_Manager::Queue::take(std::string& data) {
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail("lock");
    return -1;
  }
  int result = -1;
  {
    Statement oldest(db_, "SELECT id, data FROM messages ORDER BY id LIMIT 1");
    int rc = oldest ? sqlite3_step(oldest.get()) : SQLITE_ERROR;
    if (rc == SQLITE_DONE) {
      result = 0;
    } else if (rc == SQLITE_ROW) {
      sqlite3_int64 id = sqlite3_column_int64(oldest.get(), 0);
      const void* bytes = sqlite3_column_blob(oldest.get(), 1);
      std::string message(static_cast<const char*>(bytes),
                          bytes == nullptr ? 0 : sqlite3_column_bytes(oldest.get(), 1));
      Statement remove(db_, "DELETE FROM messages WHERE id = ?");
      if (remove && sqlite3_bind_int64(remove.get(), 1, id) == SQLITE_OK &&
          sqlite3_step(remove.get()) == SQLITE_DONE) {
        data.swap(message);
        result = 1;
      }
    }
  }
  if (result < 0 || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail("read from");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return -1;
  }
  return result;
}

int Queue_Manager::Queue::dequeue(std::string& data, int wait_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  std::unique_lock<std::mutex> guard(lock_);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  for (;;) {
    std::string message;
    int rc = take(message);
    if (rc != 0) {
      if (rc > 0)
        data.swap(message);
      return rc;
    }
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
      return 0;
    // Another process's messages give no signal here: look again soon.
    auto nap = std::min<std::chrono::steady_clock::duration>(deadline - now,
                                                             std::chrono::milliseconds(100));
    arrived_.wait_for(guard, nap);
  }
}

long long Queue_Manager::Queue::size() {
  std::lock_guard<std::mutex> guard(lock_);
  Statement count(db_, "SELECT COUNT(*) FROM messages");
  if (!count || sqlite3_step(count.get()) != SQLITE_ROW) {
    fail("count");
    return -1;
  }
  return sqlite3_column_int64(count.get(), 0);
}

// ---------------------------------------------------------------------------

Queue_Manager* Queue_Manager::instance() {
  static Queue_Manager manager;
  return &manager;
}

Queue_Manager::Queue_Manager() = default;
Queue_Manager::~Queue_Manager() = default;

std::string Queue_Manager::directory() {
  std::lock_guard<std::mutex> guard(lock_);
  if (dir_.empty()) {
    const char* env = std::getenv("STORAGED_QUEUE_DIR");
    dir_ = env != nullptr && *env != '\0' ? env : kDefaultDir;
  }
  return dir_;
}

void Queue_Manager::set_directory(const std::string& dir) {
  std::lock_guard<std::mutex> guard(lock_);
  dir_ = dir;
  open_.clear();
}

void Queue_Manager::close_all() {
  std::lock_guard<std::mutex> guard(lock_);
  open_.clear();
}

std::shared_ptr<Queue_Manager::Queue> Queue_Manager::get(const std::string& name) {
  if (!is_queue_name(name)) {
    LOG_ERROR("Invalid queue name '%s'.", name.c_str());
    return nullptr;
  }
  std::string dir = directory();
  std::lock_guard<std::mutex> guard(lock_);
  auto it = open_.find(name);
  if (it != open_.end())
    return it->second;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    LOG_ERROR("Failed to create queue folder %s: %s", dir.c_str(), error.message().c_str());
    return nullptr;
  }
  auto queue = std::make_shared<Queue>(name, dir + "/" + name + ".queue");
  if (!queue->open())
    return nullptr;
  open_[name] = queue;
  return queue;
}

int Queue_Manager::enqueue(const std::string& name, const void* data, std::size_t length,
                           const ACE_Time_Value* timeout) {
  if (data == nullptr && length != 0) {
    LOG_ERROR("Failed to enqueue to '%s': no data.", name.c_str());
    return -1;
  }
  std::shared_ptr<Queue> queue = get(name);
  return queue ? queue->enqueue(data, length, to_milliseconds(timeout)) : -1;
}

int Queue_Manager::dequeue(const std::string& name, std::string& data, const ACE_Time_Value* wait) {
  std::shared_ptr<Queue> queue = get(name);
  return queue ? queue->dequeue(data, wait == nullptr ? 0 : to_milliseconds(wait)) : -1;
}

long long Queue_Manager::size(const std::string& name) {
  std::shared_ptr<Queue> queue = get(name);
  return queue ? queue->size() : -1;
}
