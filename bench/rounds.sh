#!/usr/bin/env bash
# Rounds at their pace, side by side with mtr and traceroute, each row on labs of
# its own (tests/lab/lab.sh), as root:
#   A  4 routers, router 2 silent: `quillon --report --rounds 10 --interval 0.25
#      -w 1000` against `mtr -n --report -c 10 -i 0.25`; the goal: within
#      9 x 0.25 s + 1 s + 0.25 s, and no later than mtr.
#   B  4 routers, router 2 answering at most 2 time-exceeded a second, router 3
#      dropping a fifth of what it forwards: 40 rounds at 0.25 s of each tool,
#      each in a lab of its own; the goal: Quillon's Loss % at hop 2 within 10
#      points of mtr's, and the loss hint at hop 2 only.
#   C  12 routers x 10 ms, routers 4 and 8 silent: `quillon --in-flight 64 -w
#      1000` against `traceroute -I -N 32 -q 1 -w 1` (medians of --runs); the
#      goal: within 1.03 x.
# Writes bench/results/<date>-rounds.md with the machine's load.
#
#   bench/rounds.sh [--quillon PATH] [--runs N] [--out DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
lab="$root/tests/lab/lab.sh"
quillon="$root/build/debug/app/quillon"
delaylink="$root/build/debug/tests/lab/quillon_delaylink"
runs=5
out="$here/results"
while (($# > 0)); do
  case $1 in
    --quillon) quillon=$2 ;;
    --runs) runs=$2 ;;
    --out) out=$2 ;;
    *)
      echo "usage: bench/rounds.sh [--quillon PATH] [--runs N] [--out DIR]" >&2
      exit 2
      ;;
  esac
  shift 2
done
if (($(id -u) != 0)); then
  echo "bench/rounds.sh: skipped: the benchmark needs root (network namespaces)." >&2
  exit 0
fi
for tool in ip nft mtr traceroute python3; do
  command -v "$tool" >/dev/null || {
    echo "bench/rounds.sh: '$tool' is missing; scripts/setup.sh installs it" >&2
    exit 1
  }
done
[[ -x $quillon && -x $delaylink ]] || {
  echo "bench/rounds.sh: build $quillon and $delaylink first" >&2
  exit 1
}

# shellcheck source=bench/lab-work.sh
source "$here/lab-work.sh"
start_lab_work quillon-rounds
mkdir -p "$work/bin"
cp "$quillon" "$work/bin/quillon"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

up() { # $1 name, lab options...: the facts into $work/$1.facts
  local name=$1
  shift
  current_lab="qlrounds$name$$"
  "$lab" up "$@" --delaylink "$delaylink" --prefix "$current_lab" --owner $$ >"$work/$name.facts"
}
down() {
  "$lab" down "$current_lab" >/dev/null
  current_lab=""
}
fact() { sed -n "s/^$2=//p" "$work/$1.facts"; }
# Wall time of a command in the lab's source namespace, seconds; its output in $work/$1.out.
timed() { # $1 name, command...
  local name=$1 src
  shift
  src=$(fact "$name" LAB_SRC)
  ip netns exec "$src" python3 -c '
import subprocess, sys, time
start = time.monotonic()
with open(sys.argv[1], "wb") as out:
    subprocess.run(sys.argv[2:], stdout=out, stderr=subprocess.DEVNULL, check=False)
print(f"{time.monotonic() - start:.3f}")' "$work/$name.out" "$@"
}

echo "A: 4 routers, router 2 silent" >&2
up a --routers 4 --silent 2
target=$(fact a LAB_TARGET)
a_quillon=$(timed a "$work/bin/quillon" --report --rounds 10 --interval 0.25 -w 1000 "$target")
cp "$work/a.out" "$work/a-quillon.txt"
a_mtr=$(timed a mtr -n --report -c 10 -i 0.25 "$target")
down

echo "B: router 2 answers 2 a second, router 3 drops a fifth" >&2
up b1 --routers 4 --icmp-limit 2:2 --lossy 3:5
timed b1 "$work/bin/quillon" --json --rounds 40 --interval 0.25 -w 1000 "$(fact b1 LAB_TARGET)" \
  >/dev/null
