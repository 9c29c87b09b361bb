#!/usr/bin/env bash
# End-to-end benchmark: Quillon against traceroute, tracepath and mtr on the
# namespace lab with delayed links, and against the floor of its own probe
# pipeline (bench/floor.py). Run by hand, as root:
#
#   bench/e2e.sh [--runs N] [--warmup N] [--only a,b,c,d,a6,b6,c6,d6] [--no-build]
#                [--quillon PATH] [--out DIR] [--in-flight-rows | --probe-rows]
#
# Topologies (every link of the chain delays each way):
#   a  12 routers, 10 ms per link, every hop named in the hosts file
#   b  the same with routers 4 and 8 silent (no time-exceeded)
#   c  the same with a target that drops echo requests
#   d  30 routers, 2 ms per link, every third hop without a name
#   a6, b6, c6, d6  the same labs dual-stack, traced over IPv6 (quillon -6,
#      traceroute -6 -I, tracepath -6, mtr -6), with Quillon over IPv4 on the
#      same lab beside them: its IPv6 time should be within 3 % of that
# For each, one lab; the tools take turns (the order rotates every round), each
# run a fresh process measured from spawn to exit, with its peak RSS and CPU
# time. Every run's route is checked against the lab before any time is shown:
# a fast wrong answer is no result. Quillon starts every run without its history
# and name cache (a first trace); "quillon, warm" keeps them between its runs.
#
# On (a) also "quillon, user": an ordinary user (nobody) whose ICMP datagram
# sockets are closed (ping_group_range "1 0"), tracing through the ICMP helper,
# which is given CAP_NET_RAW as the package's postinst does.
#
# On (a) and (b) also Quillon with 16 and 64 probes in flight against
# `traceroute -I -N 16` and `traceroute -I -N 32 -q 1`; the goal is 1.1 x the
# farthest hop's round trip plus one name lookup, and no slower than the fastest
# traceroute setting. --in-flight-rows measures only those rows and the default
# Quillon and traceroute they are compared with.
#
# --probe-rows measures Quillon's UDP and TCP probes (`--udp`, `--tcp`, as root)
# beside its ICMP trace and beside `traceroute -U` and `traceroute -T`; the goal
# is within 1.05 x of both. Use it with --only a (or a6).
#
# Writes bench/results/<date>-e2e.md and bench/results/latest.md (or DIR); with
# --in-flight-rows only bench/results/<date>-e2e-in-flight.md, with --probe-rows
# only bench/results/<date>-e2e-probe.md.
# --quillon measures another build of the program (for trying a change) instead
# of the release build in build/bench-release.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build="$root/build/bench-release"
lab="$root/tests/lab/lab.sh"

runs=5 warmup=1 only="a,b,c,d,a6,b6,c6,d6" do_build=1 out="$here/results" quillon="$build/app/quillon"
rows=all
usage() {
  echo "usage: bench/e2e.sh [--runs N] [--warmup N] [--only a,b,c,d,a6,...] [--no-build]" \
    "[--quillon PATH] [--out DIR] [--in-flight-rows | --probe-rows]" >&2
  exit 2
}
while (($# > 0)); do
  case $1 in
    --runs | --warmup | --only | --out | --quillon) (($# >= 2)) || usage ;;&
    --runs) runs=$2 ;;
    --warmup) warmup=$2 ;;
    --only) only=$2 ;;
    --out) out=$2 ;;
    --quillon) quillon=$(realpath "$2") ;;
    --no-build) do_build=0 ;;
    --in-flight-rows) rows=in-flight ;;
    --probe-rows) rows=probe ;;
    -h | --help) usage ;;
    *) usage ;;
  esac
  if [[ $1 == --no-build || $1 == --in-flight-rows || $1 == --probe-rows ]]; then
    shift
  else
    shift 2
  fi
done
[[ $runs =~ ^[1-9][0-9]?$ && $warmup =~ ^[0-9]$ && $only =~ ^[abcd]6?(,[abcd]6?)*$ ]] || usage

if (($(id -u) != 0)); then
  echo "bench/e2e.sh: skipped: the benchmark needs root (network namespaces, raw sockets)." >&2
  echo "Run it as root: sudo bench/e2e.sh" >&2
  exit 0
fi
for tool in ip nft ping traceroute setcap setpriv tracepath mtr /usr/bin/time python3 cmake c++; do
  command -v "$tool" >/dev/null ||
    {
      echo "bench/e2e.sh: '$tool' is missing; scripts/setup.sh installs it" >&2
      exit 1
    }
done

