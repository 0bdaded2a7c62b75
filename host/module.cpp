#include "host/module.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "hx_ids.h"

namespace hx::host {

#if defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
// LeakSanitizer takes the start-up allocations of a module's own
// dependencies (FFmpeg's) for leaks once dlclose has unmapped them.
// Sanitizer builds keep modules mapped, so what it reports are real leaks.
constexpr int kSanitizerKeepMapped = RTLD_NODELETE;
#elif !defined(_WIN32)
constexpr int kSanitizerKeepMapped = 0;
#endif

// Bookkeeping behind an instance's object header (hostData points here).
struct ScriptObject::Instance {
  uint32_t magic = 0;
  ScriptHost* host = nullptr;
  HxDllGetInterfaceFn getInterface = nullptr;
  HxGuid classId{};
  int64_t refs = 1;  // the host's own
  std::unique_ptr<std::byte[]> memory;
  HxCreateFn create = nullptr;
  HxDestroyFn destroy = nullptr;

  void* address() const { return memory.get(); }
};

namespace {

using Instance = ScriptObject::Instance;

constexpr uint32_t kOwnerMagic = 0x574F5848;  // "HXOW"
// An instance is a few hundred bytes; a larger class form is a broken module.
constexpr uint32_t kMaxInstanceSize = 1u << 24;

void setError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

std::string statusText(const char* what, HxStatus status) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s failed: 0x%08X", what, static_cast<unsigned>(status));
  return buf;
}

// ---- the owner's own QueryInterface/AddRef/Release -------------------------

Instance* ownerOf(HxUnknown* self) {
  if (self == nullptr) return nullptr;
  auto* header = reinterpret_cast<HxObjectHeader*>(self);
  auto* inst = static_cast<Instance*>(header->hostData);
  if (inst == nullptr || inst->magic != kOwnerMagic || inst->address() != self) return nullptr;
  return inst;
}

// Asking the instance for an interface makes a new interface object, as
// the module's DllGetInterface would for this class.
HxStatus HX_CALL ownerQueryInterface(HxUnknown* self, const HxGuid* iid, void** out) {
  Instance* inst = ownerOf(self);
  if (inst == nullptr) return HX_E_INVALID_ARG;
  if (iid == nullptr || out == nullptr) {
    inst->host->noteProtocolError("QueryInterface on an instance with a null pointer");
    return HX_E_INVALID_ARG;
  }
  *out = nullptr;
  return inst->getInterface(self, &inst->classId, iid, out);
}

uint32_t HX_CALL ownerAddRef(HxUnknown* self) {
  Instance* inst = ownerOf(self);
  if (inst == nullptr) return 0;
  return static_cast<uint32_t>(++inst->refs);
}

// The host's own reference is never given up by the module.
uint32_t HX_CALL ownerRelease(HxUnknown* self) {
  Instance* inst = ownerOf(self);
  if (inst == nullptr) return 0;
  if (inst->refs <= 1) {
    inst->host->noteProtocolError("Release of an instance the module holds no reference on");
    return static_cast<uint32_t>(inst->refs);
  }
  return static_cast<uint32_t>(--inst->refs);
}

const HxUnknownVtbl kOwnerVtbl = {ownerQueryInterface, ownerAddRef, ownerRelease};

// Instance of classId with its header filled; the create routine has not run.
std::unique_ptr<Instance> makeInstance(ScriptHost& host, const EntryPoints& entry,
                                       const HxGuid& classId, std::string* error) {
  if (entry.getClassForm == nullptr || entry.getInterface == nullptr) {
    setError(error, "module lacks DllGetClassForm or DllGetInterface");
    return nullptr;
  }
  uint32_t size = 0;
  HxCreateFn create = nullptr;
  HxDestroyFn destroy = nullptr;
  HxStatus status = entry.getClassForm(&classId, &size, &create, &destroy);
  if (status != HX_OK) {
    setError(error, statusText("DllGetClassForm", status));
    return nullptr;
  }
  if (size < sizeof(HxObjectHeader) || size > kMaxInstanceSize || create == nullptr ||
      destroy == nullptr) {
    host.noteProtocolError("DllGetClassForm gave an unusable class form");
    setError(error, "unusable class form for " + guidText(classId));
    return nullptr;
  }
  auto inst = std::unique_ptr<Instance>(new (std::nothrow) Instance);
  if (inst != nullptr) inst->memory.reset(new (std::nothrow) std::byte[size]());
  if (inst == nullptr || inst->memory == nullptr) {
    setError(error, "out of memory for the instance");
    return nullptr;
  }
  inst->magic = kOwnerMagic;
  inst->host = &host;
  inst->getInterface = entry.getInterface;
  inst->classId = classId;
  inst->create = create;
  inst->destroy = destroy;
  auto* header = reinterpret_cast<HxObjectHeader*>(inst->address());
  header->vtbl = &kOwnerVtbl;
  header->callback = host.callback();
  header->allocator = host.allocator();
  header->hostData = inst.get();
  return inst;
}

// After the module let go of the instance only the host's own reference is left.
void checkReleased(ScriptHost& host, const Instance& inst) {
  if (inst.refs != 1)
    host.noteProtocolError("module still holds " + std::to_string(inst.refs - 1) +
                           " references on a destroyed instance");
}

// An instance of the class that has interfaceId, created, with that
// interface in *out (one reference for the caller). Null with *status (and
// *error) set when a step fails; an instance whose interface cannot be had
// is destroyed again.
std::unique_ptr<Instance> boundInstance(ScriptHost& host, Module& module, const HxGuid& interfaceId,
                                        const char* kind, void** out, HxStatus* status,
                                        std::string* error) {
  HxGuid classId{};
  if (!module.findClass(host, interfaceId, &classId)) {
    *status = HX_E_NO_CLASS;
    setError(error, std::string("module has no ") + kind + " class");
    return nullptr;
  }
  std::unique_ptr<Instance> inst = makeInstance(host, module.entry(), classId, error);
  if (inst == nullptr) {
    *status = HX_E_OUT_OF_MEMORY;
    return nullptr;
  }
  *status = inst->create(inst->address());
  if (*status != HX_OK) {
    setError(error, statusText("create routine", *status));
    return nullptr;
  }
  *status = module.entry().getInterface(inst->address(), &classId, &interfaceId, out);
  if (*status == HX_OK && *out == nullptr) {
    host.noteProtocolError("DllGetInterface succeeded without an interface");
    *status = HX_E_NO_INTERFACE;
  }
  if (*status != HX_OK) {
    inst->destroy(inst->address());
    checkReleased(host, *inst);
    setError(error, statusText("DllGetInterface", *status));
    return nullptr;
  }
  return inst;
}

bool isTerminator(const HxClassInfo& e) {
  static const HxGuid kZero{};
  return sameGuid(e.classId, kZero) && sameGuid(e.interfaceId, kZero);
}

#ifdef _WIN32
using Symbol = FARPROC;
#else
using Symbol = void*;
#endif

template <class Fn>
Fn symbolAs(Symbol symbol) {
  static_assert(sizeof(Fn) == sizeof(Symbol));
  Fn fn;
  std::memcpy(&fn, &symbol, sizeof fn);
  return fn;
}

void unloadLibrary(void* library) {
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(library));
#else
  dlclose(library);
#endif
}

