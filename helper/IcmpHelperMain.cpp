// quillon-icmp-helper opens raw ICMP sockets for the Quillon process that
// started it and hands them over the Unix socket that is its standard input.
// It is the one part of Quillon given CAP_NET_RAW (or setuid root where the
// file system keeps no capabilities), so it takes nothing from its caller but
// the kind and number of sockets, gives up every privilege as soon as it has
// them, and runs nothing else.
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "IcmpHelperRequest.h"

namespace {

using quillon::IcmpHelperMaxSockets;
using quillon::TIcmpSocketKind;

// The exit statuses the client tells apart (IcmpHelperPosix.cpp).
constexpr int ExitBadRequest = 2;
constexpr int ExitNotPermitted = 3;
constexpr int ExitFailed = 4;

int Fail(int status, const std::string& message) {
  const std::string line = "quillon-icmp-helper: " + message + "\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  return status;
}

// Gives up the root identity of a setuid run and every capability, for good,
// and checks that none is left.
bool DropPrivileges() {
  const gid_t gid = getgid();
  const uid_t uid = getuid();
  if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, caps) != 0) return false;
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0) return false;
  if (syscall(SYS_capget, &header, caps) != 0) return false;
  for (const auto& part : caps) {
    if (part.effective != 0 || part.permitted != 0 || part.inheritable != 0) return false;
  }
  return true;
}

bool IsUnixSocket(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  return getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
         address.ss_family == AF_UNIX;
}

// All the sockets in one message: a byte with their number, and the descriptors.
bool HandOver(int channel, const std::vector<int>& sockets) {
  char count = static_cast<char>(sockets.size());
  iovec part{&count, 1};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int) * IcmpHelperMaxSockets)] = {};
  const std::size_t bytes = sizeof(int) * sockets.size();
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = CMSG_SPACE(bytes);
  cmsghdr* rights = CMSG_FIRSTHDR(&message);
  rights->cmsg_level = SOL_SOCKET;
  rights->cmsg_type = SCM_RIGHTS;
  rights->cmsg_len = CMSG_LEN(bytes);
  std::memcpy(CMSG_DATA(rights), sockets.data(), bytes);
  return sendmsg(channel, &message, MSG_NOSIGNAL) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  const quillon::TIcmpHelperRequest request = quillon::ParseIcmpHelperRequest(words);
  if (!request.Valid()) {
    DropPrivileges();
    return Fail(ExitBadRequest, "refused: " + request.Error +
                                    "\nusage: quillon-icmp-helper icmp|icmp6 COUNT, "
                                    "with a Unix socket as standard input");
  }
  if (!IsUnixSocket(STDIN_FILENO)) {
    DropPrivileges();
    return Fail(ExitBadRequest,
                "refused: standard input is not a Unix socket to hand sockets over");
  }

  const bool v6 = request.Kind == TIcmpSocketKind::Icmp6;
  std::vector<int> sockets;
  for (int i = 0; i < request.Count; ++i) {
    const int protocol = v6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
    const int socket = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (socket < 0) {
      const int error = errno;
      DropPrivileges();
      return Fail(error == EPERM || error == EACCES ? ExitNotPermitted : ExitFailed,
                  std::string("cannot open a raw ICMP socket: ") + std::strerror(error));
    }
    sockets.push_back(socket);
  }
  if (!DropPrivileges()) return Fail(ExitFailed, "cannot give up its privileges");
  if (!HandOver(STDIN_FILENO, sockets)) {
    return Fail(ExitFailed, std::string("cannot hand the sockets over: ") + std::strerror(errno));
  }
  return 0;
}
