/* Preloaded into the program by the end-to-end tests: the first time the
 * program looks up where an open file named VRD_SHIM_TARGET lives (a readlink
 * of /proc/self/fd/N, or realpath where that is not used), another program
 * publishes VRD_SHIM_COPY over it by rename, just before the real look-up.
 * That is the moment between a run's open and its look-up, made certain.
 * VRD_SHIM_FIRED names a file created once the replace has happened. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int fired;

/* Replaces the target when `found` names it; once per run. */
static void replace_if_target(const char *found) {
  const char *target = getenv("VRD_SHIM_TARGET");
  const char *copy = getenv("VRD_SHIM_COPY");
  const char *mark = getenv("VRD_SHIM_FIRED");
  if (fired || !target || !copy || strcmp(found, target) != 0) return;
  fired = 1;
  if (rename(copy, target) != 0) {
    perror("replace_on_lookup: rename");
    _exit(99);
  }
  if (mark) close(open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

static void *real(const char *name) {
  void *fn = dlsym(RTLD_NEXT, name);
  if (!fn) {
    fprintf(stderr, "replace_on_lookup: no %s\n", name);
    _exit(99);
  }
  return fn;
}

/* A readlink of /proc/self/fd/N: what it names now, before the replace. */
static void before_readlink(const char *path) {
  static const char prefix[] = "/proc/self/fd/";
  ssize_t (*readlink_fn)(const char *, char *, size_t) = real("readlink");
  char found[PATH_MAX];
  ssize_t length;
  if (fired || strncmp(path, prefix, sizeof prefix - 1) != 0) return;
  length = readlink_fn(path, found, sizeof found - 1);
  if (length <= 0) return;
  found[length] = '\0';
  replace_if_target(found);
}

ssize_t readlink(const char *path, char *buffer, size_t size) {
  ssize_t (*fn)(const char *, char *, size_t) = real("readlink");
  before_readlink(path);
  return fn(path, buffer, size);
}

ssize_t __readlink_chk(const char *path, char *buffer, size_t size, size_t buffer_size) {
  ssize_t (*fn)(const char *, char *, size_t, size_t) = real("__readlink_chk");
  before_readlink(path);
  return fn(path, buffer, size, buffer_size);
}

char *realpath(const char *path, char *resolved) {
  char *(*fn)(const char *, char *) = real("realpath");
  char found[PATH_MAX];
  if (!fired && fn(path, found)) replace_if_target(found);
  return fn(path, resolved);
}

char *__realpath_chk(const char *path, char *resolved, size_t resolved_size) {
  char *(*fn)(const char *, char *, size_t) = real("__realpath_chk");
  char found[PATH_MAX];
  if (!fired && fn(path, found, sizeof found)) replace_if_target(found);
  return fn(path, resolved, resolved_size);
}