# --- the programs under test ---------------------------------------------------
delaylink="$build/quillon_delaylink"
if ((do_build)) && [[ $quillon == "$build/app/quillon" ]]; then
  echo "Building the release program in $build ..." >&2
  mkdir -p "$build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF \
    -DQUILLON_BUILD_BENCH=OFF >"$build/e2e-configure.log" 2>&1 ||
    {
      cat "$build/e2e-configure.log" >&2
      exit 1
    }
  cmake --build "$build" -j"$(nproc)" --target quillon >&2
fi
# The lab's forwarder is a test tool, and the release tree builds without tests.
if ((do_build)) && [[ ! -x $delaylink || $root/tests/lab/tools/delaylink.cpp -nt $delaylink ]]; then
  mkdir -p "$build"
  c++ -std=c++20 -O2 -o "$delaylink" "$root/tests/lab/tools/delaylink.cpp"
fi
[[ -x $quillon && -x $delaylink ]] || {
  echo "bench/e2e.sh: $quillon or $delaylink is missing (run without --no-build)" >&2
  exit 1
}

started=$(date -u '+%Y-%m-%d %H:%M')
# shellcheck source=bench/lab-work.sh
source "$here/lab-work.sh"
start_lab_work quillon-e2e

names_for() { # $1 routers, $2 "all" or "third": the --names list of the lab
  python3 -c "
import sys
n, which = int(sys.argv[1]), sys.argv[2]
hops = [k for k in range(1, n + 1) if which == 'all' or k % 3]
print(','.join(f'{k}=r{k}.bench' for k in hops) + ',target=dst.bench')" "$1" "$2"
}

declare -A topo_args=(
  [a]="--routers 12 --delay 10 --names $(names_for 12 all)"
  [b]="--routers 12 --delay 10 --silent 4,8 --names $(names_for 12 all)"
  [c]="--routers 12 --delay 10 --drop-echo --names $(names_for 12 all)"
  [d]="--routers 30 --delay 2 --names $(names_for 30 third)"
)
# The IPv6 versions: the same labs, dual-stack.
for topology in a b c d; do topo_args[${topology}6]="${topo_args[$topology]} --ipv6"; done

# --- measuring: one python process inside the source namespace per lab -------------
# It spawns every run itself, so the wall time is spawn to exit of the tool alone
# (os.wait4 gives its peak RSS and CPU time), and `ip netns exec` costs nothing.
measure() { # $1 topology, $2 facts file; writes $work/<topology>.json
  # shellcheck disable=SC2046 # the facts are VAR=value words without blanks
  ip netns exec "$(sed -n 's/^LAB_SRC=//p' "$2")" env $(cat "$2") \
    python3 - "$1" "$work/bin/quillon" "$runs" "$warmup" "$work/$1.json" "$rows" <<'PY'
import json, os, socket, statistics, sys, time

topology, quillon, runs, warmup, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
rows = sys.argv[6]
target = os.environ["LAB_TARGET"]
if topology.endswith("6"):
    # Over IPv6, and Quillon over IPv4 on the same lab to compare with.
    target6 = os.environ["LAB_TARGET6"]
    tools = {
        "quillon": [quillon, "-6", "--terminal", "--json", "-w", "1000", target6],
        "quillon, warm": [quillon, "-6", "--terminal", "--json", "-w", "1000", target6],
        # A copy of its own, so its state files leave those of the warm runs alone.
        "quillon, IPv4": [quillon + "4", "-4", "--terminal", "--json", "-w", "1000", target],
        "traceroute": ["traceroute", "-6", "-I", "-w", "1", target6],
        "tracepath": ["tracepath", "-6", "-n", target6],
        "mtr": ["mtr", "-6", "--report", "-c", "1", target6],
    }
else:
    tools = {
        "quillon": [quillon, "--terminal", "--json", "-w", "1000", target],
        "quillon, warm": [quillon, "--terminal", "--json", "-w", "1000", target],
        "traceroute": ["traceroute", "-I", "-w", "1", target],
        "tracepath": ["tracepath", "-n", target],
        "mtr": ["mtr", "--report", "-c", "1", target],
    }
if topology == "a":
    tools["quillon, user"] = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                              "--inh-caps=-all", quillon, "--terminal", "--json", "-w", "1000", target]
    # Only the helper can open ICMP sockets for that user (in this namespace alone).
    with open("/proc/sys/net/ipv4/ping_group_range", "w") as f:
        f.write("1 0")
