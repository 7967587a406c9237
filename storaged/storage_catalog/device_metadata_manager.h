// Which files and directories the daemon wrote to each device of a pool,
// with their sizes: so callers can tell on which devices a path lies, list
// a pool's or a device's files and sum a device's used space. Rows live in
// the named database "device_metadata".
//
// One process-wide instance (instance/close_instance); safe for concurrent
// use. Additions hold the instance's recursive lock, so concurrent writers
// under the same directories never record a directory twice; the other
// operations take no lock. Results go into caller-owned out-parameters.
#ifndef STORAGED_STORAGE_CATALOG_DEVICE_METADATA_MANAGER_H_
#define STORAGED_STORAGE_CATALOG_DEVICE_METADATA_MANAGER_H_

#include <string>
#include <vector>

#include <ace/Null_Mutex.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Singleton.h>

#include "platform/sql/connection.h"
#include "platform/sql/sql.h"

class Device_Metadata_Manager : public ACE_Recursive_Thread_Mutex {
 public:
  enum Type { TYPE_NONE = 0, TYPE_DIR = 1, TYPE_FILE = 2 };

  struct File_Entry {
    std::string pool_uuid;
    std::string device_uuid;
    std::string path;
    std::string grouping;
    long long size;  // -1 while unknown
  };

  // Null, with errno ENOMEM, when the instance cannot be allocated.
  static Device_Metadata_Manager* instance();
  static void close_instance();

  // Pool and device are uuid texts; paths use '/' and are normalised with
  // validate_path; an empty or null grouping means none. Every operation
  // logs why it failed.

  // Records a file (size -1 when unknown) and every directory above it.
  // True without change when the pool already has the file.
  bool add_file(const char* pool, const char* device, const char* path, const char* grouping,
                long long size);
  // Sets the size of a file the pool has. False when it has none.
  bool update_file(const char* pool, const char* device, const char* path, const char* grouping,
                   long long size);
  // Records a directory and every directory above it, up to ".".
  bool add_dir(const char* device, const char* dir);
  // Forgets a pool's file, or a directory (not what is below it) on every
  // device of the pool. False when the path is not recorded.
  bool remove(const char* pool, const char* path, const char* grouping);

  // The device holding `path` (normalised) in the pool; empty when none,
  // or when several devices hold it.
  std::string is_in_pool(const char* path, const char* pool, const char* grouping);
  // Whether the device has the directory `path` (normalised).
  bool is_in_device(const char* path, const char* device);

  // Whether `path` is a directory or a file on one of the pool's devices;
  // the devices holding it are appended to `devices` when given. TYPE_NONE on
  // any failure.
  Type check(const char* path, const char* pool, std::vector<std::string>* devices,
             const char* grouping);
  Type check(const char* path, const std::vector<std::string>& device_uuids,
             std::vector<std::string>* devices, const char* grouping);

  // The pool's devices that hold any of `paths`, each once, sorted; appended
  // to `devices`. False when the pool's devices cannot be read.
  bool get_devices_with_files(const std::vector<std::string>& paths, const char* pool,
                              std::vector<std::string>& devices, const char* grouping);

  // Pages of file rows, appended to `files`; a limit of -1 means no limit.
  // `total`, when given, receives the count without limit and offset. On
  // failure `files` may hold part of the page.
  bool get_files_with_pool(const char* pool, long long offset, long long limit,
                           std::vector<File_Entry>& files, long long* total);
  bool get_files_with_device(const char* device, long long offset, long long limit,
                             std::vector<File_Entry>& files, long long* total,
                             bool unknown_size_only);
  bool get_files(const database::sql::Connection_Ptr& conn, database::sql::Select_SQL& select,
                 std::vector<File_Entry>& files, long long* total);

  // Bytes of the device's files of known size; -1 on failure.
  long long get_device_used_size(const char* device_uuid);
  // Bytes and count of the device's files of known size. False when the
  // device has none or the query fails; `size` and `files` are then left
  // as they were or half set.
  bool get_device_usage(const std::string& device_uuid, long long& size, long long& files);

  // `path` without leading and trailing blanks and '/', "." when nothing
  // is left, each "//" then made "/" in one pass.
  static void validate_path(const char* path, std::string& normalised);
  // "dir", "file", or empty.
  static std::string type_to_str(Type type);

 private:
  friend class ACE_Singleton<Device_Metadata_Manager, ACE_Null_Mutex>;
  friend class ACE_Unmanaged_Singleton<Device_Metadata_Manager, ACE_Null_Mutex>;
  Device_Metadata_Manager();

  database::sql::Connection_Ptr connection();
  // Runs `insert`; false, logged as a failed device `what` ("file",
  // "dir") insert, when it fails or there is no connection.
  bool execute_insert(const database::sql::Insert_SQL& insert, const char* what);
  // The forms of add_dir and check for a path validate_path already gave:
  // normalising again would halve a run of slashes once more and miss the
  // recorded rows.
  bool add_normalised_dir(const char* device, const std::string& dir);
  Type check_normalised(const std::string& path, const std::vector<std::string>& device_uuids,
                        std::vector<std::string>* devices, const char* grouping);
  Type check_normalised(const std::string& path, const char* pool,
                        std::vector<std::string>* devices, const char* grouping);
  bool pool_devices(const char* pool, std::vector<std::string>& devices, std::string& json_error);
  bool distinct_devices(const database::sql::Connection_Ptr& conn,
                        const database::sql::Select_SQL& select, std::vector<std::string>& found);
};

#endif  // STORAGED_STORAGE_CATALOG_DEVICE_METADATA_MANAGER_H_
