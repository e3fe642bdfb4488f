// A folder served through FUSE with a fixed delay before every call, as the
// share of a network with that round trip: the sources of the bench's case
// "a share with latency".
//
//   latency_fs DELAY_US FOLDER MOUNTPOINT [FUSE OPTIONS...]
//
// Every call that the kernel sends first sleeps DELAY_US microseconds on the
// thread that serves it, then does the same call on FOLDER (open files and
// folders stay open underneath, in fi->fh). Calls are served on FUSE's
// multithreaded loop, so calls made at once wait at once, as on a share, up
// to `-o max_threads=N` at a time (libfuse's default: 10). Names and
// attributes stay in the kernel's cache for libfuse's default second, as a
// share's client keeps them; file contents do not outlast an open.
//
// Built by bench/bench.py: gcc latency_fs.c $(pkg-config --cflags --libs fuse3)
#define FUSE_USE_VERSION 312
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <linux/fuse.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

static int root = -1;         // FOLDER, opened before FUSE changes the working folder
static struct timespec delay; // slept before each call

static void wait_round_trip(void) {
  struct timespec left = delay;
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

// The path below FOLDER that the *at() calls take for a path of the mount.
static const char* rel(const char* path) { return path[1] ? path + 1 : "."; }

static int result(int status) { return status == -1 ? -errno : 0; }

static void* lfs_init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  (void)conn;
  cfg->use_ino = 1;
  return NULL;
}

static int lfs_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  wait_round_trip();
  return result(fi ? fstat(fi->fh, st) : fstatat(root, rel(path), st, AT_SYMLINK_NOFOLLOW));
}

static int lfs_access(const char* path, int mask) {
  wait_round_trip();
  return result(faccessat(root, rel(path), mask, 0));
}

static int lfs_readlink(const char* path, char* buf, size_t size) {
  wait_round_trip();
  ssize_t n = readlinkat(root, rel(path), buf, size - 1);
  if (n == -1) return -errno;
  buf[n] = '\0';
  return 0;
}

static int lfs_mkdir(const char* path, mode_t mode) {
  wait_round_trip();
  return result(mkdirat(root, rel(path), mode));
}

static int lfs_unlink(const char* path) {
  wait_round_trip();
  return result(unlinkat(root, rel(path), 0));
}

static int lfs_rmdir(const char* path) {
  wait_round_trip();
  return result(unlinkat(root, rel(path), AT_REMOVEDIR));
}

static int lfs_symlink(const char* target, const char* path) {
  wait_round_trip();
  return result(symlinkat(target, root, rel(path)));
}

static int lfs_rename(const char* from, const char* to, unsigned int flags) {
  wait_round_trip();
  return result(renameat2(root, rel(from), root, rel(to), flags));
}

static int lfs_link(const char* from, const char* to) {
  wait_round_trip();
  return result(linkat(root, rel(from), root, rel(to), 0));
}

static int lfs_chmod(const char* path, mode_t mode, struct fuse_file_info* fi) {
  wait_round_trip();
  return result(fi ? fchmod(fi->fh, mode) : fchmodat(root, rel(path), mode, 0));
}

static int lfs_chown(const char* path, uid_t uid, gid_t gid, struct fuse_file_info* fi) {
  wait_round_trip();
  return result(fi ? fchown(fi->fh, uid, gid) : fchownat(root, rel(path), uid, gid, AT_SYMLINK_NOFOLLOW));
}

static int lfs_truncate(const char* path, off_t size, struct fuse_file_info* fi) {
  wait_round_trip();
  if (fi) return result(ftruncate(fi->fh, size));
  int fd = openat(root, rel(path), O_WRONLY);
  if (fd == -1) return -errno;
  int status = result(ftruncate(fd, size));
  close(fd);
  return status;
}

static int lfs_utimens(const char* path, const struct timespec tv[2], struct fuse_file_info* fi) {
  wait_round_trip();
  return result(fi ? futimens(fi->fh, tv) : utimensat(root, rel(path), tv, AT_SYMLINK_NOFOLLOW));
}