if topology in ("a", "b"):
    for n in (16, 64):
        tools[f"quillon, {n} in flight"] = [quillon, "--terminal", "--json", "-w", "1000",
                                            "--in-flight", str(n), target]
    tools["traceroute -N 16"] = ["traceroute", "-I", "-N", "16", target]
    tools["traceroute -N 32 -q 1"] = ["traceroute", "-I", "-N", "32", "-q", "1", target]
if rows == "in-flight":
    tools = {name: argv for name, argv in tools.items()
             if name in ("quillon", "traceroute") or "-N" in name or "in flight" in name}
if rows == "probe":
    # The same traces by UDP and by TCP (the lab's target refuses port 80).
    tools = {name: tools[name] for name in ("quillon", "traceroute")}
    for method, flag in (("udp", "-U"), ("tcp", "-T")):
        argv = tools["quillon"]
        tools[f"quillon --{method}"] = argv[:1] + [f"--{method}"] + argv[1:]
        tools[f"traceroute {flag}"] = [flag if w == "-I" else w for w in tools["traceroute"]]
order = list(tools)

# One reverse lookup of the target's address, as Quillon makes it for the
# farthest hop (from the lab's hosts file): the goal's allowance for a name.
lookups = []
for _ in range(21):
    start = time.perf_counter()
    try:
        socket.gethostbyaddr(target)
    except OSError:
        pass
    lookups.append((time.perf_counter() - start) * 1000.0)
lookup_ms = statistics.median(lookups)

def forget_state(program=quillon):
    for path in [os.path.splitext(program)[0] + ext for ext in (".hst", ".dnb", ".dn6")]:
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass

# Each run goes through GNU time, a small process that forks the tool: a tool
# spawned straight from this interpreter would inherit its peak RSS. The wall
# time is taken here, spawn to exit (time itself adds about a millisecond to
# every tool alike); peak RSS is time's report of the tool, CPU time (user +
# system, the tool's and time's own sliver) comes from wait4. Output goes to
# files, so a helper process that keeps a pipe open cannot stretch the time.
def run_measured(name, scratch):
    # Every Quillon row but the warm one traces as a first trace does.
    if name.startswith("quillon") and name != "quillon, warm" and name != "quillon, user":
        forget_state(tools[name][0])
    env = dict(os.environ, LC_ALL="C")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    paths = [os.path.join(scratch, f) for f in ("stdout", "stderr", "time")]
    flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC
    actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 1, paths[0], flags, 0o600),
               (os.POSIX_SPAWN_OPEN, 2, paths[1], flags, 0o600)]
    argv = ["/usr/bin/time", "-q", "-f", "%M", "-o", paths[2], "--"] + tools[name]
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    texts = []
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as f:
            texts.append(f.read())
    return {"tool": name, "wall_ms": wall * 1000.0,
            "status": os.waitstatus_to_exitcode(status),
            "cpu_ms": (usage.ru_utime + usage.ru_stime) * 1000.0,
            "rss_kb": int(texts[2].split()[-1]), "stdout": texts[0], "stderr": texts[1]}

os.chdir("/tmp")
scratch = os.path.dirname(out)
forget_state()
forget_state(quillon + "4")
results = []
with open("/proc/loadavg") as f:
    load_before = f.read().split()[:3]
for round_no in range(warmup + runs):
    shift = round_no % len(order)
    for name in order[shift:] + order[:shift]:
        result = run_measured(name, scratch)
        result["round"] = round_no
        result["warmup"] = round_no < warmup
        results.append(result)
        print(f"  {topology}: round {round_no + 1}/{warmup + runs} {name:14s} "
              f"{result['wall_ms']:9.1f} ms", file=sys.stderr)
with open("/proc/loadavg") as f:
    load_after = f.read().split()[:3]
facts = {k: v for k, v in os.environ.items() if k.startswith("LAB_")}
with open(out, "w") as f:
    json.dump({"topology": topology, "facts": facts, "runs": results, "lookup_ms": lookup_ms,
               "load_before": load_before, "load_after": load_after}, f)
PY
}

# Quillon keeps its history and name cache beside its executable: a copy in the
# scratch folder keeps those of the build (or of whoever owns --quillon) untouched.
mkdir -p "$work/bin"
cp "$quillon" "$work/bin/quillon"
cp "$quillon" "$work/bin/quillon4"
# Its ICMP helper at the same place relative to it, with the capability the
# package's postinst gives; the folders open to the user who runs through it.
helper=$(find "$(dirname "$quillon")/.." -maxdepth 4 -path '*/quillon/quillon-icmp-helper' | head -1)
[[ -n $helper ]] || { echo "bench/e2e.sh: no quillon-icmp-helper beside $quillon" >&2; exit 1; }
helper_copy=$(realpath -m "$work/bin/$(realpath --relative-to="$(dirname "$quillon")" "$helper")")
mkdir -p "$(dirname "$helper_copy")"
cp "$helper" "$helper_copy"
setcap cap_net_raw+ep "$helper_copy"
chmod 0755 "$work"

