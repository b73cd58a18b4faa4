/* The floor of the engine's tree walks. What the device's semantics need, per call of the walk:
 * - a listing opens its folder inside the image and looks each entry up (statx): the attribute
 *   word carries the read-only bit, which readdir cannot tell; a count needs only the type, which
 *   the listing gives (a look-up only where it does not);
 * - every change (a folder made, a file made or removed) is resolved from the image root with no
 *   link followed: openat2 makes a new file in the same call, its O_EXCL the only check that the
 *   name is new; an unlink needs the folder opened and closed around it;
 * - a copy's source is opened afresh from the root: reads are confined as changes are;
 * - a copy keeps contents (copy_file_range), whole or failed (its source's size asked again),
 *   permission bits (fchmod where a new file did not come out as asked: a folder's first file of
 *   each mode is looked at; none where its file system holds none) and times (futimens). */
#define _GNU_SOURCE
#include "bench/floor.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

struct names {
  char* buf; /* getdents64 records */
  size_t len;
};

static int open_beneath(int root, const char* rel, int flags, mode_t mode, int change) {
  struct open_how how;
  memset(&how, 0, sizeof how);
  how.flags = (unsigned long long)(flags | O_CLOEXEC);
  how.mode = mode;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | (change ? RESOLVE_NO_SYMLINKS : 0);
  return (int)syscall(SYS_openat2, root, rel, &how, sizeof how);
}

/* The folder's entries as the kernel gives them; the folder stays open in *fd. */
static int list(int root, const char* rel, int* fd, struct names* out) {
  size_t cap = 1 << 16;
  *fd = open_beneath(root, rel, O_RDONLY | O_DIRECTORY, 0, 0);
  if (*fd < 0) return -1;
  out->buf = malloc(cap);
  out->len = 0;
  for (;;) {
    if (cap - out->len < 4096) out->buf = realloc(out->buf, cap *= 2);
    long n = syscall(SYS_getdents64, *fd, out->buf + out->len, cap - out->len);
    if (n < 0) return -1;
    if (n == 0) return 0;
    out->len += (size_t)n;
  }
}

#define FOR_EACH(names, ent)                                 \
  for (struct dirent64* ent = (struct dirent64*)(names).buf; \
       (char*)ent < (names).buf + (names).len;               \
       ent = (struct dirent64*)((char*)ent + ent->d_reclen)) \
    if (!(ent->d_name[0] == '.' &&                           \
          (ent->d_name[1] == 0 || (ent->d_name[1] == '.' && ent->d_name[2] == 0))))

static const unsigned kMask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME;

long FloorCount(int root, const char* rel) {
  int fd;
  struct names names;
  long n = 0;
  if (list(root, rel, &fd, &names) != 0) return -1;
  FOR_EACH(names, ent) {
    /* The listing's type where it gives one; a look-up only where it does not. */
    int dir = ent->d_type == DT_DIR;
    if (ent->d_type == DT_UNKNOWN) {
      struct statx st;
      if (statx(fd, ent->d_name, AT_SYMLINK_NOFOLLOW, STATX_TYPE, &st) != 0) continue;
      dir = S_ISDIR(st.stx_mode);
    }
    if (!dir) {
      ++n;
      continue;
    }
    char child[4096];
    snprintf(child, sizeof child, "%s/%s", rel, ent->d_name);
    long k = FloorCount(root, child);
    if (k < 0) return -1;
    n += k;
  }
  free(names.buf);
  close(fd);
  return n;
}

/* Runs op on the folder holding rel's last component, opened from the root for a change. */
static int in_parent(int root, const char* rel, int (*op)(int, const char*, int), int flags) {
  const char* slash = strrchr(rel, '/');
  char parent[4096];
  snprintf(parent, sizeof parent, "%.*s", (int)(slash - rel), rel);
  int fd = open_beneath(root, parent, O_PATH | O_DIRECTORY, 0, 1);
  if (fd < 0) return -1;
  int r = op(fd, slash + 1, flags);
  close(fd);
  return r;
}

static int make_folder(int fd, const char* name, int flags) {
  return mkdirat(fd, name, (mode_t)flags);
}

