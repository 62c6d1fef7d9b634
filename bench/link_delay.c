/* link_delay: a fixed one-way delay for the packets a netfilter queue hands over, the
 * propagation delay of bench/update_links.sh's emulated links (its kernel has no netem).
 *
 *   link_delay QUEUE DELAY_US
 *
 * Binds netfilter queue QUEUE of the current network namespace (an iptables NFQUEUE rule
 * sends the packets there), keeps each packet DELAY_US microseconds after it arrived and then
 * accepts it. Packets leave in the order they came, so the link never reorders. Only the
 * packets' metadata is copied to this process, large (segmentation offload) packets stay whole,
 * and the process asks for a real-time priority so that other work on the machine does not
 * stretch the delay. Prints "ready" once bound; SIGINT or SIGTERM ends it (the kernel then
 * drops what is still queued).
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_queue.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define QUEUE_MAXLEN 65536u
#define RING_SIZE (2 * QUEUE_MAXLEN) /* a power of two above what the kernel may hold */

struct held {
  uint32_t id;
  int64_t due_ns;
};

static struct held ring[RING_SIZE];
static uint32_t head, tail; /* ring[head..tail) are waiting */
static volatile sig_atomic_t stop;
static int fd;
static uint16_t queue_num;
static uint32_t seq;

static void on_signal(int sig) {
  (void)sig;
  stop = 1;
}

static int64_t now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static void die(const char* what) {
  fprintf(stderr, "link_delay: %s: %s\n", what, strerror(errno));
  exit(1);
}

/* A message to the queue subsystem: header, nfgenmsg, then attributes added with put_attr. */
struct request {
  char buf[256];
  struct nlmsghdr* nlh;
};

static void begin(struct request* r, uint16_t type, uint16_t flags) {
  memset(r->buf, 0, sizeof r->buf);
  r->nlh = (struct nlmsghdr*)r->buf;
  r->nlh->nlmsg_len = NLMSG_LENGTH(sizeof(struct nfgenmsg));
  r->nlh->nlmsg_type = (NFNL_SUBSYS_QUEUE << 8) | type;
  r->nlh->nlmsg_flags = NLM_F_REQUEST | flags;
  r->nlh->nlmsg_seq = ++seq;
  struct nfgenmsg* g = NLMSG_DATA(r->nlh);
  g->nfgen_family = AF_UNSPEC;
  g->version = NFNETLINK_V0;
  g->res_id = htons(queue_num);
}

static void put_attr(struct request* r, uint16_t type, const void* data, uint16_t len) {
  struct nlattr* a = (struct nlattr*)(r->buf + NLMSG_ALIGN(r->nlh->nlmsg_len));
  a->nla_type = type;
  a->nla_len = NLA_HDRLEN + len;
  memcpy((char*)a + NLA_HDRLEN, data, len);
  r->nlh->nlmsg_len = NLMSG_ALIGN(r->nlh->nlmsg_len) + NLA_ALIGN(a->nla_len);
}

static void send_request(struct request* r) {
  struct sockaddr_nl kernel = {.nl_family = AF_NETLINK};
  if (sendto(fd, r->buf, r->nlh->nlmsg_len, 0, (struct sockaddr*)&kernel, sizeof kernel) < 0)
    die("sending to the netfilter queue");
}

/* Sends a configuration message and waits for the kernel's acknowledgement. */
static void configure(struct request* r, const char* what) {
  send_request(r);
  char buf[4096];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) die(what);
    for (struct nlmsghdr* h = (struct nlmsghdr*)buf; NLMSG_OK(h, (size_t)n);
         h = NLMSG_NEXT(h, n)) {
      if (h->nlmsg_type != NLMSG_ERROR || h->nlmsg_seq != seq) continue;
      const struct nlmsgerr* e = NLMSG_DATA(h);
      if (e->error != 0) {
        errno = -e->error;
        die(what);
      }
      return;
    }
  }
}

/* Accepts every waiting packet up to and including ID (they left in order). */
static void accept_up_to(uint32_t id) {
  struct request r;
  begin(&r, NFQNL_MSG_VERDICT_BATCH, 0);
  struct nfqnl_msg_verdict_hdr v = {.verdict = htonl(NF_ACCEPT), .id = htonl(id)};
  put_attr(&r, NFQA_VERDICT_HDR, &v, sizeof v);
  send_request(&r);
}