IFS=, read -ra chosen <<<"$only"
for topology in "${chosen[@]}"; do
  prefix="qlbench$topology$$"
  echo "Topology $topology: lab.sh up ${topo_args[$topology]}" >&2
  current_lab=$prefix
  # shellcheck disable=SC2086 # the options are words without blanks
  "$lab" up ${topo_args[$topology]} --delaylink "$delaylink" --prefix "$prefix" --owner $$ \
    >"$work/$topology.facts"
  echo "${topo_args[$topology]}" >"$work/$topology.args"
  measure "$topology" "$work/$topology.facts"
  "$lab" down "$prefix" >/dev/null
  current_lab=""
done

# --- checking and reporting ----------------------------------------------------
mkdir -p "$out"
stamp=$(date -u +%Y-%m-%d)
report="$out/$stamp-e2e.md"
[[ $rows == all ]] || report="$out/$stamp-e2e-$rows.md"
python3 - "$work" "$report" "$here" "$root" "$quillon" "$runs" "$warmup" "$started" "${chosen[@]}" <<'PY'
import dataclasses, datetime, json, os, platform, re, statistics, subprocess, sys

work, report, here, root, quillon, runs, warmup, started = sys.argv[1:9]
chosen = sys.argv[9:]
sys.path.insert(0, here)
from floor import Topology, pipeline_floor  # noqa: E402

DOTTED = re.compile(r"^\d{1,3}(\.\d{1,3}){3}$")
# An address of either family as the tools print it (IPv6 in its short form).
ADDRESS = re.compile(r"^(\d{1,3}(\.\d{1,3}){3}|[0-9a-f:]*:[0-9a-f:]+)$")
IN_FLIGHT = ["quillon, 16 in flight", "quillon, 64 in flight"]
TRACEROUTE_N = ["traceroute -N 16", "traceroute -N 32 -q 1"]
# UDP and TCP probes, each against Quillon's ICMP trace and against traceroute's own.
PROBE_ROWS = {"quillon --udp": "traceroute -U", "quillon --tcp": "traceroute -T"}
TOOLS = ["quillon", "quillon, warm", "quillon, user", *IN_FLIGHT, *PROBE_ROWS, "traceroute",
         *TRACEROUTE_N, *PROBE_ROWS.values(), "tracepath", "mtr"]
TOOLS6 = ["quillon", "quillon, warm", "quillon, IPv4", *PROBE_ROWS, "traceroute",
          *PROBE_ROWS.values(), "tracepath", "mtr"]
COMMANDS6 = {
    "quillon": "quillon -6 --terminal --json -w 1000 TARGET6",
    "quillon, warm": "the same, history and name cache kept",
    "quillon, IPv4": "quillon -4 --terminal --json -w 1000 TARGET",
    "traceroute": "traceroute -6 -I -w 1 TARGET6",
    "tracepath": "tracepath -6 -n TARGET6",
    "mtr": "mtr -6 --report -c 1 TARGET6",
    "quillon --udp": "quillon --udp -6 --terminal --json -w 1000 TARGET6",
    "quillon --tcp": "quillon --tcp -6 --terminal --json -w 1000 TARGET6",
    "traceroute -U": "traceroute -6 -U -w 1 TARGET6",
    "traceroute -T": "traceroute -6 -T -w 1 TARGET6",
}
COMMANDS = {
    "quillon": "quillon --terminal --json -w 1000 TARGET",
    "quillon, warm": "the same, history and name cache kept",
    "quillon, user": "the same as nobody, through the ICMP helper",
    "quillon, 16 in flight": "quillon --terminal --json -w 1000 --in-flight 16 TARGET",
    "quillon, 64 in flight": "quillon --terminal --json -w 1000 --in-flight 64 TARGET",
    "traceroute": "traceroute -I -w 1 TARGET",
    "traceroute -N 16": "traceroute -I -N 16 TARGET",
    "traceroute -N 32 -q 1": "traceroute -I -N 32 -q 1 TARGET",
    "tracepath": "tracepath -n TARGET",
    "mtr": "mtr --report -c 1 TARGET",
    "quillon --udp": "quillon --udp --terminal --json -w 1000 TARGET",
    "quillon --tcp": "quillon --tcp --terminal --json -w 1000 TARGET",
    "traceroute -U": "traceroute -U -w 1 TARGET",
    "traceroute -T": "traceroute -T -w 1 TARGET",
}
TITLES = {
    "a": "(a) 12 routers, 10 ms per link, every hop named",
    "b": "(b) as (a), routers 4 and 8 silent",
    "c": "(c) as (a), the target drops echo requests",
    "d": "(d) 30 routers, 2 ms per link, every third hop unnamed",
}
TITLES.update({t + "6": TITLES[t].replace(")", "6)", 1) + ", over IPv6" for t in "abcd"})
MAX_HOPS = 30  # every tool's default hop limit


