// Factories that a loaded module hands the host so the host can make
// objects of the module's classes (parsers of a job type's options, say)
// without knowing them.
//
// A creator may be used from several threads; each object it creates
// belongs to the caller, who deletes it.
#ifndef PLATFORM_JOB_OBJECT_CREATOR_H_
#define PLATFORM_JOB_OBJECT_CREATOR_H_

#include <new>

template <typename Base>
class Object_Creator_T {
 public:
  virtual ~Object_Creator_T() = default;
  // A new object; null when it cannot be allocated.
  virtual Base* create() = 0;
  // Lets go of whatever the creator holds, before it is destroyed.
  virtual void release() {}
};

template <typename Base, typename Derived>
class Object_Creator_Impl_T : public Object_Creator_T<Base> {
 public:
  Base* create() override { return new (std::nothrow) Derived; }
};

// What a module's factory stores in the host's exterminator slot: it
// destroys the object the factory returned.
typedef void (*Object_Exterminator)(void*);

#endif  // PLATFORM_JOB_OBJECT_CREATOR_H_
