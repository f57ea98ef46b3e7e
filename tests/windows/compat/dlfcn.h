/* The POSIX dynamic-loading calls the tests use, over LoadLibrary and
 * GetProcAddress, so that tests that load the library by path run against
 * ORVEK.dll in the Windows build. Only in the include path of Windows test
 * builds. */
#ifndef ORVEK_TEST_COMPAT_DLFCN_H
#define ORVEK_TEST_COMPAT_DLFCN_H

#define RTLD_LAZY 0x1
#define RTLD_NOW 0x2
#define RTLD_LOCAL 0x0
#define RTLD_GLOBAL 0x100

#ifdef __cplusplus
extern "C" {
#endif

void *dlopen(const char *path, int mode);
void *dlsym(void *handle, const char *name);
int dlclose(void *handle);
char *dlerror(void);

#ifdef __cplusplus
}
#endif

#endif