class Mismatch(Exception):
    pass


def topology_of(args, facts):
    words = args.split()
    value = lambda flag: words[words.index(flag) + 1] if flag in words else ""
    silent = frozenset(int(s) for s in value("--silent").split(",") if s)
    return Topology(int(facts["LAB_ROUTERS"]), float(facts["LAB_DELAY_MS"]), silent,
                    "--drop-echo" in words, 1000.0, MAX_HOPS)


def hop_key(run, facts):
    """The facts' hop addresses of the family the run traced in."""
    return "LAB_HOP6_" if "LAB_TARGET6" in facts and run["tool"] != "quillon, IPv4" else "LAB_HOP_"


def expected_route(topo, facts, udp, key="LAB_HOP_"):
    """Hop -> address (None: silent) and the route's length, as the tool's probes see it."""
    hops = {}
    for k in range(1, MAX_HOPS + 1):
        node = min(k, topo.target_hop())
        if node == topo.target_hop():
            # The target answers UDP probes with port unreachable even when it
            # drops echo requests.
            answers = udp or not topo.drop_echo
        else:
            answers = node not in topo.silent
        hops[k] = facts[f"{key}{node}"] if answers else None
    if udp or not topo.drop_echo:
        length = min(topo.target_hop(), MAX_HOPS)
    else:
        length = max(k for k in range(1, topo.routers + 1) if hops[k])  # the last answering hop
    return hops, length


def parse_quillon(run, facts):
    doc = json.loads(run["stdout"])
    if not doc.get("route_end_found"):
        raise Mismatch("quillon did not find the end of the route")
    hops = {}
    for hop in doc["hops"]:
        address = hop["address"]
        hops[int(hop["no"])] = address if ADDRESS.match(address) else None
    return hops, int(doc["route_length"])


def parse_traceroute(run, facts):
    hops = {}
    for line in run["stdout"].splitlines()[1:]:
        m = re.match(r"^\s*(\d+)\s+(.*)$", line)
        if not m:
            continue
        found = set(re.findall(r"\(([0-9a-f.:]+)\)", m.group(2)))
        if len(found) > 1:
            raise Mismatch(f"traceroute: several addresses at hop {m.group(1)}: {line}")
        hops[int(m.group(1))] = found.pop() if found else None
    return hops, None


def parse_tracepath(run, facts):
    hops = {}
    for line in run["stdout"].splitlines():
        m = re.match(r"^\s*(\d+):\s+(\S+)", line)  # "1?:" is the local pmtu line
        if not m:
            continue
        k, word = int(m.group(1)), m.group(2)
        address = word if ADDRESS.match(word) else None
        if hops.get(k) and address and hops[k] != address:
            raise Mismatch(f"tracepath: two addresses at hop {k}")
        hops[k] = hops.get(k) or address
    return hops, None


def parse_mtr(run, facts):
    by_name = {facts[key]: facts[f"{hop_key(run, facts)}{key[len('LAB_NAME_'):]}"]
               for key in facts if key.startswith("LAB_NAME_")}
    hops = {}
    for line in run["stdout"].splitlines():
        m = re.match(r"^\s*(\d+)\.\|--\s+(\S+)", line)
        if not m:
            continue
        word = m.group(2)
        if word == "???":
            hops[int(m.group(1))] = None
        elif ADDRESS.match(word):
            hops[int(m.group(1))] = word
        elif word in by_name:
            hops[int(m.group(1))] = by_name[word]
        else:
            raise Mismatch(f"mtr: unknown name {word!r}")
    return hops, None


PARSERS = {"quillon": parse_quillon, "quillon, warm": parse_quillon, "quillon, user": parse_quillon,
           "quillon, IPv4": parse_quillon,
           "traceroute": parse_traceroute, "tracepath": parse_tracepath, "mtr": parse_mtr}
