/* vrq-printer-sim-usblp.so: makes the simulator's printer nodes behave as usblp's do for
 * the processes of its command (see usblp_state.h for the rules and the shared state).
 *
 * vrq-printer-sim puts this library into its command's LD_PRELOAD in front of umockdev's.
 * It wraps the calls that open, duplicate, write, poll and close a /dev/usb/lpN node; the
 * data of a write goes into the node's shared state, where the simulator takes it at the
 * printer's pace, rather than into the pseudo-terminal behind the node, which would take
 * any byte at once and lose none at a close. Replies still come through the terminal, so
 * reads are left alone. Descriptors of other files pass straight through.
 *
 * Not modelled: select(), writev() and the like (they reach the terminal, which takes
 * every byte at once), and a ppoll() mask between the 1 ms steps of a wait for POLLOUT.
 *
 * Plain C with no state beyond a small table, because it is loaded into every process the
 * command starts. Inside, it calls the kernel directly (syscall()) for its own files, so
 * that neither its own wrappers nor umockdev's see them. */
/* The wrappers are the plain calls: no fortified inline versions, no 64-bit renames. */
#undef _FORTIFY_SOURCE
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include "tools/vrq-printer-sim/usblp_state.h"

#define EXPORT __attribute__((visibility("default")))

/* ------------------------------------------------------------------------------------- */
/* The next definitions of the wrapped calls (umockdev's, then the C library's). */

static void* next_symbol(const char* name) {
  return dlsym(RTLD_NEXT, name);
}

#define NEXT(type, name)                                 \
  static type next_##name(void) {                        \
    static type found;                                   \
    if (found == NULL) found = (type)next_symbol(#name); \
    return found;                                        \
  }

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);
typedef int (*fd_fn)(int);
typedef int (*dup2_fn)(int, int);
typedef int (*dup3_fn)(int, int, int);
typedef int (*fcntl_fn)(int, int, ...);
typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef int (*poll_fn)(struct pollfd*, nfds_t, int);
typedef int (*ppoll_fn)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);

NEXT(open_fn, open)
NEXT(open_fn, open64)
NEXT(openat_fn, openat)
NEXT(openat_fn, openat64)
NEXT(fd_fn, close)
NEXT(fd_fn, dup)
NEXT(dup2_fn, dup2)
NEXT(dup3_fn, dup3)
NEXT(fcntl_fn, fcntl)
NEXT(fcntl_fn, fcntl64)
NEXT(write_fn, write)
NEXT(poll_fn, poll)
NEXT(ppoll_fn, ppoll)

/* ------------------------------------------------------------------------------------- */
/* The shared state */

static struct vrq_usblp_state* shared;
static char bell_path[PATH_MAX];
static pthread_once_t shared_once = PTHREAD_ONCE_INIT;

static int raw_open(const char* path, int flags) {
  return (int)syscall(SYS_openat, AT_FDCWD, path, flags, 0);
}

static void raw_close(int fd) {
  syscall(SYS_close, fd);
}

