/* A full disk for one database, for the end-to-end tests: preloaded into
 * `velquin` (LD_PRELOAD), it gives the file named by VELQUIN_DISK_FILE and
 * its journal (the same path + "-journal") VELQUIN_DISK_BYTES bytes of disk
 * between them. A pwrite() that would grow the two past that writes what
 * fits and then fails with ENOSPC, as a real full disk does; overwriting
 * bytes a file already has needs no new space and always succeeds, and
 * cutting a file frees its space. Every other file is left alone.
 * VELQUIN_DISK_REPORT names a file that receives, at exit, the most bytes
 * the two ever held, so a test can measure a whole run first. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

typedef ssize_t (*pwrite_fn)(int, const void*, size_t, off_t);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static char main_path[PATH_MAX];
static char journal_path[PATH_MAX + 16];
static unsigned long long budget = ULLONG_MAX;
static unsigned long long peak;
static int ready;

static void report(void) {
  const char* out = getenv("VELQUIN_DISK_REPORT");
  if (!out) return;
  FILE* f = fopen(out, "w");
  if (!f) return;
  fprintf(f, "%llu\n", peak);
  fclose(f);
}

static void setup(void) {
  if (ready) return;
  ready = 1;
  const char* file = getenv("VELQUIN_DISK_FILE");
  const char* bytes = getenv("VELQUIN_DISK_BYTES");
  if (!file || !realpath(file, main_path)) {
    /* The file may not exist yet: its folder must. */
    if (file) snprintf(main_path, sizeof main_path, "%s", file);
  }
  snprintf(journal_path, sizeof journal_path, "%s-journal", main_path);
  if (bytes) budget = strtoull(bytes, NULL, 10);
  atexit(report);
}

static unsigned long long size_of(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? (unsigned long long)st.st_size : 0;
}

/* 1 when fd is the database or its journal. */
static int watched(int fd) {
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = 0;
  return main_path[0] && (strcmp(path, main_path) == 0 || strcmp(path, journal_path) == 0);
}

static ssize_t guarded(pwrite_fn real, int fd, const void* buf, size_t count, off_t offset) {
  pthread_mutex_lock(&lock);
  setup();
  if (!watched(fd)) {
    pthread_mutex_unlock(&lock);
    return real(fd, buf, count, offset);
  }
  struct stat st;
  unsigned long long own = fstat(fd, &st) == 0 ? (unsigned long long)st.st_size : 0;
  unsigned long long held = size_of(main_path) + size_of(journal_path);
  unsigned long long end = (unsigned long long)offset + count;
  unsigned long long grow = end > own ? end - own : 0;
  size_t allowed = count;
  if (held + grow > budget) {
    unsigned long long room = budget > held ? budget - held : 0;
    /* What fits: the bytes inside the file plus the room left past its end. */
    unsigned long long inside = own > (unsigned long long)offset ? own - offset : 0;
    unsigned long long fit = inside + room;
    allowed = fit < count ? (size_t)fit : count;
    if (allowed == 0) {
      pthread_mutex_unlock(&lock);
      errno = ENOSPC;
      return -1;
    }
  }
  ssize_t done = real(fd, buf, allowed, offset);
  unsigned long long now = size_of(main_path) + size_of(journal_path);
  if (now > peak) peak = now;
  pthread_mutex_unlock(&lock);
  return done;
}

/* dlsym returns an object pointer; POSIX guarantees it converts. */
static pwrite_fn lookup(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  pwrite_fn fn;
  memcpy(&fn, &symbol, sizeof fn);
  return fn;
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  static pwrite_fn real;
  if (!real) real = lookup("pwrite");
  return guarded(real, fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  static pwrite_fn real;
  if (!real) real = lookup("pwrite64");
  return guarded(real, fd, buf, count, offset);
}
