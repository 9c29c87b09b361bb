#!/usr/bin/env bash
# The network lab: a chain of network namespaces for tests and benchmarks that
# need real routers, real ICMP and real name lookups without touching any other
# network.
#
#   src --link 0-- r1 --link 1-- r2 ... rN --link N-- dst
#
# Link i joins its left node (src, or router i) to its right node (router i+1, or
# the target) on 198.18.i.0/24 (the benchmarking range): the left end is
# 198.18.i.1, the right end 198.18.i.2. Each node names its link towards the
# target "east" and the one towards the source "west". So hop k (TTL k) answers
# from 198.18.(k-1).2, and the target, hop N+1, is 198.18.N.2. Routers send their
# ICMP errors from the address of the interface they leave by (the one facing the
# source), every rate limit on ICMP is off, and the source can reach nothing but
# the lab (it has no default route).
#
# With --ipv6 the chain is dual-stack: link i also carries 2001:2:0:i::/64 (i in
# hex; the IPv6 benchmarking range), left end ::1, right end ::2, so hop k
# answers from 2001:2:0:(k-1)::2 as well. Duplicate address detection and router
# advertisements are off, routers forward both families, ICMPv6 has no rate
# limit, and every option below applies to both families.
#
# Links are veth pairs. With --delay MS every link is instead a pair of TUN
# devices, one in each namespace, joined by quillon_delaylink (tests/lab/tools),
# which holds every packet MS milliseconds in each direction; a probe to hop k
# thus takes at least 2*k*MS. The kernel's delay queue is not available on our
# machines, hence the forwarder. It owns its devices: stopping it removes them.
# A veth pair hands a locally built packet over marked as checksum-verified, so
# the target would answer a request with a wrong ICMP checksum; with
# --verify-checksums the target's link is a forwarder link (also at delay 0),
# whose packets the target checks like any from a real wire.
#
# Options of the routers and target (nft rules in their namespaces):
#   --silent i,j   routers that drop their outgoing ICMP time-exceeded
#   --drop-echo    the target drops echo requests
#   --prohibit k   router k rejects forwarded echo requests with admin-prohibited
#   --filter-echo k router k drops the echo requests it forwards (passing UDP and
#                  TCP, as many firewalls do)
#   --listen PORT  the target accepts TCP connects on PORT (both families); every
#                  other port refuses them with a reset
#   --icmp-limit k router k rate-limits its time-exceeded answers: a burst of 4,
#                  then one a minute (an nft limit rule); packets still pass;
#                  k:N answers at most N a second (burst N) instead
#   --lossy k:D    router k drops one of every D echo requests it forwards towards
#                  each hop beyond it (an nft counter per remaining TTL, so two
#                  tools meet the same share at every hop whatever else they send)
# Names: --names "1=one,3=three,target=end" writes the source namespace's hosts
# file (/etc/netns/<src>/hosts), a name for each address of the hop (both
# families with --ipv6); its resolv.conf points at 127.0.0.1, where
# nothing listens, so a name not in the hosts file fails at once and no lookup
# leaves the machine.
# AS numbers: --asn "1=64501,2=64501+64502" starts a DNS server (dnsmasq) in
# the source namespace on 127.0.0.1, where its resolv.conf points, that
# answers the IP-to-AS zone's TXT questions for the lab: for each hop listed
# "ASN... | 198.18.(k-1).0/24 | ZZ | lab | 2026-12-01" (the two-AS answer in
# two strings), for IPv6 under origin6 too, and for every AS listed
# "ASN | ZZ | lab | 2026-12-01 | LAB-AS<n>". Every other name under
# asn.cymru.com, in-addr.arpa and ip6.arpa has no record; nothing is forwarded.
# It logs every question to the file LAB_DNS_LOG names.
#
# Commands:
#   lab.sh up [options]            build a lab, print its facts (VAR=value lines)
#   lab.sh down PREFIX | --all     tear a lab down (idempotent); --all: every lab
#                                  on this machine, other runs' too
#   lab.sh run [options] -- CMD..  build, run CMD in the source namespace with the
#                                  facts in its environment, tear down, exit as CMD
# More options: --routers N (default 3), --prefix P (default: random id + pid),
# --owner PID (forwarders stop when PID is gone), --delaylink PATH,
# --verify-checksums (see above).
#
# Exit codes: 0 done, 1 failure, 2 bad usage, 77 not root or no namespaces here
# (tests turn it into a skip).
set -euo pipefail