cp "$work/b1.out" "$work/b-quillon.json"
down
up b2 --routers 4 --icmp-limit 2:2 --lossy 3:5
timed b2 mtr -n --json -c 40 -i 0.25 "$(fact b2 LAB_TARGET)" >/dev/null
cp "$work/b2.out" "$work/b-mtr.json"
down

echo "C: 12 routers x 10 ms, routers 4 and 8 silent" >&2
up c --routers 12 --delay 10 --silent 4,8
target=$(fact c LAB_TARGET)
c_quillon=() c_traceroute=()
for ((i = 0; i < runs; i++)); do
  c_quillon+=("$(timed c "$work/bin/quillon" --terminal --json --in-flight 64 -w 1000 "$target")")
  c_traceroute+=("$(timed c traceroute -n -I -N 32 -q 1 -w 1 "$target")")
done
down
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

mkdir -p "$out"
report="$out/$(date -u +%Y-%m-%d)-rounds.md"
python3 - "$work" "$report" "$a_quillon" "$a_mtr" "${c_quillon[*]}" "${c_traceroute[*]}" \
  "$load_before" "$load_after" "$(nproc)" "$quillon" <<'PY'
import json, statistics, sys

work, report, a_q, a_m, c_q, c_t, load_before, load_after, cores, quillon = sys.argv[1:11]
a_q, a_m = float(a_q), float(a_m)
c_q = [float(x) for x in c_q.split()]
c_t = [float(x) for x in c_t.split()]
ours = json.load(open(f"{work}/b-quillon.json"))
mtr = json.load(open(f"{work}/b-mtr.json"))["report"]["hubs"]
q_loss = [h["stats"]["loss_pct"] for h in ours["hops"]]
q_hint = [h["stats"]["loss_here_only"] for h in ours["hops"]]
m_loss = [h["Loss%"] for h in mtr]
a_goal = 9 * 0.25 + 1 + 0.25
c_ratio = statistics.median(c_q) / statistics.median(c_t)
ok = lambda good: "met" if good else "**missed**"
hop2 = abs(q_loss[1] - m_loss[1])
lines = [
    "# Rounds at their pace",
    "",
    f"Machine: {cores} cores, shared; load average {load_before} before, {load_after} after.",
    f"Quillon: `{quillon}`; mtr, traceroute: the Debian packages.",
    "",
    "| Row | Quillon | Other tool | Goal | |",
    "|---|---|---|---|---|",
    f"| A: 4 routers, router 2 silent, 10 rounds at 0.25 s, `-w 1000` | {a_q:.2f} s | mtr {a_m:.2f} s "
    f"| ≤ {a_goal:.2f} s and ≤ mtr | {ok(a_q <= a_goal and a_q <= a_m)} |",
    f"| B: router 2 at 2 answers/s, router 3 drops 1/5; Loss % at hop 2 (40 rounds at 0.25 s) "
    f"| {q_loss[1]:.1f} % | mtr {m_loss[1]:.1f} % | within 10 points | {ok(hop2 <= 10)} |",
    f"| B: hops carrying the loss hint | {[i + 1 for i, h in enumerate(q_hint) if h]} | | [2] "
    f"| {ok([i + 1 for i, h in enumerate(q_hint) if h] == [2])} |",
    f"| C: 12 routers × 10 ms, 4 and 8 silent, `--in-flight 64 -w 1000` (median of {len(c_q)}) "
    f"| {statistics.median(c_q):.3f} s | `traceroute -I -N 32 -q 1 -w 1` "
    f"{statistics.median(c_t):.3f} s | ≤ 1.03 × | {ok(c_ratio <= 1.03)} ({c_ratio:.3f} ×) |",
    "",
    "Loss % per hop in row B:",
    "",
    "| Hop | Quillon | mtr |",
    "|---|---|---|",
]
for i in range(max(len(q_loss), len(m_loss))):
    q = f"{q_loss[i]:.1f}" + (" *" if q_hint[i] else "") if i < len(q_loss) else ""
    m = f"{m_loss[i]:.1f}" if i < len(m_loss) else ""
    lines.append(f"| {i + 1} | {q} | {m} |")
lines += ["", "Row C, every run (s): Quillon " + " ".join(f"{x:.3f}" for x in c_q)
          + "; traceroute " + " ".join(f"{x:.3f}" for x in c_t), ""]
open(report, "w").write("\n".join(lines))
print("\n".join(lines))
PY