// A FIFO or device given as the module would block the loader or feed it
// endless bytes: only a regular file is handed to the system loader. A
// name that is not there is left to the loader, which may search for it.
bool refuseNonRegular(const std::string& path, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return false;
  setError(error, "cannot load " + path + ": not a regular file");
  return true;
}

}  // namespace

// ---- Module --------------------------------------------------------------------

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error) {
  if (refuseNonRegular(path, error)) return nullptr;
#ifdef _WIN32
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) {
    setError(error, "cannot load " + path + ": error " + std::to_string(GetLastError()));
    return nullptr;
  }
  auto lookup = [&](const char* name) { return GetProcAddress(library, name); };
#else
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | kSanitizerKeepMapped);
  if (library == nullptr) {
    const char* why = dlerror();
    setError(error, "cannot load " + path + ": " + (why != nullptr ? why : "unknown error"));
    return nullptr;
  }
  auto lookup = [&](const char* name) { return dlsym(library, name); };
#endif
  std::unique_ptr<Module> module(new Module);
  module->library_ = library;
  struct Wanted {
    const char* name;
    Symbol symbol;
  };
  Wanted wanted[] = {{HX_ENTRY_GET_CLASS_INFO, lookup(HX_ENTRY_GET_CLASS_INFO)},
                     {HX_ENTRY_GET_CLASS_FORM, lookup(HX_ENTRY_GET_CLASS_FORM)},
                     {HX_ENTRY_GET_INTERFACE, lookup(HX_ENTRY_GET_INTERFACE)},
                     {HX_ENTRY_CAN_UNLOAD_NOW, lookup(HX_ENTRY_CAN_UNLOAD_NOW)},
                     {HX_ENTRY_GET_CLASS_OBJECT, lookup(HX_ENTRY_GET_CLASS_OBJECT)}};
  for (const Wanted& w : wanted) {
    if (w.symbol == nullptr) {
      setError(error, path + " has no entry point " + w.name);
      return nullptr;  // nothing was called yet, so unloading is safe
    }
  }
  module->entry_.getClassInfo = symbolAs<HxDllGetClassInfoFn>(wanted[0].symbol);
  module->entry_.getClassForm = symbolAs<HxDllGetClassFormFn>(wanted[1].symbol);
  module->entry_.getInterface = symbolAs<HxDllGetInterfaceFn>(wanted[2].symbol);
  module->entry_.canUnloadNow = symbolAs<HxDllCanUnloadNowFn>(wanted[3].symbol);
  module->entry_.getClassObject = symbolAs<HxDllGetClassObjectFn>(wanted[4].symbol);
  return module;
}

std::unique_ptr<Module> Module::fromEntryPoints(const EntryPoints& entry) {
  std::unique_ptr<Module> module(new Module);
  module->entry_ = entry;
  return module;
}

