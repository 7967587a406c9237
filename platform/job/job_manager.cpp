// The job registry.
//
// The jobs folder is the truth: the list of jobs is rebuilt from it when
// the instance starts and whenever a module is loaded, and a submission
// becomes visible only once its file is safely written. Hence a definition
// submitted once is found again after any restart, and a failed write
// leaves no job behind.
#include "platform/job/job_manager.h"

#include <cstdlib>

#include <ace/DLL.h>

#include "platform/job/job_creator.h"
#include "platform/job/job_parsers.h"
#include "platform/job/job_store.h"
#include "platform/job/object_creator.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"

namespace {

std::mutex instance_lock;
Job_Manager* the_instance = nullptr;  // guarded by instance_lock
std::string configured_directory;     // guarded by instance_lock

std::string default_directory() {
  const char* dir = std::getenv("STORAGED_JOB_DIR");
  return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string("/var/lib/storaged/jobs");
}

// An object a module's factory made, destroyed the module's way.
template <typename T>
struct Module_Object {
  T* object = nullptr;
  Object_Exterminator exterminator = nullptr;
  ~Module_Object() {
    if (object != nullptr && exterminator != nullptr)
      exterminator(object);
  }
  // Has `factory` (a symbol of the module, may be null: no factory) make
  // the object. False when the factory made nothing.
  bool make(void* factory) {
    if (factory == nullptr)
      return true;
    object = reinterpret_cast<T* (*)(Object_Exterminator*)>(factory)(&exterminator);
    return object != nullptr;
  }
};

// What a parser from `creator` (may be null: none) reads from the stored
// member `stored`, through the parser's `result`. Null when there is no
// parser or it fails; a failure is logged, naming the member `what` of the
// definition in `file`.
template <typename Handler, typename Ptr>
Ptr parse_member(Object_Creator_T<YAJL_Handler>* creator, const Value& stored,
                 Ptr (Handler::*result)() const, const char* what, const std::string& file) {
  if (creator == nullptr)
    return Ptr();
  std::unique_ptr<YAJL_Handler> handler(creator->create());
  auto* parser = dynamic_cast<Handler*>(handler.get());
  if (parser == nullptr)
    return Ptr();
  Ptr parsed;
  if (parser->parse(JSON_Dump(stored)) == YAJL_Handler::PARSED)
    parsed = (parser->*result)();
  if (parsed.null())
    LOG_ERROR("Failed to parse the %s of job definition '%s'.", what, file.c_str());
  return parsed;
}

// A stored source read as it is, for a type whose parser cannot read it.
Job_Source_Ptr plain_source(const Value& stored) {
  Job_Source_Ptr source(new Job_Source);
  if (stored.is_object()) {
    const Object& members = stored.get_ref<const Object&>();
    if (const std::string* id = object_get_str(members, "id"))
      source->id(*id);
    if (const std::string* name = object_get_str(members, "name"))
      source->name(*name);
  }
  return source;
}

}  // namespace

struct Job_Manager::Loaded_Module {
  Job_Module names;
  Module_Object<Job_Creator> creator;
  Module_Object<Object_Creator_T<YAJL_Handler>> options_parser;
  Module_Object<Object_Creator_T<YAJL_Handler>> source_parser;
};

Job_Manager* Job_Manager::instance() {
  std::lock_guard<std::mutex> guard(instance_lock);
  if (the_instance == nullptr) {
    the_instance =
        new Job_Manager(configured_directory.empty() ? default_directory() : configured_directory);
  }
  return the_instance;
}

void Job_Manager::close_instance() {
  std::lock_guard<std::mutex> guard(instance_lock);
  delete the_instance;
  the_instance = nullptr;
}

void Job_Manager::configure(const std::string& directory) {
  std::lock_guard<std::mutex> guard(instance_lock);
  configured_directory = directory;
}

Job_Manager::Job_Manager(const std::string& directory) : directory_(directory) {
  std::lock_guard<std::mutex> guard(lock_);
  load_definitions();
}

Job_Manager::~Job_Manager() {
  // Jobs made by a module go before the module's creators; the libraries
  // themselves stay loaded, since running jobs still use their code.
  jobs_.clear();
  modules_.clear();
}

std::vector<Job_Ptr> Job_Manager::jobs() {
  std::lock_guard<std::mutex> guard(lock_);
  return jobs_;
}

