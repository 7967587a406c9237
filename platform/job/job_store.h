// The jobs folder's files: one definition per file, as JSON. Internal to
// the job manager.
#ifndef PLATFORM_JOB_JOB_STORE_H_
#define PLATFORM_JOB_JOB_STORE_H_

#include <string>
#include <vector>

#include "platform/job/job_definition.h"
#include "platform/json/json.h"

namespace job_store {

// Letters, digits, '-' and '_': an id that is safe as a file name.
bool is_plain_id(const std::string& id);

// The definition as the JSON object kept on disk.
Object to_json(const Job_Definition& definition);
// The plain members of a stored object (everything but "options" and
// "source", which need the type's parsers). Raises JSON_Error for a
// missing or mistyped member.
void from_json(const Object& stored, Job_Definition& definition);

// Options kept as their stored JSON, for a type with no parser loaded.
class Stored_Job_Options : public Job_Options {
 public:
  explicit Stored_Job_Options(const Value& value) : value_(value) {}
  bool generate(yajl_gen gen) const override;

 private:
  Value value_;
};

// Writes `text` to `dir`/`name` so that a crash leaves the old file or the
// new one, never a torn one; creates `dir` when missing. False, with
// errno set, on failure.
bool write_file(const std::string& dir, const std::string& name, const std::string& text);
// The names of the "*.json" files of `dir`, sorted.
std::vector<std::string> list_files(const std::string& dir);
bool read_file(const std::string& path, std::string& text);

}  // namespace job_store

#endif  // PLATFORM_JOB_JOB_STORE_H_
