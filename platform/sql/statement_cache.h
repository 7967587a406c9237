// Prepared statements of one connection, kept by their text for the next
// use, so a statement the catalog runs again and again is parsed and
// planned once per connection instead of once per call.
//
// A statement is taken out while it runs and put back when done, so two
// open cursors over one text each get their own. At most `capacity` idle
// statements are kept; the least recently used one is closed to make room.
// Belongs to one connection and shares its rule: no concurrent use.
#ifndef PLATFORM_SQL_STATEMENT_CACHE_H_
#define PLATFORM_SQL_STATEMENT_CACHE_H_

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

namespace database {
namespace sql {

template <class Handle>
class Statement_Cache {
 public:
  using Closer = void (*)(Handle);

  Statement_Cache(std::size_t capacity, Closer close) : capacity_(capacity), close_(close) {}
  ~Statement_Cache() { clear(); }

  Statement_Cache(const Statement_Cache&) = delete;
  Statement_Cache& operator=(const Statement_Cache&) = delete;

  // The idle statement kept for `text`, now the caller's; null when none.
  Handle take(const std::string& text) {
    auto found = index_.find(text);
    if (found == index_.end())
      return nullptr;
    Handle handle = found->second->second;
    lru_.erase(found->second);
    index_.erase(found);
    return handle;
  }

  // Keeps `handle`, ready to run again, for the next take of `text`. One
  // statement per text is kept; a second one is closed.
  void put(const std::string& text, Handle handle) {
    if (capacity_ == 0 || index_.count(text) != 0) {
      close_(handle);
      return;
    }
    lru_.emplace_front(text, handle);
    index_[text] = lru_.begin();
    while (lru_.size() > capacity_) {
      close_(lru_.back().second);
      index_.erase(lru_.back().first);
      lru_.pop_back();
    }
  }

  // Closes every idle statement: after the session they belong to is gone.
  void clear() {
    for (auto& entry : lru_)
      close_(entry.second);
    lru_.clear();
    index_.clear();
  }

  std::size_t size() const { return lru_.size(); }

 private:
  using Entry = std::pair<std::string, Handle>;

  std::size_t capacity_;
  Closer close_;
  std::list<Entry> lru_;  // most recently put first
  std::unordered_map<std::string, typename std::list<Entry>::iterator> index_;
};

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_STATEMENT_CACHE_H_