PARSERS.update({tool: parse_quillon for tool in IN_FLIGHT})
PARSERS.update({tool: parse_traceroute for tool in TRACEROUTE_N})
PARSERS.update({tool: parse_quillon for tool in PROBE_ROWS})
PARSERS.update({tool: parse_traceroute for tool in PROBE_ROWS.values()})


def check_run(run, topo, facts):
    """The route a run found; raises Mismatch when it differs from the lab's."""
    tool = run["tool"]
    if run["status"] != 0:
        raise Mismatch(f"{tool} exited with {run['status']}: {run['stderr'].strip()[:200]}")
    # Probes other than echo requests reach a target that drops those.
    not_echo = tool == "tracepath" or tool in PROBE_ROWS or tool in PROBE_ROWS.values()
    expected, length = expected_route(topo, facts, udp=not_echo, key=hop_key(run, facts))
    hops, reported_length = PARSERS[tool](run, facts)
    if reported_length is not None and reported_length != length:
        raise Mismatch(f"{tool}: route length {reported_length}, the lab has {length}")
    for k in range(1, length + 1):
        if k not in hops:
            raise Mismatch(f"{tool}: no line for hop {k}")
    for k, address in sorted(hops.items()):
        want = expected.get(k) if k <= length else None
        if address != want:
            raise Mismatch(f"{tool}: hop {k} is {address or 'silent'}, the lab says {want or 'silent'}")
    return [hops[k] for k in range(1, length + 1)]


def traceroute_rtts(runs):
    """Hop -> round trip the lab really gave: per run the fastest of traceroute's
    three probes, then the median over the runs."""
    seen = {}
    for run in runs:
        for line in run["stdout"].splitlines()[1:]:
            m = re.match(r"^\s*(\d+)\s+(.*)$", line)
            times = [float(t) for t in re.findall(r"([\d.]+) ms", m.group(2))] if m else []
            if times:
                seen.setdefault(int(m.group(1)), []).append(min(times))
    return {k: statistics.median(v) for k, v in seen.items()}


def fmt_ms(v):
    return f"{v:,.0f}" if v >= 100 else f"{v:.1f}"


def version_of(command):
    try:
        text = subprocess.run(command, capture_output=True, text=True, timeout=10)
        line = (text.stdout or text.stderr).strip().splitlines()
        return line[0] if line else "?"
    except OSError:
        return "?"


sections, problems, summary = [], [], []
for topology in chosen:
    with open(os.path.join(work, f"{topology}.json")) as f:
        data = json.load(f)
    with open(os.path.join(work, f"{topology}.args")) as f:
        args = f.read()
    facts = data["facts"]
    topo = topology_of(args, facts)
    routes = {}
    for run in data["runs"]:
        try:
            route = check_run(run, topo, facts)
        except (Mismatch, ValueError, KeyError) as error:
            problems.append(f"({topology}) round {run['round'] + 1}: {error}")
            continue
        routes.setdefault(run["tool"], set()).add(tuple(route))
    # Beyond each run against the lab: all tools against each other. tracepath
    # probes by UDP, which a target that drops echo requests still answers, so
    # it is compared on the hops the echo-based tools see.
    icmp_length = expected_route(topo, facts, udp=False)[1]
    agreed = {r[:icmp_length] for tool, rs in routes.items() if tool != "quillon, IPv4" for r in rs}
    if len(agreed) > 1:
        problems.append(f"({topology}) the tools disagree: {sorted(agreed)}")
    sections.append((topology, topo, data, args, agreed))

if problems:
    print("bench/e2e.sh: routes differ from the lab; no times are reported:", file=sys.stderr)
    for p in problems:
        print("  " + p, file=sys.stderr)
    sys.exit(1)

lines = []
now = datetime.datetime.now(datetime.timezone.utc)
commit = subprocess.run(["git", "-C", root, "rev-parse", "--short", "HEAD"],
                        capture_output=True, text=True).stdout.strip()
if subprocess.run(["git", "-C", root, "status", "--porcelain", "--", "src", "app", "cmake",
                   "CMakeLists.txt"], capture_output=True, text=True).stdout.strip():
    commit += " with uncommitted changes to the sources"