static int lfs_create(const char* path, mode_t mode, struct fuse_file_info* fi) {
  wait_round_trip();
  int fd = openat(root, rel(path), fi->flags, mode);
  if (fd == -1) return -errno;
  fi->fh = fd;
  return 0;
}

static int lfs_open(const char* path, struct fuse_file_info* fi) {
  wait_round_trip();
  int fd = openat(root, rel(path), fi->flags);
  if (fd == -1) return -errno;
  fi->fh = fd;
  return 0;
}

static int lfs_read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  (void)path;
  wait_round_trip();
  ssize_t n = pread(fi->fh, buf, size, offset);
  return n == -1 ? -errno : (int)n;
}

static int lfs_write(const char* path, const char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  (void)path;
  wait_round_trip();
  ssize_t n = pwrite(fi->fh, buf, size, offset);
  return n == -1 ? -errno : (int)n;
}

static int lfs_statfs(const char* path, struct statvfs* st) {
  (void)path;
  wait_round_trip();
  return result(fstatvfs(root, st));
}

// Each close(2) of a descriptor: the round trip of a share's close, which the caller waits for.
static int lfs_flush(const char* path, struct fuse_file_info* fi) {
  (void)path;
  (void)fi;
  wait_round_trip();
  return 0;
}

static int lfs_release(const char* path, struct fuse_file_info* fi) {
  (void)path;
  wait_round_trip();
  close(fi->fh);
  return 0;
}

static int lfs_fsync(const char* path, int datasync, struct fuse_file_info* fi) {
  (void)path;
  wait_round_trip();
  return result(datasync ? fdatasync(fi->fh) : fsync(fi->fh));
}

// An open folder: its stream, and the entry that did not fit the kernel's last buffer.
struct folder {
  DIR* stream;
  struct dirent* pending;
  off_t offset;
};

static int lfs_opendir(const char* path, struct fuse_file_info* fi) {
  wait_round_trip();
  int fd = openat(root, rel(path), O_RDONLY | O_DIRECTORY);
  if (fd == -1) return -errno;
  struct folder* f = calloc(1, sizeof *f);
  if (!f || !(f->stream = fdopendir(fd))) {
    int error = f ? errno : ENOMEM;
    free(f);
    close(fd);
    return -error;
  }
  fi->fh = (uintptr_t)f;
  return 0;
}

// One kernel buffer of entries from offset on (offsets are telldir's), a round trip each.
static int lfs_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info* fi,
                       enum fuse_readdir_flags flags) {
  (void)path;
  (void)flags;
  wait_round_trip();
  struct folder* f = (struct folder*)(uintptr_t)fi->fh;
  if (offset != f->offset) {
    seekdir(f->stream, offset);
    f->pending = NULL;
    f->offset = offset;
  }
  for (;;) {
    if (!f->pending) {
      errno = 0;
      f->pending = readdir(f->stream);
      if (!f->pending) return -errno;
    }
    struct stat st = {.st_ino = f->pending->d_ino, .st_mode = DTTOIF(f->pending->d_type)};
    off_t next = telldir(f->stream);
    if (fill(buf, f->pending->d_name, &st, next, 0)) return 0;
    f->pending = NULL;
    f->offset = next;
  }
}

static int lfs_releasedir(const char* path, struct fuse_file_info* fi) {
  (void)path;
  wait_round_trip();
  struct folder* f = (struct folder*)(uintptr_t)fi->fh;
  closedir(f->stream);
  free(f);
  return 0;
}

