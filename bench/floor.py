#!/usr/bin/env python3
"""The earliest time Quillon's probe pipeline can finish a route in a lab chain.

The design: five probes in flight, TTLs 1 to 5 launched at once, and every
result launches the next TTL until the end of the route is known. A probe for
TTL k is answered RTT(k) after its launch, where RTT(k) is twice the one-way
delay of the links it crosses; a probe that nobody answers reports after all
its attempts have timed out. The route ends at an echo reply from the target,
at a result for the hop limit, or at the fourth silent result (then the route
is as long as the highest answering hop); the run is complete once that end is
known and every entry up to it is filled. Names, threads and process start cost
nothing here: the floor is what the network alone makes us wait. Measured round
trips per hop may replace the delays (Topology.rtt_ms), to tell the time a lab's
links add from the time the program adds.

    floor.py --routers 12 --delay 10 [--silent 4,8] [--drop-echo]
             [--timeout 1000] [--max-hops 30] [--schedule]

prints the floor in milliseconds (and with --schedule, every probe's launch and
result).
"""

import argparse
import heapq
import sys
from dataclasses import dataclass, field

PROBES_IN_FLIGHT = 5
ATTEMPTS = 3
SILENT_LIMIT = 3  # a run ends at the first silent result beyond this many


@dataclass
class Topology:
    routers: int
    delay_ms: float  # one way, per link
    silent: frozenset = field(default_factory=frozenset)  # routers without time-exceeded
    drop_echo: bool = False  # the target drops echo requests
    timeout_ms: float = 1000.0
    max_hops: int = 30
    rtt_ms: dict = field(default_factory=dict)  # measured round trips by hop, if any

    def target_hop(self):
        return self.routers + 1

    def answer(self, ttl):
        """(answered, is the target's echo reply, round trip) of a probe with this TTL."""
        hop = min(ttl, self.target_hop())
        rtt = self.rtt_ms.get(hop, 2.0 * hop * self.delay_ms)
        if hop == self.target_hop():
            return (not self.drop_echo, True, rtt)
        return (hop not in self.silent, False, rtt)


@dataclass
class Schedule:
    floor_ms: float
    route_length: int
    events: list  # (ttl, launched, reported, silent)


def pipeline_floor(topo: Topology) -> Schedule:
    """Runs the launch-on-result pipeline as an event simulation."""
    pending = []  # (report time, ttl, launch time)
    last_requested = 0
    events = []

    def launch(now):
        nonlocal last_requested
        last_requested += 1
        if last_requested > topo.max_hops:
            return
        answered, _, rtt = topo.answer(last_requested)
        took = rtt if answered else ATTEMPTS * topo.timeout_ms
        heapq.heappush(pending, (now + took, last_requested, now))

    for _ in range(PROBES_IN_FLIGHT):
        launch(0.0)

    filled = set()
    end_found, route_length, highest, silent_count = False, topo.max_hops + 1, 0, 0
    while pending:
        now, ttl, launched = heapq.heappop(pending)
        answered, from_target, _ = topo.answer(ttl)
        events.append((ttl, launched, now, not answered))
        finishing = (answered and from_target) or ttl >= topo.max_hops
        if finishing:
            end_found = True
            route_length = min(route_length, ttl)
        if answered:
            highest = max(highest, ttl)
        else:
            silent_count += 1
        if silent_count > SILENT_LIMIT:
            end_found, route_length = True, highest
        filled.add(ttl)
        if end_found and all(k in filled for k in range(1, route_length + 1)):
            return Schedule(now, route_length, events)
        if not end_found:
            launch(now)
    raise RuntimeError("the pipeline ran dry before the route was complete")


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--routers", type=int, required=True)
    parser.add_argument("--delay", type=float, required=True, help="one-way ms per link")
    parser.add_argument("--silent", default="", help="comma-separated silent routers")
    parser.add_argument("--drop-echo", action="store_true")
    parser.add_argument("--timeout", type=float, default=1000.0, help="ms per attempt")
    parser.add_argument("--max-hops", type=int, default=30)
    parser.add_argument("--schedule", action="store_true", help="print every probe")
    args = parser.parse_args(argv)
    silent = frozenset(int(s) for s in args.silent.split(",") if s)
    return args, Topology(args.routers, args.delay, silent, args.drop_echo, args.timeout,
                          args.max_hops)


def main(argv):
    args, topo = parse_args(argv)
    schedule = pipeline_floor(topo)
    if args.schedule:
        print("ttl  launched  reported")
        for ttl, launched, reported, silent in sorted(schedule.events):
            print(f"{ttl:3d} {launched:9.1f} {reported:9.1f}{'  silent' if silent else ''}")
        print(f"route length {schedule.route_length}")
    print(f"{schedule.floor_ms:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