/* What one folder's new files taught about their permission bits: that its file system holds
 * none, or a mode that comes out of a create as asked. */
struct modes {
  int none_held;
  mode_t exact;
};

/* Sets the bits of a file just made where they did not come out as asked; 0 or -1. */
static int set_mode(int fd, mode_t mode, struct modes* learnt) {
  struct stat made;
  if (learnt->none_held || mode == learnt->exact) return 0;
  if (fstat(fd, &made) == 0 && (made.st_mode & 07777) == mode) {
    learnt->exact = mode;
    return 0;
  }
  if (fchmod(fd, mode) == 0) return 0;
  learnt->none_held = errno == ENOSYS || errno == EOPNOTSUPP;
  return learnt->none_held ? 0 : -1;
}

/* A new name: O_EXCL is the check that nothing is there. */
static int copy_file(int root, const char* src, const char* name, const struct statx* st,
                     const char* dst, struct modes* learnt) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", src, name);
  int in = open_beneath(root, path, O_RDONLY | O_NOFOLLOW, 0, 0);
  if (in < 0) return -1;
  snprintf(path, sizeof path, "%s/%s", dst, name);
  const mode_t mode = st->stx_mode & 0777;
  int out = open_beneath(root, path, O_WRONLY | O_CREAT | O_EXCL, mode, 1);
  int ok = out >= 0;
  for (loff_t done = 0; ok && done < (loff_t)st->stx_size;) {
    ssize_t n = copy_file_range(in, &done, out, NULL, 1 << 30, 0);
    if (n <= 0) ok = 0;
  }
  /* Whole or failed: a source whose size moved meanwhile was not copied whole. */
  struct statx after;
  ok = ok && statx(in, "", AT_EMPTY_PATH, STATX_SIZE, &after) == 0 &&
       after.stx_size == st->stx_size;
  const struct timespec times[2] = {{st->stx_atime.tv_sec, st->stx_atime.tv_nsec},
                                    {st->stx_mtime.tv_sec, st->stx_mtime.tv_nsec}};
  ok = ok && set_mode(out, mode, learnt) == 0 && futimens(out, times) == 0;
  if (out >= 0) close(out);
  close(in);
  return ok ? 0 : -1;
}

static long copy_tree(int root, const char* src, const char* dst) {
  int fd;
  struct names names;
  struct modes learnt = {0, (mode_t)-1};
  long n = 0;
  if (in_parent(root, dst, make_folder, 0777) != 0) return -1;
  if (list(root, src, &fd, &names) != 0) return -1;
  FOR_EACH(names, ent) {
    struct statx st;
    if (statx(fd, ent->d_name, AT_SYMLINK_NOFOLLOW, kMask, &st) != 0) return -1;
    if (S_ISDIR(st.stx_mode)) {
      char from[4096], to[4096];
      snprintf(from, sizeof from, "%s/%s", src, ent->d_name);
      snprintf(to, sizeof to, "%s/%s", dst, ent->d_name);
      long k = copy_tree(root, from, to);
      if (k < 0) return -1;
      n += k;
    } else {
      if (copy_file(root, src, ent->d_name, &st, dst, &learnt) != 0) return -1;
      ++n;
    }
  }
  free(names.buf);
  close(fd);
  return n;
}

long FloorCopy(int root, const char* src, const char* dst) {
  if (FloorCount(root, src) < 0) return -1;
  return copy_tree(root, src, dst);
}

static int unlink_in(int fd, const char* name, int flags) { return unlinkat(fd, name, flags); }

int FloorDelete(int root, const char* rel) {
  int fd;
  struct names names;
  if (list(root, rel, &fd, &names) != 0) return -1;
  FOR_EACH(names, ent) {
    struct statx st;
    if (statx(fd, ent->d_name, AT_SYMLINK_NOFOLLOW, kMask, &st) != 0) return -1;
    char child[4096];
    snprintf(child, sizeof child, "%s/%s", rel, ent->d_name);
    if (S_ISDIR(st.stx_mode) ? FloorDelete(root, child) : in_parent(root, child, unlink_in, 0))
      return -1;
  }
  free(names.buf);
  close(fd);
  return in_parent(root, rel, unlink_in, AT_REMOVEDIR);
}
