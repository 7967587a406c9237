// The library's entry points that take outside input, each as one function
// of raw bytes: the fuzz targets call them, and the regression test replays
// every kept input through the same functions. Not thread safe; each sets
// up, once per process, the state it needs (temporary folders, a catalog,
// the front in the right role).
#ifndef FUZZ_FUZZ_ENTRIES_H_
#define FUZZ_FUZZ_ENTRIES_H_

#include <cstddef>
#include <cstdint>

namespace scat_fuzz {

using Entry_Function = void (*)(const std::uint8_t* data, std::size_t size);

struct Entry {
  const char* name;  // also the folder of its corpus and regressions
  Entry_Function run;
};

// JSON text as loads_json reads it, dumped back when it parses.
void json_text(const std::uint8_t* data, std::size_t size);
// A request through parse_params and parse_params2.
void request_params(const std::uint8_t* data, std::size_t size);
// {"record": ..., "update": ..., "filter": ..., "uuids": [...]} into an
// SQLite back-end: add, update, state changes, queries and removals.
void catalog_records(const std::uint8_t* data, std::size_t size);
// A request to predelete_backupset on a catalog holding a few chains.
void predelete_request(const std::uint8_t* data, std::size_t size);
// The consistency check job's stored options and source.
void consistency_parsers(const std::uint8_t* data, std::size_t size);
// The daemon's storages list as the agent's local pool discovery reads it,
// and its pool state sync reply as the front applies it.
void daemon_replies(const std::uint8_t* data, std::size_t size);

// Every entry, ended by {nullptr, nullptr}.
const Entry* entries();

}  // namespace scat_fuzz

#endif  // FUZZ_FUZZ_ENTRIES_H_