static void take_packet(const struct nlmsghdr* h, int64_t delay_ns) {
  if (h->nlmsg_type != ((NFNL_SUBSYS_QUEUE << 8) | NFQNL_MSG_PACKET)) return;
  size_t len = h->nlmsg_len - NLMSG_LENGTH(sizeof(struct nfgenmsg));
  const struct nlattr* a =
      (const struct nlattr*)((const char*)NLMSG_DATA(h) + NLMSG_ALIGN(sizeof(struct nfgenmsg)));
  while (len >= NLA_HDRLEN && a->nla_len >= NLA_HDRLEN && a->nla_len <= len) {
    if ((a->nla_type & NLA_TYPE_MASK) == NFQA_PACKET_HDR) {
      const struct nfqnl_msg_packet_hdr* p = (const void*)((const char*)a + NLA_HDRLEN);
      if (tail - head == RING_SIZE) { /* cannot happen with the queue's limit; never stall */
        accept_up_to(ring[(tail - 1) % RING_SIZE].id);
        head = tail;
      }
      ring[tail % RING_SIZE] = (struct held){ntohl(p->packet_id), now_ns() + delay_ns};
      tail++;
      return;
    }
    len -= NLA_ALIGN(a->nla_len);
    a = (const struct nlattr*)((const char*)a + NLA_ALIGN(a->nla_len));
  }
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: link_delay QUEUE DELAY_US\n");
    return 2;
  }
  queue_num = (uint16_t)atoi(argv[1]);
  const int64_t delay_ns = (int64_t)atoll(argv[2]) * 1000;

  struct sched_param sp = {.sched_priority = 20};
  if (sched_setscheduler(0, SCHED_FIFO, &sp) != 0)
    fprintf(stderr, "link_delay: no real-time priority (%s); the delay may stretch\n",
            strerror(errno));
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);

  fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_NETFILTER);
  if (fd < 0) die("netlink socket");
  int size = 16 << 20, on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  setsockopt(fd, SOL_NETLINK, NETLINK_NO_ENOBUFS, &on, sizeof on);
  struct sockaddr_nl local = {.nl_family = AF_NETLINK};
  if (bind(fd, (struct sockaddr*)&local, sizeof local) != 0) die("netlink bind");

  struct request r;
  begin(&r, NFQNL_MSG_CONFIG, NLM_F_ACK);
  struct nfqnl_msg_config_cmd cmd = {.command = NFQNL_CFG_CMD_BIND, .pf = htons(AF_INET)};
  put_attr(&r, NFQA_CFG_CMD, &cmd, sizeof cmd);
  configure(&r, "binding the queue");

  begin(&r, NFQNL_MSG_CONFIG, NLM_F_ACK);
  struct nfqnl_msg_config_params params = {.copy_range = htonl(0), .copy_mode = NFQNL_COPY_META};
  put_attr(&r, NFQA_CFG_PARAMS, &params, sizeof params);
  uint32_t maxlen = htonl(QUEUE_MAXLEN);
  put_attr(&r, NFQA_CFG_QUEUE_MAXLEN, &maxlen, sizeof maxlen);
  uint32_t flags = htonl(NFQA_CFG_F_GSO);
  put_attr(&r, NFQA_CFG_FLAGS, &flags, sizeof flags);
  put_attr(&r, NFQA_CFG_MASK, &flags, sizeof flags);
  configure(&r, "configuring the queue");

  printf("ready\n");
  fflush(stdout);

  static char buf[1 << 16];
  while (!stop) {
    int64_t now = now_ns();
    if (head != tail && ring[head % RING_SIZE].due_ns <= now) {
      uint32_t last = head;
      while (last + 1 != tail && ring[(last + 1) % RING_SIZE].due_ns <= now) last++;
      accept_up_to(ring[last % RING_SIZE].id);
      head = last + 1;
      continue;
    }
    struct timespec wait = {1, 0};
    if (head != tail) {
      int64_t left = ring[head % RING_SIZE].due_ns - now;
      wait.tv_sec = left / 1000000000;
      wait.tv_nsec = left % 1000000000;
    }
    struct pollfd p = {.fd = fd, .events = POLLIN};
    int ready = ppoll(&p, 1, &wait, NULL);
    if (ready < 0) {
      if (errno == EINTR) continue;
      die("poll");
    }
    if (ready == 0) continue;
    for (;;) {
      ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) break;
        if (errno == ENOBUFS) continue; /* the kernel dropped a message; go on */
        die("receiving from the netfilter queue");
      }
      for (struct nlmsghdr* h = (struct nlmsghdr*)buf; NLMSG_OK(h, (size_t)n);
           h = NLMSG_NEXT(h, n))
        take_packet(h, delay_ns);
    }
  }
  return 0;
}