cpu = "?"
with open("/proc/cpuinfo") as f:
    for line in f:
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
lines += [
    f"# Quillon end to end: {now:%Y-%m-%d}",
    "",
    f"Run {started} UTC by `bench/e2e.sh` at commit {commit}: "
    f"{runs} measured runs of each tool per topology after {warmup} warm-up round(s), "
    "the tools taking turns in a rotating order within one lab. "
    f"Machine: {os.cpu_count()} CPU ({cpu}), Linux {platform.release()}. "
    f"Quillon: {version_of([quillon, '--version'])}, "
    + ("release build; " if quillon == os.path.join(root, "build/bench-release/app/quillon")
       else f"the program at {quillon}; ")
    + f"{version_of(['traceroute', '--version'])}; {version_of(['tracepath', '-V'])}; "
    f"{version_of(['mtr', '--version'])} (Debian packages).",
    "",
    "The lab (`tests/lab/lab.sh`) is a chain of network namespaces joined by links that "
    "hold every packet a fixed time in each direction, so hop k answers after 2·k·delay. "
    "Wall time is from spawn to exit of the tool; peak RSS and CPU time (user + system) "
    "come from the kernel's accounting of the process. Quillon starts each run without "
    "its history and name cache, as a first trace does; \"quillon, warm\" keeps them "
    "from its previous run. Every run's hop addresses were checked against the lab and "
    "all tools agreed before any time was taken into this table.",
    "",
    "The floor is the earliest moment Quillon's design can have the route complete: five "
    "probes in flight, each result launching the next TTL, a silent hop reporting after "
    "three time-outs of 1000 ms, the run ending once the route's end is known and every "
    "hop up to it is filled (`bench/floor.py`). It leaves out process start, threads, "
    "sockets, files and names, which Quillon ÷ floor shows, and also the time the lab's "
    "forwarders add to every round trip: the second floor, run at the round trips the "
    "lab really gave, puts that back, so Quillon ÷ that floor is Quillon's own part. "
    "In the tables a ratio below 1 means Quillon was faster.",
    "",
]
for topology, topo, data, args, agreed in sections:
    schedule = pipeline_floor(topo)
    measured = [r for r in data["runs"] if not r["warmup"]]
    rtts = traceroute_rtts(r for r in measured if r["tool"] == "traceroute")
    lab_floor = pipeline_floor(dataclasses.replace(topo, rtt_ms=rtts)).floor_ms
    target_rtt = rtts.get(min(topo.target_hop(), MAX_HOPS))
    route = next(iter(agreed))
    silent = [str(k + 1) for k, a in enumerate(route) if a is None]
    lines += [f"## {TITLES[topology]}", ""]
    lines.append(
        f"Lab: `{args.strip().split(' --names')[0]}`; target "
        f"{data['facts'].get('LAB_TARGET6') if topology.endswith('6') else data['facts']['LAB_TARGET']}; "
        f"route as found by every tool: {len(route)} hops"
        + (f", hops {', '.join(silent)} silent" if silent else "")
        + (", ending at the hop limit of 30 (the target is hop 31)" if topo.target_hop() > MAX_HOPS else "")
        + (" (the echo-based tools end at the last answering router; tracepath, probing by "
           "UDP, also gets the target's port-unreachable at hop 13)" if topo.drop_echo else "")
        + f". Load average before/after: {' '.join(data['load_before'])} / "
        f"{' '.join(data['load_after'])}.")
    lines += ["",
              "| Tool | Command | Median ms | Min–max ms | Quillon ÷ tool | Peak RSS MB | CPU ms |",
              "|---|---|---:|---:|---:|---:|---:|"]
    q_median = statistics.median(r["wall_ms"] for r in measured if r["tool"] == "quillon")
    rss_mb = {}
    six = topology.endswith("6")
    for tool in TOOLS6 if six else TOOLS:
        rs = [r for r in measured if r["tool"] == tool]
        if not rs:
            continue
        walls = [r["wall_ms"] for r in rs]
        median = statistics.median(walls)
        ratio = "—" if tool == "quillon" else f"{q_median / median:.2f}"
        rss = rss_mb[tool] = statistics.median(r["rss_kb"] for r in rs) / 1024.0
        cpu_ms = statistics.median(r["cpu_ms"] for r in rs)
        lines.append(f"| {tool} | `{(COMMANDS6 if six else COMMANDS)[tool]}` | {fmt_ms(median)} | "
                     f"{fmt_ms(min(walls))}–{fmt_ms(max(walls))} | {ratio} | {rss:.1f} | "
                     f"{cpu_ms:.0f} |")
    if six and any(r["tool"] == "quillon, IPv4" for r in measured):
        v4 = statistics.median(r["wall_ms"] for r in measured if r["tool"] == "quillon, IPv4")
        within = abs(q_median / v4 - 1.0) <= 0.03
        lines += ["", f"Quillon over IPv6 against over IPv4 on this lab: {q_median:.0f} ms against "
                  f"{v4:.0f} ms, **{q_median / v4:.3f}** ({'within' if within else 'NOT within'} 3 %)."]
    for tool, theirs in PROBE_ROWS.items():
        mine = [r["wall_ms"] for r in measured if r["tool"] == tool]
        other = [r["wall_ms"] for r in measured if r["tool"] == theirs]
        if mine and other:
            m, icmp, t = statistics.median(mine), q_median, statistics.median(other)
            met = m <= 1.05 * icmp and m <= 1.05 * t
            command = (COMMANDS6 if six else COMMANDS)[tool].split(" --terminal")[0]
            lines += ["", f"`{command}` (no privilege needed): median "
                      f"{fmt_ms(m)} ms, **{m / icmp:.3f} ×** Quillon's ICMP trace and "
                      f"**{m / t:.3f} ×** `{theirs}` ({fmt_ms(t)} ms, root); the goal, within "
                      f"1.05 × of both, is {'met' if met else 'NOT met'}."]
    ratio = q_median / schedule.floor_ms
    user = [r["wall_ms"] for r in measured if r["tool"] == "quillon, user"]
    if user:
        lines += ["", f"An ordinary user through the ICMP helper: median "
                  f"{fmt_ms(statistics.median(user))} ms, {statistics.median(user) / q_median - 1:+.1%} "
                  "against root's (the goal: within 2 %)."]
    lines += ["",
              f"Floor of the pipeline: **{schedule.floor_ms:.0f} ms**; Quillon's median "
              f"{q_median:.0f} ms is **{ratio:.2f} × the floor** "
              f"({q_median - schedule.floor_ms:+.0f} ms). With the round trips this lab "
              f"really gave (traceroute's fastest probe per hop"
              + (f"; {target_rtt:.1f} ms to hop {min(topo.target_hop(), MAX_HOPS)} against "
                 f"{2 * min(topo.target_hop(), MAX_HOPS) * topo.delay_ms:.0f} ms of delay"
                 if target_rtt else "")
              + f") the floor is {lab_floor:.0f} ms, and Quillon {q_median / lab_floor:.2f} × that.",
              ""]
    medians = {tool: statistics.median(r["wall_ms"] for r in measured if r["tool"] == tool)
               for tool in {r["tool"] for r in measured}}
    if target_rtt and any(tool in medians for tool in IN_FLIGHT):
        goal = 1.1 * (target_rtt + data["lookup_ms"])
        fastest = min((t for t in medians if t.startswith("traceroute")), key=medians.get)
        lines += [f"Probes in flight: the goal is 1.1 × ({target_rtt:.1f} ms round trip to hop "
                  f"{topo.target_hop()} + {data['lookup_ms']:.2f} ms for one name) = "
                  f"**{goal:.0f} ms**, and no slower than the fastest traceroute setting, "
                  f"`{COMMANDS[fastest]}` at {fmt_ms(medians[fastest])} ms.", ""]
        for tool in IN_FLIGHT:
            if tool in medians:
                m = medians[tool]
                lines.append(f"- {tool}: {fmt_ms(m)} ms, {m / goal:.2f} × the goal "
                             f"({'met' if m <= goal else 'NOT met'}), {m / medians[fastest]:.2f} × "
                             f"the fastest traceroute ({'no slower' if m <= medians[fastest] else 'slower'}).")
        lines.append("")
    summary.append((topology, schedule.floor_ms, lab_floor, q_median, rss_mb))

lines += ["## Summary", "",
          "| Topology | Floor ms | Quillon median ms | Quillon ÷ floor | Floor at the lab's round trips ms | Quillon ÷ that | Peak RSS MB: quillon / traceroute / tracepath / mtr |",
          "|---|---:|---:|---:|---:|---:|---:|"]
for topology, floor_ms, lab_floor, q_median, rss_mb in summary:
    rss = " / ".join(f"{rss_mb[t]:.1f}" if t in rss_mb else "—"
                     for t in ("quillon", "traceroute", "tracepath", "mtr"))
    lines.append(f"| {TITLES[topology]} | {floor_ms:.0f} | {q_median:.0f} | "
                 f"{q_median / floor_ms:.2f} | {lab_floor:.0f} | {q_median / lab_floor:.2f} | {rss} |")
lines.append("")

text = "\n".join(lines)
with open(report, "w") as f:
    f.write(text)
if report.endswith("-e2e.md"):  # a full run; a part of one leaves latest.md alone
    with open(os.path.join(os.path.dirname(report), "latest.md"), "w") as f:
        f.write(text)
print(text)
print(f"Written to {report}", file=sys.stderr)
PY
