#include "floor.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

int floor_open(const char *path) {
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct termios t;
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD | PARENB;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

void floor_close(int fd) {
  if (fd >= 0) close(fd);
}

int floor_request(int id, char *out, int cap) {
  /* The length counts every character before the last ';', the '{'
     included: "{" id ";LeTexto;NomeTexto=\"NumeroSerieECF\"". */
  char head[64];
  const int n = snprintf(head, sizeof head, "{%d;LeTexto;NomeTexto=\"NumeroSerieECF\"", id);
  const int len = snprintf(out, (size_t)cap, "%s;%d}", head, n);
  return len < cap ? len : -1;
}

static int write_all(int fd, const char *p, int n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, (size_t)n);
    if (w > 0) {
      p += w;
      n -= (int)w;
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EAGAIN) {
      struct pollfd o = {fd, POLLOUT, 0};
      poll(&o, 1, -1);
      continue;
    }
    return -1;
  }
  return 0;
}

int floor_exchange(int fd, int id, int timeout_ms, char *answer, int cap) {
  char request[96];
  const int length = floor_request(id, request, sizeof request);
  if (length < 0 || write_all(fd, request, length) != 0) return -1;

  int count = 0;
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    const int r = poll(&p, 1, timeout_ms);
    if (r <= 0) return -1;
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n != 1) return -1;
    if (count == 0 && c != '{') continue;
    if (count + 1 >= cap) return -1;
    answer[count++] = c;
    if (c == '}') break;
  }
  answer[count] = '\0';

  /* "{id;0;": this id and the success code. */
  char expect[16];
  const int e = snprintf(expect, sizeof expect, "{%d;0;", id);
  return strncmp(answer, expect, (size_t)e) == 0 ? count : -1;
}
