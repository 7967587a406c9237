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

// Seconds a request to the backup daemon may wait for its answer before
// the daemon counts as down and the call fails (it is tried again on its
// next turn). 0, the default, keeps each request's own limit: 60 s, and
// 120 s for the storages list.
void set_daemon_timeout(int seconds);
int get_daemon_timeout(int fallback);
// Applies get_daemon_timeout(60) to `client`; connecting waits 3 s at most.
class JSON_RESTful_Client;
void limit_daemon_wait(JSON_RESTful_Client& client);

// The data directory exported by the deduplication engine's library
// ("libddph" in the platform's naming, symbol "DEDUP_DATA_DIR"). `dir` is
// left unchanged when the library or the symbol is absent.
void get_dedup_datadir(std::string& dir);

// This host's key for encrypting pool attributes: the attribute store's on
// the backup daemon's host, the host manager's elsewhere. False when empty.
bool get_host_key(std::string& key);

#endif  // STORAGED_STORAGE_CATALOG_CATALOG_SETTINGS_H_
