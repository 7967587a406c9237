#include "platform/job/job_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace job_store {

namespace {

bool make_dirs(const std::string& dir) {
  for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string part = dir.substr(0, slash);
    if (::mkdir(part.c_str(), 0750) != 0 && errno != EEXIST)
      return false;
    if (slash == std::string::npos)
      return true;
  }
}

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool sync_dir(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0)
    return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool generate_value(yajl_gen gen, const Value& value) {
  auto text = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
  switch (value.type()) {
    case Value::value_t::object:
      if (yajl_gen_map_open(gen) != yajl_gen_status_ok)
        return false;
      for (const auto& member : value.items())
        if (yajl_gen_string(gen, text(member.key()), member.key().size()) != yajl_gen_status_ok ||
            !generate_value(gen, member.value()))
          return false;
      return yajl_gen_map_close(gen) == yajl_gen_status_ok;
    case Value::value_t::array:
      if (yajl_gen_array_open(gen) != yajl_gen_status_ok)
        return false;
      for (const Value& element : value)
        if (!generate_value(gen, element))
          return false;
      return yajl_gen_array_close(gen) == yajl_gen_status_ok;
    case Value::value_t::string: {
      const std::string& s = value.get_ref<const std::string&>();
      return yajl_gen_string(gen, text(s), s.size()) == yajl_gen_status_ok;
    }
    case Value::value_t::boolean:
      return yajl_gen_bool(gen, value.get<bool>()) == yajl_gen_status_ok;
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned:
    case Value::value_t::number_float: {
      std::string number = value.dump();
      return yajl_gen_number(gen, number.data(), number.size()) == yajl_gen_status_ok;
    }
    default:
      return yajl_gen_null(gen) == yajl_gen_status_ok;
  }
}

}  // namespace

bool is_plain_id(const std::string& id) {
  if (id.empty() || id.size() > 128)
    return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

Object to_json(const Job_Definition& d) {
  Object stored;
  stored["id"] = d.id();
  stored["uid"] = d.uid();
  stored["type"] = d.type();
  stored["subtype"] = d.subtype();
  stored["name"] = d.name();
  stored["agent"] = d.agent();
  stored["creation_time"] = d.creation_time();
  stored["host_id"] = d.host_id();
  stored["history"] = d.history();
  if (!d.schedule().null()) {
    Object schedule{{"kind", d.schedule()->kind()}};
    if (auto* daily = dynamic_cast<const Job_Daily_Schedule*>(d.schedule().get())) {
      schedule["interval"] = daily->interval();
      schedule["start_time"] = daily->start_time();
    }
    stored["schedule"] = schedule;
  }
  if (!d.source().null())
    stored["source"] = Object{{"id", d.source()->id()}, {"name", d.source()->name()}};
  Value options;
  if (!d.options().null() && loads_json(d.options()->to_json(), options))
    stored["options"] = options;
  return stored;
}

void from_json(const Object& stored, Job_Definition& d) {
  d.id(object_get_str_or_throw(stored, "id"));
  d.uid(object_get_str_or_throw(stored, "uid"));
  d.type(object_get_int_or_throw(stored, "type"));
  d.subtype(object_get_int_or_throw(stored, "subtype"));
  d.name(object_get_str_or_throw(stored, "name"));
  d.agent(object_get_str_or_throw(stored, "agent"));
  d.creation_time(object_get_int64_or_throw(stored, "creation_time"));
  d.host_id(object_get_str_or_throw(stored, "host_id"));
  d.history(object_get_bool_or_throw(stored, "history"));
  const Object* schedule = object_get_object(stored, "schedule");
  if (schedule != nullptr && object_get_str_or_throw(*schedule, "kind") == "daily") {
    auto* daily = new Job_Daily_Schedule;
    d.schedule(Job_Schedule_Ptr(daily));
    daily->interval(object_get_int_or_throw(*schedule, "interval"));
    daily->start_time(object_get_int_or_throw(*schedule, "start_time"));
  }
}

bool Stored_Job_Options::generate(yajl_gen gen) const {
  return generate_value(gen, value_);
}

bool write_file(const std::string& dir, const std::string& name, const std::string& text) {
  if (!make_dirs(dir))
    return false;
  std::string path = dir + "/" + name;
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0)
    return false;
  bool ok = write_all(fd, text) && ::fsync(fd) == 0;
  int saved = errno;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    saved = ok ? errno : saved;
    ::unlink(temp.c_str());
    errno = saved;
    return false;
  }
  return sync_dir(dir);
}

std::vector<std::string> list_files(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr)
    return names;
  while (struct dirent* entry = ::readdir(d)) {
    std::string name = entry->d_name;
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0)
      names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool read_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream content;
  content << in.rdbuf();
  text = content.str();
  return !in.bad();
}

}  // namespace job_store
