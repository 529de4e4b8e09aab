"""Graph write speed and memory, measured in one run.

Prints ns per call for `Graph.emit` and `Graph.emit_single_if_unrouted` with a
64-byte payload over 1 route and over 1000 routes round robin, next to the
native call floor `bridge_version()` and a pure-Python write of the same
bookkeeping. The cases run interleaved, round after round, so that a busy
machine slows them all alike; each figure is the median over the rounds.
Then 1,000,000 emits on one route show the retained bodies and the growth of
resident memory between the 100,000th and the 1,000,000th emit.

    PYTHONPATH=src python benchmarks/bench_graph.py [--rounds N] [--batch N]
"""

import argparse
import statistics
import time
from collections import deque

import tarnwick as tw

PAYLOAD = bytes(range(64))
HISTORY_LIMIT = 8


def make_route(i=0):
    return tw.RouteRef(
        tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, f"dev{i}"),
        "accel",
        "x",
        tw.Variant.Payload,
        tw.SchemaRef("imu.accel", 1),
    )


# ---- the same write in pure Python ---------------------------------------------


class PyEnvelope:
    __slots__ = ("route", "producer", "seq_source", "payload_id", "time_ms", "length")

    def __init__(self, route, producer, seq_source, payload_id, time_ms, length):
        self.route = route
        self.producer = producer
        self.seq_source = seq_source
        self.payload_id = payload_id
        self.time_ms = time_ms
        self.length = length


class PySlot:
    __slots__ = ("display", "latest", "history", "audit")

    def __init__(self, display):
        self.display = display
        self.latest = None
        self.history = deque()
        self.audit = []  # [producer, seq], one per producer


class PyGraph:
    """Route lookup or registration, next sequence number, identifier text,
    body stored under it, an envelope, latest, a bounded history of 8 that
    releases evicted bodies, and a one-event-per-producer audit list."""

    def __init__(self):
        self.slots = {}
        self.store = {}

    def emit(self, route, payload, producer="python"):
        slot = self.slots.get(route)
        if slot is None:
            slot = self.slots[route] = PySlot(route.display())
        latest = slot.latest
        seq = latest.seq_source + 1 if latest is not None else 1
        payload_id = f"{slot.display}:{seq:020}"
        self.store[payload_id] = bytes(payload)
        envelope = PyEnvelope(
            route, producer, seq, payload_id, time.time_ns() // 1_000_000, len(payload)
        )
        slot.latest = envelope
        history = slot.history
        history.append(envelope)
        while len(history) > HISTORY_LIMIT:
            evicted = history.popleft()
            if evicted.payload_id != payload_id:
                self.store.pop(evicted.payload_id, None)
        for event in slot.audit:
            if event[0] == producer:
                event[1] = seq
                break
        else:
            slot.audit.append([producer, seq])
        return [envelope]


# ---- timing --------------------------------------------------------------------


def timed(fn, routes, calls):
    """ns per call of `fn(route, PAYLOAD)` over `calls` calls cycling `routes`."""
    n = len(routes)
    start = time.perf_counter_ns()
    for i in range(calls):
        fn(routes[i % n], PAYLOAD)
    return (time.perf_counter_ns() - start) / calls


def timed_floor(_fn, routes, calls, _call=tw.bridge_version):
    """The same loop around the native no-argument call, without a Python frame."""
    n = len(routes)
    start = time.perf_counter_ns()
    for i in range(calls):
        routes[i % n], PAYLOAD  # noqa: B018 - the same indexing as `timed`
        _call()
    return (time.perf_counter_ns() - start) / calls


def speed(rounds, batch):
    one = [make_route(0)]
    many = [make_route(i) for i in range(1000)]
    graphs = {key: tw.Graph() for key in ("emit1", "emitN", "single1", "singleN")}
    pys = {key: PyGraph() for key in ("py1", "pyN")}
    cases = {
        "bridge_version() floor": (None, one),
        "Graph.emit, 1 route": (graphs["emit1"].emit, one),
        "Graph.emit, 1000 routes": (graphs["emitN"].emit, many),
        "emit_single_if_unrouted, 1 route": (graphs["single1"].emit_single_if_unrouted, one),
        "emit_single_if_unrouted, 1000 routes": (graphs["singleN"].emit_single_if_unrouted, many),
        "pure-Python write, 1 route": (pys["py1"].emit, one),
        "pure-Python write, 1000 routes": (pys["pyN"].emit, many),
    }

    def run(name, calls):
        fn, routes = cases[name]
        return (timed_floor if fn is None else timed)(fn, routes, calls)

    for name in cases:  # registration and warm-up outside the figures
        run(name, max(batch, 2000))
    samples = {name: [] for name in cases}
    for _ in range(rounds):
        for name in cases:
            samples[name].append(run(name, batch))
    ns = {name: statistics.median(values) for name, values in samples.items()}

    floor = ns["bridge_version() floor"]
    print(f"{'case':40} {'ns/call':>9} {'x floor':>8} {'python/case':>12}")
    for name, value in ns.items():
        many = "1000" in name
        py = ns["pure-Python write, 1000 routes" if many else "pure-Python write, 1 route"]
        print(f"{name:40} {value:9.1f} {value / floor:8.2f} {py / value:12.2f}")
    print()
    goals = [
        ("Graph.emit, 1 route", "pure-Python write, 1 route", 5),
        ("Graph.emit, 1000 routes", "pure-Python write, 1000 routes", 5),
        ("emit_single_if_unrouted, 1 route", "pure-Python write, 1 route", 8),
        ("emit_single_if_unrouted, 1000 routes", "pure-Python write, 1000 routes", 8),
    ]
    for name, ref, goal in goals:
        ratio = ns[ref] / ns[name]
        print(f"{name:40} {ratio:6.2f}x faster than pure Python (goal {goal}x)")


# ---- memory --------------------------------------------------------------------


def resident_bytes():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    import os

    return pages * os.sysconf("SC_PAGE_SIZE")


def memory():
    graph = tw.Graph()
    route = make_route(0)
    emit = graph.emit
    for _ in range(100_000):
        emit(route, PAYLOAD)
    at_100k = resident_bytes()
    for _ in range(900_000):
        emit(route, PAYLOAD)
    at_1m = resident_bytes()
    snapshot = graph.retention_snapshot(route)[0]
    print()
    print("1,000,000 emits of 64 bytes on one route:")
    print(f"  retained_payload_count      {graph.retained_payload_count(route)} (goal <= 8)")
    print(f"  latest seq_source           {snapshot.latest_seq_source}")
    print(f"  replay_count                {snapshot.replay_count}")
    print(f"  resident at 100,000th emit  {at_100k / 2**20:.2f} MiB")
    print(f"  resident at 1,000,000th     {at_1m / 2**20:.2f} MiB")
    print(f"  growth                      {(at_1m - at_100k) / 2**20:.3f} MiB (goal < 5 MB)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--batch", type=int, default=20_000)
    args = parser.parse_args()
    speed(args.rounds, args.batch)
    memory()


if __name__ == "__main__":
    main()
