#!/usr/bin/env bash
# The Windows program under wine against the Linux program in one lab: a route
# of four routers, the second silent, the third without a name. Both must give
# the same rows (address, host name, "[no DNS]", TTL, the AS of --as; times
# aside) and the same route length. The lab's DNS server answers the AS
# questions (hop 1 announced by one AS, hop 3 by two): the Windows program asks
# them through its DNS client (DnsQuery_W) on its first run, and nothing on its
# second, which reads the answers its first one kept. The Windows program runs twice: by default, when its probes must
# go through the system's ICMP service although root could open raw sockets
# (it says so when asked with QUILLON_SHOW_PROBE_PATH), and with --raw-sockets,
# when they must go through a raw socket. wine runs inside the lab's source namespace with a prefix of this
# test's own, so its wineserver (which opens the sockets) is there too; the
# server is stopped at the end.
#
#   wine-lab.sh LAB_SCRIPT LINUX_PROGRAM WINDOWS_PROGRAM
#
# Exit codes: 0 same results, 1 a difference or failure, 77 skipped (not root,
# no namespaces, no wine, no Windows build).
set -euo pipefail
readonly EXIT_SKIP=77

if [[ ${1:-} == --inside ]]; then
  linux=$2 windows=$3 wine=$4 wineserver=$5
  work=$(mktemp -d /tmp/quillon-winelab.XXXXXX)
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  stop_wine() {
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$work"
  }
  trap stop_wine EXIT
  # Copies, so that each program keeps its state files in this test's folder.
  cp "$linux" "$work/quillon"
  cp "$windows" "$work/quillon.exe"
  "$wine" wineboot --init >/dev/null 2>&1

  # One JSON document per run, without the times and with Unix line ends.
  result() { "$@" --terminal --json --as -w 1000 "$LAB_TARGET" | tr -d '\r' | grep -v '"time_ms"'; }
  questions() { grep -c 'query\[TXT\]' "$LAB_DNS_LOG" || true; }
  expected=$(result "$work/quillon")
  export QUILLON_SHOW_PROBE_PATH=1
  # The Linux program's answers are not the Windows program's to read.
  rm -f "$work/quillon.dna"
  before=$(questions)
  windows_service=$(result "$wine" "$work/quillon.exe" 2>"$work/service.err")
  asked=$(($(questions) - before))
  windows_raw=$(result "$wine" "$work/quillon.exe" --raw-sockets 2>"$work/raw.err")
  asked_again=$(($(questions) - before - asked))

  status=0
  grep -q '"route_length": 5' <<<"$expected" || { echo "unexpected Linux route:"; echo "$expected"; status=1; }
  grep -q '\[no DNS\]' <<<"$expected" || { echo "no unnamed router in the Linux result"; status=1; }
  grep -q '"LAB-AS64502"' <<<"$expected" || { echo "no AS name in the Linux result"; status=1; }
  # Four addresses (hop 2 is silent) and two AS, then nothing.
  ((asked == 6 && asked_again == 0)) ||
    { echo "the Windows program asked $asked and then $asked_again AS questions"; status=1; }
  grep -q "through the system's ICMP service" "$work/service.err" ||
    { echo "the default run did not use the ICMP service:"; cat "$work/service.err"; status=1; }
  grep -q "through a raw socket" "$work/raw.err" ||
    { echo "--raw-sockets did not use a raw socket:"; cat "$work/raw.err"; status=1; }
  for kind in windows_raw windows_service; do
    if [[ ${!kind} != "$expected" ]]; then
      echo "$kind differs from the Linux program:"
      diff <(echo "$expected") <(echo "${!kind}") || true
      status=1
    fi
  done
  ((status == 0)) && echo "Linux, Windows (ICMP service, the default) and Windows (raw socket): the same 5 rows, AS included"
  exit $status
fi

lab=$1 linux=$2 windows=$3
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
for need in "$windows" "$wine" "$wineserver"; do
  [[ -e $need ]] || { echo "skipped: $need is missing"; exit $EXIT_SKIP; }
done
[[ -x $linux ]] || { echo "no Linux program at $linux"; exit 1; }
exec "$lab" run --routers 4 --silent 2 --names "1=one.lab,4=four.lab,target=end.lab" \
  --asn "1=64501,3=64501+64502" \
  -- bash "$0" --inside "$linux" "$windows" "$wine" "$wineserver"