static const struct fuse_operations operations = {
    .init = lfs_init,
    .getattr = lfs_getattr,
    .access = lfs_access,
    .readlink = lfs_readlink,
    .mkdir = lfs_mkdir,
    .unlink = lfs_unlink,
    .rmdir = lfs_rmdir,
    .symlink = lfs_symlink,
    .rename = lfs_rename,
    .link = lfs_link,
    .chmod = lfs_chmod,
    .chown = lfs_chown,
    .truncate = lfs_truncate,
    .utimens = lfs_utimens,
    .create = lfs_create,
    .open = lfs_open,
    .read = lfs_read,
    .write = lfs_write,
    .statfs = lfs_statfs,
    .flush = lfs_flush,
    .release = lfs_release,
    .fsync = lfs_fsync,
    .opendir = lfs_opendir,
    .readdir = lfs_readdir,
    .releasedir = lfs_releasedir,
};

// The kernel serializes the lookups of one folder unless INIT's answer allows them in parallel,
// and libfuse before 3.16 never says so however the file system asks: the answer is completed
// on its way out. Nothing else is sent before it.
static ssize_t answer(int fd, struct iovec* iov, int count, void* userdata) {
  static int init_answered;
  (void)userdata;
  if (!init_answered && count >= 2 && iov[1].iov_len >= offsetof(struct fuse_init_out, flags) + sizeof(uint32_t)) {
    ((struct fuse_init_out*)iov[1].iov_base)->flags |= FUSE_PARALLEL_DIROPS;
  }
  init_answered = 1;
  return writev(fd, iov, count);
}

static ssize_t take(int fd, void* buf, size_t size, void* userdata) {
  (void)userdata;
  return read(fd, buf, size);
}

int main(int argc, char* argv[]) {
  char* end = NULL;
  long micros = argc >= 4 ? strtol(argv[1], &end, 10) : -1;
  if (argc < 4 || *argv[1] == '\0' || *end != '\0' || micros < 0 || micros > 10000000) {
    fprintf(stderr, "usage: %s DELAY_US FOLDER MOUNTPOINT [FUSE OPTIONS...]\n", argv[0]);
    return 2;
  }
  delay.tv_sec = micros / 1000000;
  delay.tv_nsec = micros % 1000000 * 1000;
  root = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root == -1) {
    fprintf(stderr, "%s: %s: %s\n", argv[0], argv[2], strerror(errno));
    return 1;
  }
  // Sleeps end on time rather than up to 50 us late; the loop's threads inherit this.
  prctl(PR_SET_TIMERSLACK, 1UL);
  argv[2] = argv[0];  // FUSE sees: program MOUNTPOINT [OPTIONS...]
  struct fuse_args args = FUSE_ARGS_INIT(argc - 2, argv + 2);
  struct fuse_cmdline_opts opts;
  if (fuse_parse_cmdline(&args, &opts) != 0) return 2;
  if (!opts.mountpoint || opts.show_help || opts.show_version) {
    fprintf(stderr, "usage: %s DELAY_US FOLDER MOUNTPOINT [FUSE OPTIONS...]\n", argv[0]);
    fuse_cmdline_help();
    return 2;
  }
  // fuse_main would drop max_threads (libfuse 3.14) and mount without the hook above.
  int status = 1;
  struct fuse* fs = fuse_new(&args, &operations, sizeof operations, NULL);
  if (fs && fuse_mount(fs, opts.mountpoint) == 0) {
    struct fuse_session* session = fuse_get_session(fs);
    const struct fuse_custom_io io = {.writev = answer, .read = take};
    struct fuse_loop_config* loop = fuse_loop_cfg_create();
    if (loop) fuse_loop_cfg_set_max_threads(loop, opts.max_threads);
    if (loop && fuse_session_custom_io(session, &io, fuse_session_fd(session)) == 0 &&
        fuse_daemonize(opts.foreground) == 0 && fuse_set_signal_handlers(session) == 0) {
      status = (opts.singlethread ? fuse_loop(fs) : fuse_loop_mt(fs, loop)) == 0 ? 0 : 1;
      fuse_remove_signal_handlers(session);
    }
    fuse_loop_cfg_destroy(loop);
    fuse_unmount(fs);
  }
  if (fs) fuse_destroy(fs);
  free(opts.mountpoint);
  fuse_opt_free_args(&args);
  return status;
}