readonly LAB_STATE_ROOT=/run/quillon-lab
readonly EXIT_SKIP=77
readonly MAX_ROUTERS=250

log() { printf 'lab.sh: %s\n' "$*" >&2; }
die() {
  log "$*"
  exit 1
}
usage() {
  log "$*"
  log "usage: lab.sh up [--routers N] [--silent i,j] [--drop-echo] [--prohibit k]" \
    "[--filter-echo k] [--listen PORT] [--icmp-limit k[:N]] [--lossy k:D]" \
    "[--names \"1=a,target=b\"] [--delay MS] [--verify-checksums] [--ipv6] [--prefix P]" \
    "[--asn \"1=64501,2=64501+64502\"] [--owner PID] [--delaylink PATH]"
  log "       lab.sh down PREFIX|--all"
  log "       lab.sh run [up options] -- command..."
  exit 2
}

is_number() { [[ $1 =~ ^[0-9]{1,7}$ ]]; }
# Whether $1 is a whole number from $2 to $3.
in_range() { is_number "$1" && ((10#$1 >= $2 && 10#$1 <= $3)); }

# Runs "$@" every 20 ms until it succeeds, for 5 s at most; fails at once when
# process $1 (unless empty) has ended.
await() {
  local pid=$1 tries
  shift
  for ((tries = 0; tries < 250; tries++)); do
    "$@" && return
    [[ -z $pid ]] || kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.02
  done
  return 1
}

# A HOP=VALUE,... list of option $1 (HOP a hop number or "target", VALUE
# matching $3, described as $4) into the array named $5.
parse_hop_list() {
  local option=$1 list=$2 pattern=$3 form=$4 item key value items
  local -n into=$5
  IFS=, read -ra items <<<"$list"
  for item in "${items[@]}"; do
    [[ $item =~ ^([a-z0-9]+)=($pattern)$ ]] || usage "$option entries are HOP=$form, not '$item'"
    key=${BASH_REMATCH[1]} value=${BASH_REMATCH[2]}
    [[ $key == target ]] && key=$((routers + 1))
    in_range "$key" 1 $((routers + 1)) ||
      usage "$option: no hop '$key' (hops are 1..$((routers + 1)) or target)"
    # shellcheck disable=SC2034,SC2321  # into names the caller's associative array
    into[$((10#$key))]=$value
  done
}

# --- options -----------------------------------------------------------------
routers=3 delay=0 prohibit=0 drop_echo=0 checksums=0 ipv6=0 prefix="" owner="" delaylink=""
icmp_limit=0 icmp_rate=0 lossy="" lossy_router=0 lossy_every=0 filter_echo=0 listen=""
silent_list="" names_list="" asn_list="" building=0
declare -A silent=() names=() asn=()

parse_options() {
  while (($# > 0)); do
    case $1 in
      --routers | --silent | --prohibit | --names | --asn | --delay | --prefix | --owner | --delaylink | \
        --icmp-limit | --lossy | --filter-echo | --listen)
        (($# >= 2)) || usage "missing value after $1" ;;&
      --routers) routers=$2 ;;
      --silent) silent_list=$2 ;;
      --prohibit) prohibit=$2 ;;
      --names) names_list=$2 ;;
      --asn) asn_list=$2 ;;
      --delay) delay=$2 ;;
      --prefix) prefix=$2 ;;
      --owner) owner=$2 ;;
      --delaylink) delaylink=$2 ;;
      --icmp-limit) icmp_limit=$2 ;;
      --lossy) lossy=$2 ;;
      --filter-echo) filter_echo=$2 ;;
      --listen) listen=$2 ;;
      --drop-echo) drop_echo=1 ;;
      --verify-checksums) checksums=1 ;;
      --ipv6) ipv6=1 ;;
      *) usage "unknown option '$1'" ;;
    esac
    if [[ $1 == --drop-echo || $1 == --verify-checksums || $1 == --ipv6 ]]; then
      shift
    else
      shift 2
    fi
  done

  in_range "$routers" 0 "$MAX_ROUTERS" ||
    usage "--routers must be 0..$MAX_ROUTERS, not '$routers'"
  routers=$((10#$routers))
  in_range "$delay" 0 10000 || usage "--delay must be 0..10000 ms, not '$delay'"
  delay=$((10#$delay))
  in_range "$prohibit" 0 "$routers" ||
    usage "--prohibit must name a router 1..$routers, not '$prohibit'"
  prohibit=$((10#$prohibit))
  if [[ $icmp_limit == *:* ]]; then
    icmp_rate=${icmp_limit#*:} icmp_limit=${icmp_limit%%:*}
    in_range "$icmp_rate" 1 1000 || usage "--icmp-limit's rate must be 1..1000 a second, not '$icmp_rate'"
    icmp_rate=$((10#$icmp_rate))
  fi
  in_range "$icmp_limit" 0 "$routers" ||
    usage "--icmp-limit must name a router 1..$routers, not '$icmp_limit'"
  icmp_limit=$((10#$icmp_limit))
  in_range "$filter_echo" 0 "$routers" ||
    usage "--filter-echo must name a router 1..$routers, not '$filter_echo'"
  filter_echo=$((10#$filter_echo))
  if [[ -n $listen ]]; then
    in_range "$listen" 1 65535 || usage "--listen must be a port 1..65535, not '$listen'"
    listen=$((10#$listen))
  fi
  if [[ -n $lossy ]]; then
    lossy_router=${lossy%%:*} lossy_every=${lossy#*:}
    [[ $lossy == *:* ]] && in_range "$lossy_router" 1 "$routers" &&
      in_range "$lossy_every" 2 1000 ||
      usage "--lossy must be ROUTER:EVERY (router 1..$routers, one drop in 2..1000), not '$lossy'"
    lossy_router=$((10#$lossy_router)) lossy_every=$((10#$lossy_every))
  fi
  [[ -z $owner ]] || is_number "$owner" || usage "--owner must be a process id, not '$owner'"
  if [[ -z $prefix ]]; then
    prefix="ql$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')$$"
  fi
  [[ $prefix =~ ^[A-Za-z0-9_]{1,32}$ ]] || usage "--prefix must be 1..32 letters, digits or _"

  local item key items
  if [[ -n $silent_list ]]; then
    IFS=, read -ra items <<<"$silent_list"
    for item in "${items[@]}"; do
      in_range "$item" 1 "$routers" ||
        usage "--silent must list routers 1..$routers, not '$item'"
      silent[$((10#$item))]=1
    done
  fi
  [[ -z $names_list ]] ||
    parse_hop_list --names "$names_list" '[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?' name names
  [[ -z $asn_list ]] ||
    parse_hop_list --asn "$asn_list" '[0-9]{1,9}(\+[0-9]{1,9})*' 'AS[+AS...]' asn
  for key in "${!asn[@]}"; do asn[$key]=${asn[$key]//+/ }; done
}

# --- the chain ---------------------------------------------------------------
# Node 0 is the source, 1..N the routers, N+1 the target.
node_ns() {
  local node=$1
  if ((node == 0)); then
    echo "$prefix-src"
  elif ((node == routers + 1)); then
    echo "$prefix-dst"
  else
    echo "$prefix-r$node"
  fi
}
left_addr() { echo "198.18.$1.1"; }  # link i, left end
right_addr() { echo "198.18.$1.2"; } # link i, right end
hop_addr() { right_addr $(($1 - 1)); }
# In the short form tracers print: link 0's addresses are 2001:2::1 and ::2.
link_addr6() { if (($1 == 0)); then echo "2001:2::$2"; else printf '2001:2:0:%x::%s\n' "$1" "$2"; fi; }
left_addr6() { link_addr6 "$1" 1; }
right_addr6() { link_addr6 "$1" 2; }
hop_addr6() { right_addr6 $(($1 - 1)); }

state_dir() { echo "$LAB_STATE_ROOT/$1"; }

require_root() {
  if (($(id -u) != 0)); then
    log "skipped: the lab needs root (network namespaces, raw sockets, nft)"
    exit $EXIT_SKIP
  fi
  local tool
  for tool in ip nft ping; do
    command -v "$tool" >/dev/null || die "'$tool' is missing; scripts/setup.sh installs it"
  done
}

find_delaylink() {
  local candidate root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  for candidate in "$delaylink" "${QUILLON_DELAYLINK:-}" \
    "${QUILLON_BINARY_DIR:+$QUILLON_BINARY_DIR/tests/lab/quillon_delaylink}" \
    "$root"/build/*/tests/lab/quillon_delaylink "$(command -v quillon_delaylink || true)"; do
    if [[ -n $candidate && -x $candidate ]]; then
      echo "$candidate"
      return
    fi
  done
  die "--delay and --verify-checksums need quillon_delaylink: build it" \
    "(cmake --build BUILD --target quillon_delaylink) or name it with --delaylink PATH"
}

# Per-namespace settings, before any link exists so that new interfaces inherit
# them: no IPv6 unless asked for, and then no DAD, router advertisements or
# solicitations on the links; no reverse-path filter, and no limit on ICMP
# errors or echo replies.
configure_namespace() {
  local ns=$1 forwarding=$2 off=$((1 - ipv6))
  ip netns exec "$ns" sysctl -q -e -w \
    net.ipv6.conf.all.disable_ipv6=$off net.ipv6.conf.default.disable_ipv6=$off \
    net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 \
    net.ipv4.ip_forward="$forwarding" \
    net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_ratemask=0 \
    net.ipv4.icmp_msgs_per_sec=1000000 net.ipv4.icmp_msgs_burst=1000000 \
    net.ipv4.icmp_echo_ignore_all=0 net.ipv4.icmp_echo_ignore_broadcasts=1 \
    net.ipv4.icmp_errors_use_inbound_ifaddr=1 >/dev/null 2>&1 || true
  [[ $(ip netns exec "$ns" sysctl -n net.ipv4.icmp_ratelimit) == 0 ]] ||
    die "cannot switch off the ICMP rate limit in $ns"
  if ((ipv6)); then
    ip netns exec "$ns" sysctl -q -w \
      net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0 \
      net.ipv6.conf.all.dad_transmits=0 net.ipv6.conf.default.dad_transmits=0 \
      net.ipv6.conf.all.accept_ra=0 net.ipv6.conf.default.accept_ra=0 \
      net.ipv6.conf.all.router_solicitations=0 net.ipv6.conf.default.router_solicitations=0 \
      net.ipv6.conf.all.forwarding="$forwarding" net.ipv6.icmp.ratelimit=0 \
      net.ipv6.icmp.echo_ignore_all=0 >/dev/null ||
      die "cannot set up IPv6 in $ns"
  fi
  ip -n "$ns" link set lo up
}

start_delaylink() {
  local link=$1 left=$2 right=$3 dir ready pid named
  dir=$(state_dir "$prefix")
  ready="$dir/link$link.ready"
  setsid "$delaylink" --ns-a "$left" --dev-a east --ns-b "$right" --dev-b west \
    --delay "$delay" --ready "$ready" ${owner:+--watch-pid "$owner"} \
    </dev/null >>"$dir/link$link.log" 2>&1 &
  pid=$!
  echo "$pid" >>"$dir/pids"
  await "$pid" test -s "$ready" ||
    die "delay link $link did not start: $(cat "$dir/link$link.log" 2>/dev/null)"
  # The forwarder names itself: setsid may have run it as a child of its own.
  read -r _ named <"$ready"
  [[ $named == "$pid" ]] || echo "$named" >>"$dir/pids"
}

# A TCP listener in the target's namespace on $listen, for both families (an
# IPv6 socket that takes IPv4 too); it accepts and closes every connection,
# so its backlog never fills. perl is part of every Debian system.
start_listener() {
  local dir pid
  dir=$(state_dir "$prefix")
  setsid ip netns exec "$(node_ns $((routers + 1)))" perl -e '
    use Socket qw(:DEFAULT IN6ADDR_ANY pack_sockaddr_in6);
    socket(my $s, PF_INET6, SOCK_STREAM, 0) or die "socket: $!";
    setsockopt($s, SOL_SOCKET, SO_REUSEADDR, 1);
    bind($s, pack_sockaddr_in6($ARGV[0], IN6ADDR_ANY)) or die "bind: $!";
    listen($s, 128) or die "listen: $!";
    while (1) { accept(my $c, $s) and close($c); }' "$listen" \
    </dev/null >>"$dir/listener.log" 2>&1 &
  pid=$!  # ended with its namespace (lab_down)
  await "$pid" listening ||
    die "the listener on port $listen did not start: $(cat "$dir/listener.log" 2>/dev/null)"
}
listening() { ip netns exec "$(node_ns $((routers + 1)))" ss -Hltn "sport = :$listen" | grep -q .; }

# Routes: the source and the target send everything of the lab to their one
# neighbour; router i sends the whole range east and each network west of its
# own west link back west (connected /24s win over both).
routes_of() {
  local node=$1 j
  if ((node == 0)); then
    echo "route add 198.18.0.0/15 via $(right_addr 0)"
    ((!ipv6)) || echo "route add 2001:2::/48 via $(right_addr6 0)"
  elif ((node == routers + 1)); then
    echo "route add 198.18.0.0/15 via $(left_addr "$routers")"
    ((!ipv6)) || echo "route add 2001:2::/48 via $(left_addr6 "$routers")"
  else
    echo "route add 198.18.0.0/15 via $(right_addr "$node")"
    ((!ipv6)) || echo "route add 2001:2::/48 via $(right_addr6 "$node")"
    for ((j = 0; j < node - 1; j++)); do
      echo "route add 198.18.$j.0/24 via $(left_addr $((node - 1)))"
      ((!ipv6)) || echo "route add $(printf '2001:2:0:%x::/64' "$j") via $(left_addr6 $((node - 1)))"
    done
  fi
}

# The rules of a node for one family: ip (ICMP) or ip6 (ICMPv6, with --ipv6).
nft_rules_of() {
  local node=$1 family=$2 table=quillon_lab icmp=icmp
  if [[ $family == ip6 ]]; then table=quillon_lab6 icmp=icmpv6; fi
  if ((node >= 1 && node <= routers)) && [[ -n ${silent[$node]:-} ]]; then
    echo "add chain $family $table output { type filter hook output priority 0; policy accept; }"
    echo "add rule $family $table output $icmp type time-exceeded drop"
  fi
  if ((node == prohibit && node != 0)); then
    echo "add chain $family $table forward { type filter hook forward priority 0; policy accept; }"
    echo "add rule $family $table forward $icmp type echo-request" \
      "reject with $icmp type admin-prohibited"
  fi
  if ((node == filter_echo && node != 0)); then
    echo "add chain $family $table forward { type filter hook forward priority 0; policy accept; }"
    echo "add rule $family $table forward $icmp type echo-request drop"
  fi
  if ((node == icmp_limit && node != 0)); then
    echo "add chain $family $table output { type filter hook output priority 0; policy accept; }"
    local limit="1/minute burst 4"
    ((icmp_rate == 0)) || limit="$icmp_rate/second burst $icmp_rate"
    echo "add rule $family $table output $icmp type time-exceeded" \
      "limit rate over $limit packets drop"
  fi
  if ((node == lossy_router && node != 0)); then
    local ttl=ip\ ttl last=$((routers + 2 - node)) t
    [[ $family == ip ]] || ttl=ip6\ hoplimit
    echo "add chain $family $table forward { type filter hook forward priority 0; policy accept; }"
    for ((t = 1; t <= last; t++)); do
      echo "add rule $family $table forward $icmp type echo-request $ttl $t" \
        "numgen inc mod $lossy_every == 0 drop"
    done
    echo "add rule $family $table forward $icmp type echo-request $ttl > $last" \
      "numgen inc mod $lossy_every == 0 drop"
  fi
  if ((node == routers + 1 && drop_echo)); then
    echo "add chain $family $table input { type filter hook input priority 0; policy accept; }"
    echo "add rule $family $table input $icmp type echo-request drop"
  fi
}

# The source namespace's view of names: our hosts file, a resolver that answers
# nothing, and a switch that asks only those two.
write_name_files() {
  local dir="/etc/netns/$1" hop
  mkdir -p "$dir"
  {
    echo "127.0.0.1 localhost"
    for hop in $(printf '%s\n' "${!names[@]}" | sort -n); do
      echo "$(hop_addr "$hop") ${names[$hop]}"
      ((!ipv6)) || echo "$(hop_addr6 "$hop") ${names[$hop]}"
    done
  } >"$dir/hosts"
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$dir/resolv.conf"
  if [[ -f /etc/nsswitch.conf ]]; then
    sed -E 's/^hosts:.*/hosts: files dns/' /etc/nsswitch.conf >"$dir/nsswitch.conf"
  fi
}

# The IP-to-AS zone's questions for a hop's addresses.
origin_question() {
  local a b c d
  IFS=. read -r a b c d <<<"$(hop_addr "$1")"
  echo "$d.$c.$b.$a.origin.asn.cymru.com"
}
origin6_question() {
  local nibbles reversed="" i
  # 2001:2:0:L::2 written out: the link number in the fourth group.
  nibbles=$(printf '200100020000%04x0000000000000002' $(($1 - 1)))
  for ((i = ${#nibbles} - 1; i >= 0; i--)); do reversed+="${nibbles:i:1}."; done
  echo "${reversed}origin6.asn.cymru.com"
}

# The lab's DNS server for --asn, in the source namespace: answers only the
# TXT records of the lab's hops and AS numbers, logs every question.
start_dns() {
  local dir hop number records=()
  dir=$(state_dir "$prefix")
  declare -A numbers=()
  for hop in "${!asn[@]}"; do
    local text="${asn[$hop]} | 198.18.$((hop - 1)).0/24 | ZZ | lab | 2026-12-01" strings
    # An answer of two AS comes as two strings, to be joined by the reader.
    strings=$text
    [[ ${asn[$hop]} != *" "* ]] || strings="${text%%|*}|,${text#*|}"
    records+=("--txt-record=$(origin_question "$hop"),$strings")
    ((!ipv6)) || records+=("--txt-record=$(origin6_question "$hop"),${text/198.18.$((hop - 1)).0\/24/$(printf '2001:2:0:%x::/64' $((hop - 1)))}")
    for number in ${asn[$hop]}; do numbers[$number]=1; done
  done
  for number in "${!numbers[@]}"; do
    records+=("--txt-record=AS$number.asn.cymru.com,$number | ZZ | lab | 2026-12-01 | LAB-AS$number")
  done
  : >"$dir/dns.log"
  ip netns exec "$(node_ns 0)" dnsmasq --conf-file=/dev/null --no-resolv --no-hosts --no-poll \
    --listen-address=127.0.0.1 --bind-interfaces --port=53 --user=root --group=root \
    --local=/asn.cymru.com/ --local=/in-addr.arpa/ --local=/ip6.arpa/ \
    --pid-file="$dir/dnsmasq.pid" --log-queries --log-facility="$dir/dns.log" "${records[@]}" ||
    die "the lab's DNS server did not start"
  await "" test -s "$dir/dnsmasq.pid" || die "the lab's DNS server wrote no pid file"
}

# Whether pid is the lab's DNS server (a recycled id is someone else's).
dns_running() { [[ $(cat "/proc/$1/comm" 2>/dev/null) == dnsmasq ]]; }

link_is_up() { ip -n "$1" -o link show dev "$2" 2>/dev/null | grep -q 'LOWER_UP'; }

# The farthest hop that must answer an echo request: the readiness probe.
probe_hop() {
  if ((prohibit > 0)); then
    echo "$prohibit"
  elif ((filter_echo > 0)); then
    echo "$filter_echo"
  elif ((drop_echo)); then
    if ((routers > 0)); then echo "$routers"; fi
  else
    echo $((routers + 1))
  fi
}

facts() {
  local hop
  echo "LAB_PREFIX=$prefix"
  echo "LAB_SRC=$(node_ns 0)"
  echo "LAB_SRC_ADDR=$(left_addr 0)"
  echo "LAB_TARGET_NS=$(node_ns $((routers + 1)))"
  echo "LAB_TARGET=$(hop_addr $((routers + 1)))"
  echo "LAB_ROUTERS=$routers"
  echo "LAB_HOPS=$((routers + 1))"
  echo "LAB_DELAY_MS=$delay"
  echo "LAB_VERIFY_CHECKSUMS=$checksums"
  [[ -z $listen ]] || echo "LAB_TCP_PORT=$listen"
  for ((hop = 1; hop <= routers + 1; hop++)); do
    echo "LAB_HOP_$hop=$(hop_addr "$hop")"
    [[ -z ${names[$hop]:-} ]] || echo "LAB_NAME_$hop=${names[$hop]}"
  done
  ((${#asn[@]} == 0)) || echo "LAB_DNS_LOG=$(state_dir "$prefix")/dns.log"
  if ((ipv6)); then
    echo "LAB_IPV6=1"
    echo "LAB_SRC_ADDR6=$(left_addr6 0)"
    echo "LAB_TARGET6=$(hop_addr6 $((routers + 1)))"
    for ((hop = 1; hop <= routers + 1; hop++)); do
      echo "LAB_HOP6_$hop=$(hop_addr6 "$hop")"
    done
  fi
}

lab_up() {
  local dir node ns link left right probe tries family rules
  dir=$(state_dir "$prefix")
  ((delay == 0 && !checksums)) || delaylink=$(find_delaylink)
  mkdir -p "$LAB_STATE_ROOT"
  # mkdir is the claim on the prefix: of two runs asking for one, one wins.
  mkdir "$dir" 2>/dev/null || die "a lab named $prefix exists already (lab.sh down $prefix)"
  # shellcheck disable=SC2034 # read by the teardown trap
  building=1
  : >"$dir/pids"

  if ! ip netns add "$(node_ns 0)" 2>"$dir/netns.err"; then
    # Only a machine that forbids namespaces is a reason to skip.
    if grep -qiE 'not permitted|permission denied' "$dir/netns.err"; then
      log "skipped: cannot create network namespaces here: $(cat "$dir/netns.err")"
      rm -rf "$dir"
      exit $EXIT_SKIP
    fi
    die "cannot create $(node_ns 0): $(cat "$dir/netns.err")"
  fi
  node_ns 0 >>"$dir/namespaces"
  for ((node = 1; node <= routers + 1; node++)); do
    ns=$(node_ns "$node")
    ip netns add "$ns"
    echo "$ns" >>"$dir/namespaces"
  done
  for ((node = 0; node <= routers + 1; node++)); do
    configure_namespace "$(node_ns "$node")" $((node >= 1 && node <= routers))
  done

  for ((link = 0; link <= routers; link++)); do
    left=$(node_ns "$link") right=$(node_ns $((link + 1)))
    if ((delay > 0 || (checksums && link == routers))); then
      start_delaylink "$link" "$left" "$right"
    else
      ip -n "$left" link add east type veth peer name west netns "$right"
    fi
    ip -n "$left" addr add "$(left_addr "$link")/24" dev east
    ip -n "$right" addr add "$(right_addr "$link")/24" dev west
    if ((ipv6)); then
      ip -n "$left" addr add "$(left_addr6 "$link")/64" dev east nodad
      ip -n "$right" addr add "$(right_addr6 "$link")/64" dev west nodad
    fi
    ip -n "$left" link set east up
    ip -n "$right" link set west up
  done

  for ((node = 0; node <= routers + 1; node++)); do
    ns=$(node_ns "$node")
    for ((tries = 0; tries < 250; tries++)); do
      { ((node == 0)) || link_is_up "$ns" west; } &&
        { ((node == routers + 1)) || link_is_up "$ns" east; } && break
      sleep 0.02
    done
    ((tries < 250)) || die "the links of $ns did not come up"
    routes_of "$node" | ip -n "$ns" -batch -
    for family in ip ip6; do
      [[ $family == ip || $ipv6 == 1 ]] || continue
      rules=$(nft_rules_of "$node" "$family")
      [[ -z $rules ]] || printf 'add table %s %s\n%s\n' "$family" \
        "quillon_lab${family#ip}" "$rules" | ip netns exec "$ns" nft -f -
    done
  done
  write_name_files "$(node_ns 0)"
  ((${#asn[@]} == 0)) || start_dns

  # One answered echo proves the chain forwards both ways and fills every
  # neighbour table on the way, so the first probe of a test meets no delay of ours.
  [[ -z $listen ]] || start_listener
  probe=$(probe_hop)
  if [[ -n $probe ]]; then
    for ((tries = 0; tries < 5; tries++)); do
      ip netns exec "$(node_ns 0)" ping -n -q -c1 -W2 "$(hop_addr "$probe")" >/dev/null 2>&1 && break
    done
    ((tries < 5)) || die "$(hop_addr "$probe") does not answer from $(node_ns 0): the lab is broken"
    if ((ipv6)); then
      for ((tries = 0; tries < 5; tries++)); do
        ip netns exec "$(node_ns 0)" ping -6 -n -q -c1 -W2 "$(hop_addr6 "$probe")" >/dev/null 2>&1 &&
          break
      done
      ((tries < 5)) || die "$(hop_addr6 "$probe") does not answer from $(node_ns 0): the lab is broken"
    fi
  fi
  facts >"$dir/facts"
}

# Whether pid is a live (not zombie) forwarder; a recycled id is someone else's.
forwarder_running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  [[ $stat == *"(quillon_delayli"*")"* && ${stat##*) } != Z* ]]
}

# Stops the forwarders we started (checked by name: a recycled id is left alone),
# then removes the namespaces and the name files. Safe to repeat, also on a
# half-built lab. Asked for by name it also finds the namespaces of a lab whose
# state was lost; after a failed build (recorded) it removes only what the build
# recorded, never a namespace that was there before.
lab_down() {
  local name=$1 scope=${2:-named} dir pid ns
  [[ $name =~ ^[A-Za-z0-9_]{1,32}$ ]] || usage "bad lab prefix '$name'"
  dir=$(state_dir "$name")
  if [[ -f $dir/pids ]]; then
    local pids=() tries
    while read -r pid; do
      if [[ -n $pid ]] && forwarder_running "$pid"; then
        kill "$pid" 2>/dev/null || true
        pids+=("$pid")
      fi
    done <"$dir/pids"
    # Their links vanish as they end; wait for that, and force the slow ones.
    for pid in "${pids[@]}"; do
      for ((tries = 0; tries < 100; tries++)); do
        forwarder_running "$pid" || continue 2
        sleep 0.02
      done
      kill -KILL "$pid" 2>/dev/null || true
    done
  fi
  if [[ -s $dir/dnsmasq.pid ]]; then
    pid=$(<"$dir/dnsmasq.pid")
    ! dns_running "$pid" || kill "$pid" 2>/dev/null || true
  fi
  {
    [[ ! -f $dir/namespaces ]] || cat "$dir/namespaces"
    if [[ $scope == named ]]; then
      ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$name-(src|dst|r[0-9]+)$" || true
    fi
  } | sort -u | while read -r ns; do
    [[ -n $ns ]] || continue
    # What runs inside the lab's own namespaces (the target's listener) ends with it.
    ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns delete "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/$ns"
  done
  rm -rf "$dir"
}

lab_down_all() {
  local dir
  [[ -d $LAB_STATE_ROOT ]] || return 0
  for dir in "$LAB_STATE_ROOT"/*/; do
    [[ -d $dir ]] && lab_down "$(basename "$dir")"
  done
  return 0
}

main() {
  (($# > 0)) || usage "no command"
  local command=$1 status
  shift
  case $command in
    up)
      parse_options "$@"
      require_root
      trap 'status=$?
        ((status == 0 || status == EXIT_SKIP || !building)) || lab_down "$prefix" recorded
        exit $status' EXIT
      trap 'exit 130' INT TERM
      lab_up
      trap - EXIT INT TERM
      facts
      ;;
    down)
      (($# == 1)) || usage "down takes one lab prefix, or --all"
      [[ $1 == --all || $1 =~ ^[A-Za-z0-9_]{1,32}$ ]] || usage "bad lab prefix '$1'"
      require_root
      if [[ $1 == --all ]]; then lab_down_all; else lab_down "$1"; fi
      ;;
    run)
      local options=()
      while (($# > 0)) && [[ $1 != -- ]]; do
        options+=("$1")
        shift
      done
      (($# >= 2)) || usage "run needs -- and a command"
      shift
      parse_options "${options[@]}"
      require_root
      [[ -n $owner ]] || owner=$$
      trap 'status=$?; ((!building)) || lab_down "$prefix" recorded; exit $status' EXIT
      trap 'exit 130' INT TERM
      lab_up
      status=0
      # shellcheck disable=SC2046 # the facts are VAR=value words without blanks
      ip netns exec "$(node_ns 0)" env $(facts) "$@" || status=$?
      exit $status
      ;;
    -h | --help | help) usage "the namespace lab" ;;
    *) usage "unknown command '$command'" ;;
  esac
}

main "$@"
