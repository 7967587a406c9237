// One run of scatctl: the options every command shares, the catalog it
// opened through the library's front and the printing of results.
//
// The catalog is opened as the backup daemon's own host opens it (no job to
// register, no agent pools to fetch), and the front's usage timer is
// disarmed: scatctl reads and writes the catalog, it reports nothing to a
// daemon. Closing (in the destructor) closes the front and its database
// connections, so an SQLite catalog is checkpointed and whole on exit.
// Used from one thread.
#ifndef TOOLS_SCATCTL_SESSION_H_
#define TOOLS_SCATCTL_SESSION_H_

#include <string>

#include "platform/json/json.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tools/scatctl/catalog_location.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/failure.h"

namespace scatctl {

class Session {
 public:
  // `use`: how front() opens the catalog the options name.
  Session(const Command_Args& args, Catalog_Use use) : args_(args), use_(use) {}
  ~Session();

  // The front, over the catalog the options name, opened on first use (so
  // a command checks its input before anything is opened). Raises the
  // Failure of open_catalog.
  Storage_Catalog_Manager& front();

  // Opens the catalog the options name. READ and WRITE need an existing
  // catalog; CREATE makes one when there is none. Raises a Failure naming
  // the problem; nothing has been written then.
  void open_catalog(Catalog_Use use);
  // Opens (CREATE: makes) the catalog in the SQLite file `file`. With
  // `relaxed_sync` a commit waits for the disk only at checkpoints (a
  // scratch catalog, built quickly).
  void open_catalog_file(const std::string& file, Catalog_Use use, bool relaxed_sync = false);
  // Closes the catalog; a later open_catalog may open another.
  void close_catalog();

  // Requires: a catalog is open.
  const Catalog_Location& location() const { return location_; }
  bool created() const { return created_; }

  void print(const Value& value) const;
  bool compact() const { return args_.compact; }

  // A Failure for "<what>: <the library's reason>", the reason being the
  // last error the library logged since forget_reason().
  Failure failed(const std::string& what) const;
  void forget_reason() const;

 private:
  void open_at(const Catalog_Location& where, Catalog_Use use);

  const Command_Args& args_;
  const Catalog_Use use_;
  Catalog_Location location_;
  Storage_Catalog_Manager* front_ = nullptr;
  bool created_ = false;
};

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_SESSION_H_
