"""PubSubRuntime publish + drain through a three-field FlatBuffer pad, against a
pure-Python equivalent (deque bus, the flatbuffers package's table reader,
sqlite3 inserting and pruning the same rows in one transaction).

Prints ns per message for each and the ratio; one run, best of several rounds.
"""

import sqlite3
import time
from collections import deque

import flatbuffers
from flatbuffers import encode
from flatbuffers import number_types as N
from flatbuffers.table import Table

import tarnwick as tw

MESSAGES = 10_000
ROUNDS = 7
TOPIC = "imu/accel"
PAD = "imu"


def payloads():
    out = []
    for i in range(MESSAGES):
        b = flatbuffers.Builder(64)
        name = b.CreateString(f"sensor-{i % 7}")
        b.StartObject(3)
        b.PrependInt64Slot(0, i * 1000, 0)
        b.PrependFloat64Slot(1, i * 0.5, 0.0)
        b.PrependUOffsetTRelativeSlot(2, name, 0)
        b.Finish(b.EndObject())
        out.append(bytes(b.Output()))
    return out


def native_round(data):
    rt = tw.PubSubRuntime(retained_messages=MESSAGES)
    rt.register_flatbuffer_pad(
        PAD,
        tw.FlatBufferTable(
            "Imu",
            [
                tw.FlatBufferField("stamp", 0, "int64"),
                tw.FlatBufferField("value", 1, "float64"),
                tw.FlatBufferField("sensor", 2, "string"),
            ],
        ),
    )
    start = time.perf_counter_ns()
    for payload in data:
        rt.publish(TOPIC, payload, pad_name=PAD)
    records = rt.drain()
    elapsed = time.perf_counter_ns() - start
    assert len(records) == MESSAGES
    assert rt.query_one('SELECT sensor, value FROM stream_messages WHERE "offset" = 9') == {
        "sensor": "sensor-2",
        "value": 4.5,
    }
    return elapsed


SCHEMA = """
CREATE TABLE stream_messages (pad_name TEXT, topic TEXT NOT NULL, "offset" INTEGER NOT NULL,
  process_sequence INTEGER NOT NULL, event_time INTEGER NOT NULL, message_key TEXT,
  payload BLOB NOT NULL, stamp INTEGER, value REAL, sensor TEXT, PRIMARY KEY (topic, "offset"));
CREATE INDEX stream_messages_offset_idx ON stream_messages ("offset");
CREATE INDEX stream_messages_topic_pad_offset_idx ON stream_messages (topic, pad_name, "offset");
CREATE INDEX stream_messages_topic_pad_event_sequence_idx
  ON stream_messages (topic, pad_name, event_time, process_sequence);
"""
INSERT = (
    'INSERT OR REPLACE INTO stream_messages (pad_name, topic, "offset", process_sequence,'
    " event_time, message_key, payload, stamp, value, sensor) VALUES (?,?,?,?,?,?,?,?,?,?)"
)
PRUNE = 'DELETE FROM stream_messages WHERE "offset" < ?'


def read_fields(payload):
    table = Table(payload, encode.Get(N.UOffsetTFlags.packer_type, payload, 0))
    o = table.Offset(4)
    stamp = table.Get(N.Int64Flags, o + table.Pos) if o else None
    o = table.Offset(6)
    value = table.Get(N.Float64Flags, o + table.Pos) if o else None
    o = table.Offset(8)
    sensor = table.String(o + table.Pos).decode() if o else None
    return stamp, value, sensor


def python_round(data):
    conn = sqlite3.connect(":memory:", isolation_level=None)
    conn.executescript(SCHEMA)
    start = time.perf_counter_ns()
    bus = deque(maxlen=MESSAGES)
    for offset, payload in enumerate(data):
        bus.append((TOPIC, payload, offset, PAD))
    conn.execute("BEGIN")
    for seq, (topic, payload, offset, pad) in enumerate(bus, 1):
        stamp, value, sensor = read_fields(payload)
        conn.execute(INSERT, (pad, topic, offset, seq, seq, None, payload, stamp, value, sensor))
        if offset >= MESSAGES:
            conn.execute(PRUNE, (offset - MESSAGES + 1,))
    conn.execute("COMMIT")
    elapsed = time.perf_counter_ns() - start
    assert conn.execute(
        'SELECT sensor, value FROM stream_messages WHERE "offset" = 9'
    ).fetchone() == (
        "sensor-2",
        4.5,
    )
    conn.close()
    return elapsed


def floor_ns():
    start = time.perf_counter_ns()
    for _ in range(MESSAGES):
        tw.bridge_version()
    return (time.perf_counter_ns() - start) / MESSAGES


def main():
    data = payloads()
    # Rounds alternate so that a change in machine load touches both sides.
    native_runs, python_runs = [], []
    for _ in range(ROUNDS):
        native_runs.append(native_round(data))
        python_runs.append(python_round(data))
    native = min(native_runs) / MESSAGES
    python = min(python_runs) / MESSAGES
    floor = min(floor_ns() for _ in range(ROUNDS))
    print(f"bridge_version()                      {floor:9.1f} ns/call")
    print(
        f"PubSubRuntime publish x{MESSAGES} + drain   {native:9.1f} ns/message"
        f"  ({native / floor:.1f}x the native call floor)"
    )
    print(f"pure-Python equivalent                {python:9.1f} ns/message")
    print(f"speed-up over pure Python             {python / native:9.2f}x (goal: 1.5x)")


if __name__ == "__main__":
    main()