Module::~Module() {
  if (library_ == nullptr) return;
  // Code of live interface objects must stay mapped.
  if (entry_.canUnloadNow != nullptr && entry_.canUnloadNow() != HX_OK) return;
  unloadLibrary(library_);
}

std::vector<HxClassInfo> Module::classInfo(ScriptHost& host, HxStatus* status) {
  auto finish = [&](HxStatus s, std::vector<HxClassInfo> entries = {}) {
    if (status != nullptr) *status = s;
    return entries;
  };
  if (entry_.getClassInfo == nullptr) return finish(HX_E_INVALID_ARG);
  HxAllocator* alloc = host.allocator();
  HxClassInfo* array = nullptr;
  HxStatus result = entry_.getClassInfo(alloc, &array);
  if (result != HX_OK) {
    if (array != nullptr) {
      host.noteProtocolError("DllGetClassInfo failed but handed out an array");
      if (host.blockSize(array)) alloc->vtbl->HostFree(alloc, array);
    }
    return finish(result);
  }
  if (array == nullptr) {
    host.noteProtocolError("DllGetClassInfo succeeded without an array");
    return finish(HX_E_INVALID_ARG);
  }
  std::optional<uint32_t> size = host.blockSize(array);
  if (!size) {
    host.noteProtocolError("class info array is not a block of the host allocator");
    return finish(HX_E_INVALID_ARG);
  }
  // Bounded by the block: a module that forgets the terminator is not
  // followed into memory it does not own.
  std::vector<HxClassInfo> entries;
  bool terminated = false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(array);
  for (size_t i = 0; i < *size / sizeof(HxClassInfo); ++i) {
    HxClassInfo e;
    std::memcpy(&e, bytes + i * sizeof(HxClassInfo), sizeof e);
    if (isTerminator(e)) {
      terminated = true;
      break;
    }
    entries.push_back(e);
  }
  alloc->vtbl->HostFree(alloc, array);
  if (!terminated) {
    host.noteProtocolError("class info array has no terminator");
    return finish(HX_E_INVALID_ARG, std::move(entries));
  }
  return finish(HX_OK, std::move(entries));
}

bool Module::findClass(ScriptHost& host, const HxGuid& interfaceId, HxGuid* classId) {
  static const HxGuid kClassEntry = HX_IID_CLASS_ENTRY;
  const HxClassInfo* owner = nullptr;
  for (const HxClassInfo& e : classInfo(host)) {
    if (sameGuid(e.interfaceId, kClassEntry)) {
      owner = &e;
      continue;
    }
    if (owner != nullptr && sameGuid(e.interfaceId, interfaceId)) {
      if (classId != nullptr) *classId = owner->classId;
      return true;
    }
  }
  return false;
}

HxStatus Module::registerClasses(Host& host) {
  static const HxGuid kRegistration = HX_IID_REGISTRATION;
  void* out = nullptr;
  HxStatus status = HX_OK;
  std::unique_ptr<Instance> inst =
      boundInstance(host, *this, kRegistration, "registration", &out, &status, nullptr);
  if (inst == nullptr) return status;
  auto* registration = static_cast<HxRegistration*>(out);
  status = registration->vtbl->Register(registration, host.registryCache(), host.newEntryDict());
  registration->vtbl->Release(registration);
  inst->destroy(inst->address());
  checkReleased(host, *inst);
  return status;
}

// ---- ScriptObject ---------------------------------------------------------------

ScriptObject::ScriptObject() = default;

std::unique_ptr<ScriptObject> ScriptObject::create(ScriptHost& host, Module& module,
                                                   std::string* error, bool callNew) {
  static const HxGuid kScript = HX_IID_SCRIPT;
  void* out = nullptr;
  HxStatus status = HX_OK;
  std::unique_ptr<Instance> inst = boundInstance(host, module, kScript, "script", &out, &status, error);
  if (inst == nullptr) return nullptr;
  std::unique_ptr<ScriptObject> object(new ScriptObject);
  object->host_ = &host;
  object->instance_ = inst->address();
  object->destroy_ = inst->destroy;
  object->script_ = static_cast<HxScript*>(out);
  object->owned_ = std::move(inst);
  if (callNew) {
    HxValue result = object->call(0);
    host.release(result);
  }
  return object;
}

ScriptObject::~ScriptObject() {
  if (owned_ == nullptr) return;
  if (script_ != nullptr) script_->vtbl->Release(script_);
  destroy_(instance_);
  checkReleased(*host_, *owned_);
}

HxValue ScriptObject::call(int32_t method, std::span<const HxValue> args) {
  std::vector<HxValue> argv;
  argv.reserve(args.size() + 1);
  argv.push_back(host_->makeObject());
  argv.insert(argv.end(), args.begin(), args.end());
  HxCallRecord record{method, kVoidValue, static_cast<int32_t>(argv.size()), argv.data()};
  HxStatus status = script_->vtbl->Call(script_, &record);
  host_->release(argv[0]);
  if (status != HX_OK) host_->noteProtocolError(statusText("Call", status));
  return record.result;
}

int32_t ScriptObject::ownerRefCount() const {
  return owned_ == nullptr ? 0 : static_cast<int32_t>(owned_->refs);
}

}  // namespace hx::host
