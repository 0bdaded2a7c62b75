// Loading a module as a scripting host does, and driving its script class.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "host/host.h"
#include "hx_entry.h"

namespace hx::host {

struct EntryPoints {
  HxDllGetClassInfoFn getClassInfo = nullptr;
  HxDllGetClassFormFn getClassForm = nullptr;
  HxDllGetInterfaceFn getInterface = nullptr;
  HxDllCanUnloadNowFn canUnloadNow = nullptr;
  HxDllGetClassObjectFn getClassObject = nullptr;
};

class Module {
 public:
  // Loads the shared library at path and resolves the five entry points;
  // null with *error set on failure.
  static std::unique_ptr<Module> load(const std::string& path, std::string* error);
  // A module linked into the program itself (tests).
  static std::unique_ptr<Module> fromEntryPoints(const EntryPoints& entry);
  // Unloads the library (if loaded from a file) when DllCanUnloadNow allows
  // it; a module with live interface objects stays mapped.
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const EntryPoints& entry() const { return entry_; }
  // The class info array read through DllGetClassInfo (terminator excluded),
  // freed with the host's allocator. The walk never reads past the block the
  // module allocated; a missing terminator is a protocol error.
  std::vector<HxClassInfo> classInfo(ScriptHost& host, HxStatus* status = nullptr);
  // Class ID of the class whose interface is the given one; false if none.
  bool findClass(ScriptHost& host, const HxGuid& interfaceId, HxGuid* classId);
  // Runs the registration class's Register against the host's registry.
  // Register's status, or the status of the step that failed
  // (HX_E_NO_CLASS when the module has no registration class).
  HxStatus registerClasses(Host& host);

 private:
  Module() = default;
  EntryPoints entry_;
  void* library_ = nullptr;
};

// One script object, made as a host makes it: instance allocated with the
// class form's size and a filled object header, create routine, script
// interface, (optionally) method 0. Destroyed in reverse order.
class ScriptObject {
 public:
  // Null with *error set on failure. callNew: call method 0 without arguments.
  static std::unique_ptr<ScriptObject> create(ScriptHost& host, Module& module, std::string* error,
                                              bool callNew = true);
  // Releases the script interface, runs the destroy routine, frees the
  // instance. Must run before the Host goes.
  ~ScriptObject();
  ScriptObject(const ScriptObject&) = delete;
  ScriptObject& operator=(const ScriptObject&) = delete;

  // Calls a method by number; args exclude the object itself. The result
  // belongs to the caller (Host::release); void when the method wrote none.
  // A status other than HX_OK from Call is a protocol error.
  HxValue call(int32_t method, std::span<const HxValue> args = {});
  HxScript* script() const { return script_; }
  void* instance() const { return instance_; }
  // References the host holds on the instance (its own plus the module's).
  int32_t ownerRefCount() const;

  // A host-made instance: zero-filled memory of the class form's size with
  // a filled object header, and the owner's reference count.
  struct Instance;

 private:
  ScriptObject();
  ScriptHost* host_ = nullptr;
  void* instance_ = nullptr;
  HxDestroyFn destroy_ = nullptr;
  HxScript* script_ = nullptr;
  std::unique_ptr<Instance> owned_;
};

}  // namespace hx::host