bool Job_Manager::submit_job(const Job_Definition_Ptr& definition, int) {
  if (definition.null()) {
    LOG_ERROR("Failed to submit job: no definition.");
    return false;
  }
  Job_Definition& d = *definition;
  if (!job_store::is_plain_id(d.id())) {
    LOG_ERROR("Failed to submit job '%s': bad job id '%s'.", d.name().c_str(), d.id().c_str());
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  for (const Job_Ptr& job : jobs_) {
    if (job->definition() != nullptr && job->definition()->id() == d.id()) {
      LOG_ERROR("Failed to submit job '%s': job id '%s' exists.", d.name().c_str(), d.id().c_str());
      return false;
    }
  }
  if (d.uid().empty())
    d.uid(uuid_string());
  std::string text = JSON_Dump(Value(job_store::to_json(d)), true);
  if (!job_store::write_file(directory_, d.id() + ".json", text)) {
    LOG_ERROR("Failed to store job '%s' in '%s': %m", d.name().c_str(), directory_.c_str());
    return false;
  }
  jobs_.push_back(make_job(definition));
  return true;
}

bool Job_Manager::load_module(const Job_Module& names) {
  ACE_DLL dll;
  // The library is never unloaded: jobs it made may outlive the manager.
  if (dll.open(names.library.c_str(), ACE_DEFAULT_SHLIB_MODE, false) != 0) {
    LOG_ERROR("Failed to load job module '%s': %s", names.library.c_str(), dll.error());
    return false;
  }
  std::unique_ptr<Loaded_Module> module(new Loaded_Module);
  module->names = names;
  auto find = [&](const std::string& symbol, void*& out) {
    if (symbol.empty())
      return true;
    out = dll.symbol(symbol.c_str());
    if (out == nullptr)
      LOG_ERROR("Failed to find '%s' in job module '%s'.", symbol.c_str(), names.library.c_str());
    return out != nullptr;
  };
  void* creator = nullptr;
  void* options = nullptr;
  void* source = nullptr;
  if (!find(names.job_creator, creator) || !find(names.options_parser, options) ||
      !find(names.source_parser, source))
    return false;
  // Every factory runs, even after one has failed.
  bool made = module->creator.make(creator);
  made = module->options_parser.make(options) && made;
  made = module->source_parser.make(source) && made;
  if (!made) {
    LOG_ERROR("Failed to create the objects of job module '%s'.", names.library.c_str());
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  modules_.push_back(std::move(module));
  load_definitions();
  return true;
}

const Job_Manager::Loaded_Module* Job_Manager::module_of(int type, int subtype) const {
  // The latest module loaded for a type wins.
  for (auto it = modules_.rbegin(); it != modules_.rend(); ++it)
    if ((*it)->names.type == type && (*it)->names.subtype == subtype)
      return it->get();
  return nullptr;
}

Job_Ptr Job_Manager::make_job(const Job_Definition_Ptr& definition) {
  const Loaded_Module* module = module_of(definition->type(), definition->subtype());
  if (module != nullptr && module->creator.object != nullptr) {
    Job_Ptr job = module->creator.object->create_job(definition);
    if (job.get() != nullptr)
      return job;
  }
  return Job_Ptr(new Job(definition));
}

void Job_Manager::load_definitions() {
  jobs_.clear();
  for (const std::string& name : job_store::list_files(directory_)) {
    Job_Definition_Ptr definition = read_definition(directory_ + "/" + name);
    if (!definition.null())
      jobs_.push_back(make_job(definition));
  }
}

Job_Definition_Ptr Job_Manager::read_definition(const std::string& file) {
  std::string text;
  Value stored;
  if (!job_store::read_file(file, text) || !loads_json(text, stored) || !stored.is_object()) {
    LOG_ERROR("Failed to read job definition '%s'.", file.c_str());
    return Job_Definition_Ptr();
  }
  const Object& members = stored.get_ref<const Object&>();
  Job_Definition_Ptr definition(new Job_Definition);
  try {
    job_store::from_json(members, *definition);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to read job definition '%s': %s", file.c_str(), e.what());
    return Job_Definition_Ptr();
  }
  const Loaded_Module* module = module_of(definition->type(), definition->subtype());
  auto options = members.find("options");
  if (options != members.end()) {
    Job_Options_Ptr parsed =
        parse_member(module != nullptr ? module->options_parser.object : nullptr, options->second,
                     &Job_Options_Handler::options, "options", file);
    definition->options(parsed.null()
                            ? Job_Options_Ptr(new job_store::Stored_Job_Options(options->second))
                            : parsed);
  }
  auto source = members.find("source");
  if (source != members.end()) {
    Job_Source_Ptr parsed =
        parse_member(module != nullptr ? module->source_parser.object : nullptr, source->second,
                     &Job_Source_Handler::source, "source", file);
    definition->source(parsed.null() ? plain_source(source->second) : parsed);
  }
  return definition;
}
