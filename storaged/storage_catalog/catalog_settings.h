// Process-wide catalog settings kept for the daemon's modules, and two host
// lookups: the deduplication engine's data directory and the host's key.
#ifndef STORAGED_STORAGE_CATALOG_CATALOG_SETTINGS_H_
#define STORAGED_STORAGE_CATALOG_CATALOG_SETTINGS_H_

#include <string>

// How often a tape replicate job is retried (default 5).
void set_tape_replicate_retry(int count);
int get_tape_replicate_retry();

// Longest wait, in seconds, the daemon's modules allow themselves (default
// 300).
void set_max_wait_seconds(int seconds);
int get_max_wait_seconds();

// The data directory exported by the deduplication engine's library
// ("libddph" in the platform's naming, symbol "DEDUP_DATA_DIR"). `dir` is
// left unchanged when the library or the symbol is absent.
void get_dedup_datadir(std::string& dir);

// This host's key for encrypting pool attributes: the attribute store's on
// the backup daemon's host, the host manager's elsewhere. False when empty.
bool get_host_key(std::string& key);

#endif  // STORAGED_STORAGE_CATALOG_CATALOG_SETTINGS_H_
