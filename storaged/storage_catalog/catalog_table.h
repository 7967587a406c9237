// The catalog table of one pool, as its name reaches SQL. A pool's table is
// named by the pool's uuid, and only a pool uuid (32 lower-case hexadecimal
// characters) makes a Catalog_Table, so every statement that names a pool's
// table through one names a checked table and nothing else. Statements
// written as text take sql(); builders take name(). A plain value.
#ifndef STORAGED_STORAGE_CATALOG_CATALOG_TABLE_H_
#define STORAGED_STORAGE_CATALOG_CATALOG_TABLE_H_

#include <stdexcept>
#include <string>

class Catalog_Table {
 public:
  // Raises std::invalid_argument, naming `pool_uuid`, when it is not a
  // pool uuid; the operations catch it at their edge and fail.
  explicit Catalog_Table(const std::string& pool_uuid);

  // Whether `name` is a pool uuid, and so a catalog table's name.
  static bool is_pool_uuid(const std::string& name);

  // The pool uuid.
  const std::string& name() const { return name_; }
  // The name quoted for SQL text; both engines read backquotes.
  std::string sql() const { return "`" + name_ + "`"; }

 private:
  std::string name_;
};

#endif  // STORAGED_STORAGE_CATALOG_CATALOG_TABLE_H_