static void map_shared(void) {
  const char* folder = getenv(VRQ_USBLP_VARIABLE);
  if (folder == NULL || *folder == '\0') return;
  char path[PATH_MAX];
  if (snprintf(path, sizeof path, "%s/" VRQ_USBLP_STATE_FILE, folder) >= (int)sizeof path ||
      snprintf(bell_path, sizeof bell_path, "%s/" VRQ_USBLP_BELL_FILE, folder) >=
          (int)sizeof bell_path) {
    return;
  }
  int fd = raw_open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  long size = syscall(SYS_lseek, fd, 0, SEEK_END);
  void* map = MAP_FAILED;
  if (size >= (long)sizeof(struct vrq_usblp_state)) {
    map = mmap(NULL, sizeof(struct vrq_usblp_state), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  raw_close(fd);
  if (map == MAP_FAILED) return;
  struct vrq_usblp_state* state = map;
  if (state->magic != VRQ_USBLP_MAGIC || state->version != VRQ_USBLP_VERSION ||
      state->node_count != VRQ_USBLP_NODES) {
    munmap(map, sizeof(struct vrq_usblp_state));
    return;
  }
  shared = state;
}

static struct vrq_usblp_state* state(void) {
  pthread_once(&shared_once, map_shared);
  return shared;
}

#define LOAD(p) __atomic_load_n((p), __ATOMIC_ACQUIRE)
#define STORE(p, v) __atomic_store_n((p), (v), __ATOMIC_RELEASE)
#define CAS(p, expected, desired) \
  __atomic_compare_exchange_n((p), (expected), (desired), 0, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)

static uint64_t monotonic_ns(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000000000u + (uint64_t)now.tv_nsec;
}

/* Tells the simulator that a chunk waits; it looks anyway, so a lost bell costs nothing. */
static void ring_bell(void) {
  int fd = raw_open(bell_path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  char byte = 1;
  syscall(SYS_write, fd, &byte, 1);
  raw_close(fd);
}

/* A process that has ended, or is a zombie, holds nothing open any more. */
static int process_alive(pid_t pid) {
  if (kill(pid, 0) != 0 && errno != EPERM) return 0;
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
  int fd = raw_open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[512];
  long n = syscall(SYS_read, fd, text, sizeof text - 1);
  raw_close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  const char* end = strrchr(text, ')');
  if (end == NULL || end[1] != ' ') return 1;
  return end[2] != 'Z' && end[2] != 'X';
}

/* ------------------------------------------------------------------------------------- */
/* The descriptors of this process on printer nodes */

#define MAX_OPENS 16
#define MAX_FDS 256

struct open_node {
  int used;
  int lp;
  uint32_t node;
  uint32_t session;
  pid_t opener; /* only the opener's last close ends the open: a forked child's does not */
  uint64_t device, inode; /* the terminal behind it, to tell a reused descriptor number */
};

struct tracked_fd {
  int fd;
  int open; /* index into opens */
};

static struct open_node opens[MAX_OPENS];
static struct tracked_fd fds[MAX_FDS];
static int fd_count; /* read without the lock as a quick "nothing tracked" test */
static pthread_mutex_t table_lock = PTHREAD_MUTEX_INITIALIZER;

static void lock_table(void) {
  pthread_mutex_lock(&table_lock);
}
static void unlock_table(void) {
  pthread_mutex_unlock(&table_lock);
}

static int nothing_tracked(void) {
  return __atomic_load_n(&fd_count, __ATOMIC_ACQUIRE) == 0;
}

static int find_fd(int fd) {
  for (int i = 0; i < fd_count; ++i) {
    if (fds[i].fd == fd) return i;
  }
  return -1;
}

static int add_fd(int fd, int open) {
  if (fd_count >= MAX_FDS) return 0;
  fds[fd_count].fd = fd;
  fds[fd_count].open = open;
  __atomic_store_n(&fd_count, fd_count + 1, __ATOMIC_RELEASE);
  return 1;
}

/* Forgets fd; true when it was the last descriptor of an open this process made, which
 * then ends (*ended gets a copy of it). */
static int remove_fd(int fd, struct open_node* ended) {
  int at = find_fd(fd);
  if (at < 0) return 0;
  int open = fds[at].open;
  fds[at] = fds[fd_count - 1];
  __atomic_store_n(&fd_count, fd_count - 1, __ATOMIC_RELEASE);
  for (int i = 0; i < fd_count; ++i) {
    if (fds[i].open == open) return 0;
  }
  *ended = opens[open];
  opens[open].used = 0;
  return ended->opener == getpid();
}

/* The file fd names, as the kernel tells it (no wrapper in between). */
static int identify(int fd, uint64_t* device, uint64_t* inode) {
  struct stat info;
  if (syscall(SYS_fstat, fd, &info) != 0) return 0;
  *device = (uint64_t)info.st_dev;
  *inode = (uint64_t)info.st_ino;
  return 1;
}

static int new_open(int lp, uint32_t node, uint32_t session, int fd) {
  for (int i = 0; i < MAX_OPENS; ++i) {
    if (opens[i].used) continue;
    opens[i] = (struct open_node){1, lp, node, session, getpid(), 0, 0};
    identify(fd, &opens[i].device, &opens[i].inode);
    return i;
  }
  return -1;
}

static void forget(int fd);

/* The open behind fd, copied; false when fd is no printer node of ours. A descriptor
 * closed behind the wrappers' back (close_range(), say) and reused for another file is
 * forgotten here, so that its writes go where they belong. */
static int lookup(int fd, struct open_node* found) {
  if (nothing_tracked()) return 0;
  lock_table();
  int at = find_fd(fd);
  if (at >= 0) *found = opens[fds[at].open];
  unlock_table();
  if (at < 0) return 0;
  uint64_t device = 0, inode = 0;
  if (identify(fd, &device, &inode) && device == found->device && inode == found->inode) return 1;
  forget(fd);
  return 0;
}

static void copy_fd(int from, int to) {
  if (to < 0 || nothing_tracked()) return;
  lock_table();
  int at = find_fd(from);
  if (at >= 0 && find_fd(to) < 0) add_fd(to, fds[at].open);
  unlock_table();
}

static void at_fork_prepare(void) {
  lock_table();
}
static void at_fork_release(void) {
  unlock_table();
}

/* ------------------------------------------------------------------------------------- */
/* The node's rules */

/* /dev/usb/lpN with N below VRQ_USBLP_NODES: N, else -1. */
static int node_number(const char* path) {
  static const char prefix[] = "/dev/usb/lp";
  if (path == NULL || strncmp(path, prefix, sizeof prefix - 1) != 0) return -1;
  const char* digits = path + sizeof prefix - 1;
  int number = 0;
  int count = 0;
  for (; *digits >= '0' && *digits <= '9' && count < 3; ++digits, ++count)
    number = number * 10 + (*digits - '0');
  if (count == 0 || *digits != '\0' || number >= VRQ_USBLP_NODES) return -1;
  return number;
}

static struct vrq_usblp_node* slot(int lp) {
  return &shared->nodes[lp];
}

/* Ends an open as usblp's release does: what the printer has not taken is dropped, and the
 * node is free again. */
static void release(const struct open_node* open) {
  struct vrq_usblp_node* node = slot(open->lp);
  if (LOAD(&node->node) != open->node) return; /* that node is gone already */
  uint64_t progress = LOAD(&node->progress);
  if (vrq_usblp_session(progress) == open->session && !(progress & VRQ_USBLP_CLOSED)) {
    STORE(&node->closed_ns, monotonic_ns());
    while (vrq_usblp_session(progress) == open->session && !(progress & VRQ_USBLP_CLOSED)) {
      if (CAS(&node->progress, &progress, progress | VRQ_USBLP_CLOSED)) break;
    }
  }
  int32_t owner = open->opener;
  CAS(&node->owner, &owner, 0);
}

/* Takes the node for this process; false (EBUSY) while another live process, or this one,
 * holds it. */
static int claim(struct vrq_usblp_node* node) {
  pid_t me = getpid();
  for (;;) {
    int32_t owner = LOAD(&node->owner);
    if (owner != 0 && process_alive(owner)) return 0;
    if (CAS(&node->owner, &owner, me)) return 1;
  }
}

/* A new session begins where the stream stands: what an earlier holder left untaken is
 * gone with its open. */
static uint32_t begin_session(struct vrq_usblp_node* node) {
  uint32_t session = __atomic_add_fetch(&node->sessions, 1, __ATOMIC_ACQ_REL);
  uint64_t progress = LOAD(&node->progress);
  for (;;) {
    uint64_t fresh = vrq_usblp_progress(session, LOAD(&node->submitted), 0);
    if (CAS(&node->progress, &progress, fresh)) break;
  }
  return session & (uint32_t)VRQ_USBLP_SESSION_MASK;
}

typedef int (*real_open_call)(const char* path, int flags, mode_t mode, void* context);

static int open_node(const char* path, int flags, mode_t mode, real_open_call call, void* context) {
  int lp = (flags & O_PATH) ? -1 : node_number(path);
  if (lp < 0 || state() == NULL) return call(path, flags, mode, context);
  struct vrq_usblp_node* node = slot(lp);
  uint32_t number = LOAD(&node->node);
  if (number == 0) return call(path, flags, mode, context);
  if (!claim(node)) {
    errno = EBUSY;
    return -1;
  }
  int fd = call(path, flags, mode, context);
  if (fd < 0) {
    int error = errno;
    int32_t me = getpid();
    CAS(&node->owner, &me, 0);
    errno = error;
    return fd;
  }
  uint32_t session = begin_session(node);
  lock_table();
  int open = new_open(lp, number, session, fd);
  int tracked = open >= 0 && add_fd(fd, open);
  if (open >= 0 && !tracked) opens[open].used = 0;
  unlock_table();
  if (!tracked) {
    /* No room to follow it: it works as a plain terminal, every byte delivered. */
    struct open_node untracked = {1, lp, number, session, getpid(), 0, 0};
    release(&untracked);
  }
  return fd;
}

/* Waits until the chunk in flight has completed (usblp's wwait): 0, or -EAGAIN when
 * non-blocking, -EINTR when a signal came, -ENODEV when the node is gone. */
static int wait_idle(const struct open_node* open, int nonblock) {
  struct vrq_usblp_node* node = slot(open->lp);
  for (;;) {
    if (LOAD(&node->node) != open->node) return -ENODEV;
    uint64_t progress = LOAD(&node->progress);
    if (vrq_usblp_session(progress) != open->session || (progress & VRQ_USBLP_CLOSED)) {
      return -ENODEV;
    }
    uint64_t submitted = LOAD(&node->submitted) & VRQ_USBLP_TAKEN_MASK;
    if (vrq_usblp_taken(progress) >= submitted) return 0;
    if (nonblock) return -EAGAIN;
    struct timespec step = {0, 1000000};
    if (nanosleep(&step, NULL) != 0 && errno == EINTR) return -EINTR;
  }
}

static int write_complete(const struct open_node* open) {
  struct vrq_usblp_node* node = slot(open->lp);
  uint64_t progress = LOAD(&node->progress);
  return vrq_usblp_taken(progress) >= (LOAD(&node->submitted) & VRQ_USBLP_TAKEN_MASK);
}

static int node_gone(const struct open_node* open) {
  struct vrq_usblp_node* node = slot(open->lp);
  if (LOAD(&node->node) != open->node) return 1;
  uint64_t progress = LOAD(&node->progress);
  return vrq_usblp_session(progress) != open->session || (progress & VRQ_USBLP_CLOSED);
}

static void submit(const struct open_node* open, const void* data, size_t size) {
  struct vrq_usblp_node* node = slot(open->lp);
  uint64_t start = LOAD(&node->submitted);
  memcpy(node->chunk, data, size);
  STORE(&node->chunk_start, start);
  STORE(&node->chunk_length, (uint32_t)size);
  STORE(&node->submitted_ns, monotonic_ns());
  STORE(&node->submitted, start + size);
  ring_bell();
}

static ssize_t node_write(int fd, const struct open_node* open, const void* data, size_t size) {
  int flags = next_fcntl()(fd, F_GETFL);
  if (flags < 0) return -1;
  int nonblock = (flags & O_NONBLOCK) != 0;
  int waited = wait_idle(open, nonblock);
  /* A node that is gone fails the write as the terminal behind it does. */
  if (waited == -ENODEV) return next_write()(fd, data, size);
  if (waited < 0) {
    errno = -waited;
    return -1;
  }
  size_t done = 0;
  while (done < size) {
    size_t chunk = size - done < VRQ_USBLP_CHUNK ? size - done : VRQ_USBLP_CHUNK;
    submit(open, (const uint8_t*)data + done, chunk);
    waited = wait_idle(open, nonblock);
    if (waited == -EAGAIN) {
      done += chunk; /* submitted: trusted to complete, as usblp does */
      break;
    }
    if (waited < 0) break; /* interrupted or gone: the chunk is left in flight, uncounted */
    done += chunk;
  }
  if (done > 0 || size == 0) return (ssize_t)done;
  if (waited == -ENODEV) return next_write()(fd, data, size);
  errno = -waited;
  return -1;
}

/* A descriptor that survived an exec (an open without close-on-exec) is this process's
 * again: it is found by the terminal behind it. Where none survived, the exec closed the
 * node, and the open ends now. */
static void adopt_inherited_opens(void) {
  if (state() == NULL) return;
  pid_t me = getpid();
  for (int lp = 0; lp < VRQ_USBLP_NODES; ++lp) {
    struct vrq_usblp_node* node = slot(lp);
    uint32_t number = LOAD(&node->node);
    if (number == 0 || LOAD(&node->owner) != me) continue;
    uint64_t progress = LOAD(&node->progress);
    struct open_node open = {1, lp, number, vrq_usblp_session(progress), me, 0, 0};
    int kept = 0;
    for (int fd = 0; fd < 1024; ++fd) {
      char link[64];
      char target[VRQ_USBLP_PTY_NAME];
      snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
      long n = syscall(SYS_readlinkat, AT_FDCWD, link, target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = '\0';
      if (strcmp(target, node->pty) != 0) continue;
      if (!kept) {
        int index = new_open(lp, number, open.session, fd);
        if (index < 0) break;
        kept = index + 1;
      }
      add_fd(fd, kept - 1);
    }
    if (!kept) release(&open);
  }
}

__attribute__((constructor)) static void start(void) {
  pthread_atfork(at_fork_prepare, at_fork_release, at_fork_release);
  if (getenv(VRQ_USBLP_VARIABLE) != NULL) adopt_inherited_opens();
}

/* ------------------------------------------------------------------------------------- */
/* The wrapped calls */

static int mode_needed(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

static int call_open(const char* path, int flags, mode_t mode, void* context) {
  return ((open_fn)context)(path, flags, mode);
}

struct openat_context {
  openat_fn call;
  int dirfd;
};

static int call_openat(const char* path, int flags, mode_t mode, void* context) {
  struct openat_context* at = context;
  return at->call(at->dirfd, path, flags, mode);
}

static int wrapped_openat(openat_fn call, int dirfd, const char* path, int flags, mode_t mode) {
  if (path == NULL || path[0] != '/') return call(dirfd, path, flags, mode);
  struct openat_context context = {call, dirfd};
  return open_node(path, flags, mode, call_openat, &context);
}

EXPORT int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (mode_needed(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return open_node(path, flags, mode, call_open, (void*)next_open());
}

EXPORT int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (mode_needed(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return open_node(path, flags, mode, call_open, (void*)next_open64());
}

EXPORT int __open_2(const char* path, int flags) {
  return open_node(path, flags, 0, call_open, (void*)next_open());
}

EXPORT int __open64_2(const char* path, int flags) {
  return open_node(path, flags, 0, call_open, (void*)next_open64());
}

EXPORT int openat(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (mode_needed(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return wrapped_openat(next_openat(), dirfd, path, flags, mode);
}

EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (mode_needed(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return wrapped_openat(next_openat64(), dirfd, path, flags, mode);
}

EXPORT int __openat_2(int dirfd, const char* path, int flags) {
  return wrapped_openat(next_openat(), dirfd, path, flags, 0);
}

EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
  return wrapped_openat(next_openat64(), dirfd, path, flags, 0);
}

/* Forgets fd, and ends its open when it was the last descriptor of it. */
static void forget(int fd) {
  if (nothing_tracked()) return;
  struct open_node ended;
  lock_table();
  int last = remove_fd(fd, &ended);
  unlock_table();
  if (last) release(&ended);
}

EXPORT int close(int fd) {
  forget(fd);
  return next_close()(fd);
}

EXPORT int dup(int fd) {
  int copy = next_dup()(fd);
  copy_fd(fd, copy);
  return copy;
}

EXPORT int dup2(int fd, int target) {
  int copy = next_dup2()(fd, target);
  if (copy >= 0 && fd != target) {
    forget(target);
    copy_fd(fd, copy);
  }
  return copy;
}

EXPORT int dup3(int fd, int target, int flags) {
  int copy = next_dup3()(fd, target, flags);
  if (copy >= 0) {
    forget(target);
    copy_fd(fd, copy);
  }
  return copy;
}

static int wrapped_fcntl(fcntl_fn call, int fd, int command, void* argument) {
  int result = call(fd, command, argument);
  if (result >= 0 && (command == F_DUPFD || command == F_DUPFD_CLOEXEC)) copy_fd(fd, result);
  return result;
}

/* The third argument is an int or a pointer, as the command says; passed on as a pointer,
 * which carries either. */
EXPORT int fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  return wrapped_fcntl(next_fcntl(), fd, command, argument);
}

EXPORT int fcntl64(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  return wrapped_fcntl(next_fcntl64(), fd, command, argument);
}

EXPORT ssize_t write(int fd, const void* data, size_t size) {
  struct open_node open;
  if (!lookup(fd, &open)) return next_write()(fd, data, size);
  return node_write(fd, &open, data, size);
}

/* poll() and ppoll() on an array with printer nodes in it. The terminal behind a node is
 * always writable, so POLLOUT is the model's: reported when the last chunk has completed.
 * While a node asked for POLLOUT waits for its chunk, the terminals are polled in steps
 * of 1 ms. A node that is gone is left to its terminal (POLLHUP, POLLERR). */

#define WRITABLE (POLLOUT | POLLWRNORM)
#define STACK_ENTRIES 64

struct poll_call {
  int is_ppoll;
  const sigset_t* mask;
};

static int real_poll_step(const struct poll_call* call, struct pollfd* entries, nfds_t count,
                          int64_t timeout_ns) {
  if (!call->is_ppoll) {
    int ms = timeout_ns < 0 ? -1 : (int)((timeout_ns + 999999) / 1000000);
    return next_poll()(entries, count, ms);
  }
  struct timespec step = {timeout_ns / 1000000000, timeout_ns % 1000000000};
  return next_ppoll()(entries, count, timeout_ns < 0 ? NULL : &step, call->mask);
}

static int poll_nodes(const struct poll_call* call, struct pollfd* fds_in, nfds_t count,
                      int64_t timeout_ns) {
  struct pollfd stack_entries[STACK_ENTRIES];
  struct open_node stack_opens[STACK_ENTRIES];
  signed char stack_kind[STACK_ENTRIES];
  struct pollfd* entries = stack_entries;
  struct open_node* opens_of = stack_opens;
  signed char* kind = stack_kind; /* 0: not a node; 1: a node asked for POLLOUT */
  void* heap = NULL;
  if (count > STACK_ENTRIES) {
    heap = malloc(count * (sizeof *entries + sizeof *opens_of + 1));
    if (heap == NULL) return real_poll_step(call, fds_in, count, timeout_ns);
    entries = heap;
    opens_of = (struct open_node*)(entries + count);
    kind = (signed char*)(opens_of + count);
  }
  int any = 0;
  for (nfds_t i = 0; i < count; ++i) {
    kind[i] = (fds_in[i].events & WRITABLE) && lookup(fds_in[i].fd, &opens_of[i]);
    any |= kind[i];
  }
  if (!any) {
    free(heap);
    return real_poll_step(call, fds_in, count, timeout_ns);
  }
  uint64_t deadline = timeout_ns < 0 ? UINT64_MAX : monotonic_ns() + (uint64_t)timeout_ns;
  int result;
  for (;;) {
    int ready = 0;
    int waiting = 0;
    for (nfds_t i = 0; i < count; ++i) {
      entries[i] = fds_in[i];
      entries[i].revents = 0;
      if (!kind[i] || node_gone(&opens_of[i])) continue;
      entries[i].events &= (short)~WRITABLE;
      if (write_complete(&opens_of[i])) {
        ready = 1;
      } else {
        waiting = 1;
      }
    }
    uint64_t now = monotonic_ns();
    int64_t left = deadline == UINT64_MAX ? -1 : (int64_t)(deadline > now ? deadline - now : 0);
    int64_t step = ready ? 0 : waiting && (left < 0 || left > 1000000) ? 1000000 : left;
    result = real_poll_step(call, entries, count, step);
    if (result < 0) break;
    result = 0;
    for (nfds_t i = 0; i < count; ++i) {
      short revents = entries[i].revents;
      if (kind[i] && !node_gone(&opens_of[i])) {
        revents &= (short)~WRITABLE;
        if (write_complete(&opens_of[i])) revents |= (short)(fds_in[i].events & WRITABLE);
      }
      fds_in[i].revents = revents;
      if (revents != 0) ++result;
    }
    if (result > 0 || !waiting || left == 0) break;
  }
  free(heap);
  return result;
}

EXPORT int poll(struct pollfd* entries, nfds_t count, int timeout_ms) {
  struct poll_call call = {0, NULL};
  if (nothing_tracked()) return next_poll()(entries, count, timeout_ms);
  return poll_nodes(&call, entries, count, timeout_ms < 0 ? -1 : (int64_t)timeout_ms * 1000000);
}

EXPORT int __poll_chk(struct pollfd* entries, nfds_t count, int timeout_ms, size_t size) {
  (void)size;
  return poll(entries, count, timeout_ms);
}

EXPORT int ppoll(struct pollfd* entries, nfds_t count, const struct timespec* timeout,
                 const sigset_t* mask) {
  if (nothing_tracked()) return next_ppoll()(entries, count, timeout, mask);
  struct poll_call call = {1, mask};
  int64_t ns = timeout == NULL ? -1 : (int64_t)timeout->tv_sec * 1000000000 + timeout->tv_nsec;
  return poll_nodes(&call, entries, count, ns);
}

EXPORT int __ppoll_chk(struct pollfd* entries, nfds_t count, const struct timespec* timeout,
                       const sigset_t* mask, size_t size) {
  (void)size;
  return ppoll(entries, count, timeout, mask);
}
