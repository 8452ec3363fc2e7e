/* For the end-to-end run under Wine only, never shipped: a pseudo-terminal
 * has no modem-control lines, so Linux refuses TIOCMBIS and the like on it,
 * Wine turns that into error 50, and the tool rightly reports that the
 * gateway cannot be addressed (ExchangeError 7). Loaded with LD_PRELOAD into
 * Wine, this lets those requests succeed on pseudo-terminals (and on them
 * only) and keeps the lines' state per descriptor, so that EscapeCommFunction
 * behaves as on a port with the lines wired. With TV_MODEM_LINES_LOG set,
 * each change of DTR or RTS is appended to that file as "DTR=1 RTS=0", and
 * each write to the port as "sent DTR=1 RTS=0", the levels in force while
 * those bytes went out: the gateway that received them. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

static int (*real_ioctl)(int, unsigned long, ...);
static int lines[1024];

static dev_t port[1024]; /* the device whose lines were driven through each descriptor */

static int is_pty(int fd) {
  struct stat st;
  if (fd < 0 || fd >= 1024 || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  const unsigned m = major(st.st_rdev);
  return (m >= 136 && m <= 143) || m == 3;
}

/* A descriptor of the port: its lines were driven, and it still leads to
 * that device (Wine's console is a pseudo-terminal too). */
static int is_port(int fd) {
  struct stat st;
  return is_pty(fd) && fstat(fd, &st) == 0 && port[fd] == st.st_rdev;
}

static void note(int fd, const char *what) {
  const char *path = getenv("TV_MODEM_LINES_LOG");
  if (!path) return;
  FILE *f = fopen(path, "a");
  if (!f) return;
  fprintf(f, "%sDTR=%d RTS=%d\n", what, (lines[fd] & TIOCM_DTR) != 0, (lines[fd] & TIOCM_RTS) != 0);
  fclose(f);
}

ssize_t write(int fd, const void *buf, size_t count) {
  static ssize_t (*real_write)(int, const void *, size_t);
  if (!real_write) real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
  const ssize_t n = real_write(fd, buf, count);
  if (n > 0 && is_port(fd)) note(fd, "sent ");
  return n;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);
  if (!real_ioctl) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) &&
      is_pty(fd)) {
    int *bits = (int *)arg;
    const int before = lines[fd];
    struct stat st;
    if (fstat(fd, &st) == 0) port[fd] = st.st_rdev;
    switch (request) {
      case TIOCMGET: *bits = lines[fd] | TIOCM_CTS | TIOCM_DSR | TIOCM_CD; return 0;
      case TIOCMSET: lines[fd] = *bits & (TIOCM_DTR | TIOCM_RTS); break;
      case TIOCMBIS: lines[fd] |= *bits & (TIOCM_DTR | TIOCM_RTS); break;
      default: lines[fd] &= ~(*bits & (TIOCM_DTR | TIOCM_RTS)); break;
    }
    if (lines[fd] != before) note(fd, "");
    return 0;
  }
  return real_ioctl(fd, request, arg);
}
