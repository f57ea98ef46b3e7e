// dlopen, dlsym, dlclose and dlerror for the Windows test builds.
#include "dlfcn.h"

#include <windows.h>

#include <cstdio>

namespace {
char last_error[256] = "";
bool has_error = false;

void Remember(const char *what, const char *name) {
  std::snprintf(last_error, sizeof last_error, "%s %s: error %lu", what, name ? name : "(null)",
                static_cast<unsigned long>(GetLastError()));
  has_error = true;
}
} // namespace

extern "C" void *dlopen(const char *path, int) {
  HMODULE module = path ? LoadLibraryA(path) : GetModuleHandleA(nullptr);
  if (!module) Remember("LoadLibrary", path);
  return reinterpret_cast<void *>(module);
}

extern "C" void *dlsym(void *handle, const char *name) {
  FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), name);
  if (!address) Remember("GetProcAddress", name);
  return reinterpret_cast<void *>(address);
}

extern "C" int dlclose(void *handle) { return FreeLibrary(static_cast<HMODULE>(handle)) ? 0 : 1; }

extern "C" char *dlerror(void) {
  if (!has_error) return nullptr;
  has_error = false;
  return last_error;
}
