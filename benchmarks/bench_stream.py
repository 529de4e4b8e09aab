"""Pub/sub and stream store throughput against references measured in the same run.

Prints ns per message for each operation and its ratio to the reference:
- publish then poll in batches of 100 against queue.SimpleQueue put plus get;
- DataStreamProcessor.ingest_many of 1,000 messages against Python's sqlite3
  doing the same INSERT OR REPLACE and offset-window DELETE per row inside one
  transaction.
Run with PYTHONPATH=src python benchmarks/bench_stream.py.
"""

import itertools
import queue
import sqlite3
import time

import tarnwick as tw

REPEATS = 7
BATCH = 100
BATCHES = 200
INGEST = 1_000
RETAINED = 1_024
PAYLOAD = bytes(range(64))
TOPIC = "imu.accel"


def best_ns(fn, rounds):
    """Lowest ns of `rounds` calls of `fn` over REPEATS runs."""
    best = None
    for _ in range(REPEATS):
        start = time.perf_counter_ns()
        for _ in range(rounds):
            fn()
        elapsed = time.perf_counter_ns() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def floor_ns():
    version = tw.bridge_version
    calls = 100_000

    def run():
        for _ in range(calls):
            version()

    return best_ns(run, 1) / calls


def pubsub_figures():
    bus = tw.InMemoryPubSub(retained_messages=RETAINED)
    bus.subscribe(TOPIC, name="bench")
    publish, poll = bus.publish, bus.poll
    simple = queue.SimpleQueue()
    put, get = simple.put, simple.get

    def native():
        for _ in range(BATCH):
            publish(TOPIC, PAYLOAD)
        received = poll("bench", max_messages=BATCH)
        assert len(received) == BATCH

    def reference():
        for _ in range(BATCH):
            put((TOPIC, PAYLOAD))
        for _ in range(BATCH):
            get()

    per_message = BATCH * BATCHES
    return best_ns(native, BATCHES) / per_message, best_ns(reference, BATCHES) / per_message


REFERENCE_SCHEMA = """
CREATE TABLE stream_messages (pad_name TEXT, topic TEXT NOT NULL, "offset" INTEGER NOT NULL,
  process_sequence INTEGER NOT NULL, event_time INTEGER NOT NULL, message_key TEXT,
  payload BLOB NOT NULL, PRIMARY KEY (topic, "offset"));
CREATE INDEX stream_messages_offset_idx ON stream_messages ("offset");
CREATE INDEX stream_messages_topic_pad_offset_idx ON stream_messages (topic, pad_name, "offset");
CREATE INDEX stream_messages_topic_pad_event_sequence_idx
  ON stream_messages (topic, pad_name, event_time, process_sequence);
"""
INSERT = (
    'INSERT OR REPLACE INTO stream_messages (pad_name, topic, "offset", process_sequence,'
    " event_time, message_key, payload) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)"
)
PRUNE = 'DELETE FROM stream_messages WHERE "offset" < ?1'


def ingest_figures():
    rounds = 3
    total = REPEATS * rounds
    topics = ["imu.accel", "imu.gyro", "gps.fix"]
    offsets = [range(r * INGEST, (r + 1) * INGEST) for r in range(total)]
    native_batches = iter(
        [[tw.PubSubMessage(topics[o % 3], PAYLOAD, o) for o in batch] for batch in offsets]
    )
    reference_batches = iter([[(topics[o % 3], o) for o in batch] for batch in offsets])

    proc = tw.DataStreamProcessor(retained_messages=RETAINED)

    def native():
        records = proc.ingest_many(next(native_batches))
        assert len(records) == INGEST

    conn = sqlite3.connect(":memory:", isolation_level=None)
    conn.executescript(REFERENCE_SCHEMA)
    sequence = itertools.count(1)

    def reference():
        conn.execute("BEGIN")
        for topic, offset in next(reference_batches):
            seq = next(sequence)
            conn.execute(INSERT, (None, topic, offset, seq, seq, None, PAYLOAD))
            if offset >= RETAINED:
                conn.execute(PRUNE, (offset - RETAINED + 1,))
        conn.execute("COMMIT")

    native_ns = best_ns(native, rounds) / (rounds * INGEST)
    reference_ns = best_ns(reference, rounds) / (rounds * INGEST)
    kept = proc.query_one("SELECT count(*) AS n FROM stream_messages")["n"]
    assert kept == conn.execute("SELECT count(*) FROM stream_messages").fetchone()[0]
    conn.close()
    return native_ns, reference_ns


def main():
    floor = floor_ns()
    print(f"bridge_version() floor: {floor:.1f} ns per call")
    native, reference = pubsub_figures()
    print(
        f"publish + poll (batches of {BATCH}): {native:.1f} ns/message"
        f" ({native / floor:.1f}x floor); SimpleQueue put + get: {reference:.1f} ns/message;"
        f" cost ratio native/reference = {native / reference:.2f} (goal <= 1.50)"
    )
    native, reference = ingest_figures()
    print(
        f"ingest_many ({INGEST} messages): {native:.0f} ns/message"
        f" = {1e9 / native:,.0f} rows/s; sqlite3 insert + prune per row in one transaction:"
        f" {reference:.0f} ns/message = {1e9 / reference:,.0f} rows/s;"
        f" rows/s ratio native/reference = {reference / native:.2f} (goal >= 1.50)"
    )


if __name__ == "__main__":
    main()
