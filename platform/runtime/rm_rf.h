// Recursive deletion of a file or directory tree.
#ifndef PLATFORM_RUNTIME_RM_RF_H_
#define PLATFORM_RUNTIME_RM_RF_H_

#include <string>

// Deletes `path` and everything below it; symbolic links are removed, never
// followed. 0 on success, also when `path` does not exist; -1, logged, when
// something could not be deleted (what was deleted stays deleted).
int rm_rf(const std::string& path);

#endif  // PLATFORM_RUNTIME_RM_RF_H_
