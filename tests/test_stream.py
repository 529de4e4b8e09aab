"""The stream store: schema, ingest and pruning, latest, records."""

import pytest

import tarnwick as tw


def msg(topic="t", offset=0, payload=b"p"):
    return tw.PubSubMessage(topic, payload, offset)


def rows(proc, columns='topic, "offset"'):
    sql = f'SELECT {columns} FROM stream_messages ORDER BY topic, "offset"'
    return [tuple(r.values()) for r in proc.query(sql)]


def fields(record):
    return (
        record.topic,
        record.payload,
        record.pad_name,
        record.key,
        record.offset,
        record.process_sequence,
        record.event_time,
        record.seq_source,
    )


def test_schema():
    proc = tw.DataStreamProcessor()
    columns = proc.query(
        "SELECT name, type, \"notnull\", pk FROM pragma_table_info('stream_messages')"
    )
    assert [tuple(c.values()) for c in columns] == [
        ("pad_name", "TEXT", 0, 0),
        ("topic", "TEXT", 1, 1),
        ("offset", "INTEGER", 1, 2),
        ("process_sequence", "INTEGER", 1, 0),
        ("event_time", "INTEGER", 1, 0),
        ("message_key", "TEXT", 0, 0),
        ("payload", "BLOB", 1, 0),
    ]
    indexes = proc.query(
        "SELECT name, group_concat(col, ',') AS cols FROM ("
        " SELECT m.name AS name, i.name AS col FROM sqlite_master m,"
        " pragma_index_info(m.name) i WHERE m.type = 'index' AND m.sql IS NOT NULL"
        " ORDER BY m.name, i.seqno) GROUP BY name ORDER BY name"
    )
    assert [tuple(i.values()) for i in indexes] == [
        ("stream_messages_offset_idx", "offset"),
        (
            "stream_messages_topic_pad_event_sequence_idx",
            "topic,pad_name,event_time,process_sequence",
        ),
        ("stream_messages_topic_pad_offset_idx", "topic,pad_name,offset"),
    ]


def test_ingest_numbers_and_record_fields():
    proc = tw.DataStreamProcessor()
    first = proc.ingest(msg("a", 0, b"one"))
    second = proc.ingest(msg("b", 5, b"two"), event_time=-5, key="k")
    assert fields(first) == ("a", b"one", None, None, 0, 1, 1, 1)
    assert fields(second) == ("b", b"two", None, "k", 5, 2, -5, 6)
    assert fields(proc.latest("b")) == fields(second)
    assert rows(
        proc, 'pad_name, topic, "offset", process_sequence, event_time, message_key, payload'
    ) == [
        (None, "a", 0, 1, 1, None, b"one"),
        (None, "b", 5, 2, -5, "k", b"two"),
    ]


def test_same_topic_and_offset_replaces():
    proc = tw.DataStreamProcessor()
    proc.ingest(tw.PubSubMessage("t", b"old"))
    proc.ingest(tw.PubSubMessage("t", b"new"))
    proc.ingest(tw.PubSubMessage("u", b"other"))
    assert rows(proc, "topic, payload, process_sequence") == [("t", b"new", 2), ("u", b"other", 3)]


@pytest.mark.parametrize(
    "retained, ingested, kept",
    [
        (2, [("t", 0), ("t", 1), ("t", 2), ("t", 3)], [2, 3]),
        (2, [("t", 0), ("t", 1), ("t", 2), ("t", 3), ("t", 1)], [1, 2, 3]),
        (3, [("a", 0), ("b", 1), ("a", 2), ("b", 3)], [1, 2, 3]),
        (1, [("a", 5), ("b", 9), ("a", 7)], [7, 9]),
        (5, [("a", 3), ("b", 4)], [3, 4]),
        (2, [("a", 2**63 - 3), ("b", 2**63 - 2), ("c", 2**63 - 1)], [2**63 - 2, 2**63 - 1]),
    ],
)
def test_offset_window_prune(retained, ingested, kept):
    proc = tw.DataStreamProcessor(retained_messages=retained)
    for topic, offset in ingested:
        proc.ingest(msg(topic, offset))
    assert sorted(o for _, o in rows(proc)) == kept


def test_latest_ordering():
    proc = tw.DataStreamProcessor()
    proc.ingest(msg("t", 9), event_time=10)
    proc.ingest(msg("t", 1), event_time=20)
    assert proc.latest("t").offset == 1
    proc.ingest(msg("t", 2), event_time=20)
    assert proc.latest("t").offset == 2
    proc.ingest(msg("t", 3), event_time=20)
    proc.ingest(msg("t", 2), event_time=20)  # re-ingest: the newer process sequence wins
    assert proc.latest("t").offset == 2
    proc.ingest(msg("n", 0), event_time=0)
    proc.ingest(msg("n", 1), event_time=-5)
    assert proc.latest("n").offset == 0
    assert proc.latest("absent") is None
    assert proc.latest("  ") is None


def test_unbindable_offset_uses_up_its_sequence():
    proc = tw.DataStreamProcessor()
    with pytest.raises(RuntimeError) as err:
        proc.ingest(msg("t", 2**63))
    assert str(err.value) == (
        "stream SQL operation failed: out of range integral type conversion attempted"
    )
    assert rows(proc) == []
    assert proc.ingest(msg("t", 2**63 - 1)).process_sequence == 2


def test_ingest_many():
    proc = tw.DataStreamProcessor(retained_messages=3)
    records = proc.ingest_many((msg("a", 0), msg("b", 1), msg("a", 3)))
    assert [(r.topic, r.offset, r.process_sequence, r.event_time, r.key) for r in records] == [
        ("a", 0, 1, 1, None),
        ("b", 1, 2, 2, None),
        ("a", 3, 3, 3, None),
    ]
    assert rows(proc) == [("a", 3), ("b", 1)]
    assert proc.ingest_many([]) == []


def test_failing_ingest_many_keeps_the_earlier_messages():
    proc = tw.DataStreamProcessor()
    batch = [msg("a", 0), msg("a", 1), msg("a", 2**64 - 1), msg("a", 3)]
    with pytest.raises(RuntimeError, match="^stream SQL operation failed: out of range"):
        proc.ingest_many(batch)
    assert rows(proc, '"offset", process_sequence') == [(0, 1), (1, 2)]
    assert proc.ingest(msg("a", 4)).process_sequence == 4


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: p.ingest("t"), TypeError, "argument 'message': expected PubSubMessage, got str"),
        (lambda p: p.ingest(msg(), event_time=2**63), OverflowError, None),
        (lambda p: p.ingest(msg(), event_time=1.5), TypeError, "argument 'event_time': "),
        (lambda p: p.ingest(msg(), key=b"k"), TypeError, "argument 'key': expected str"),
        (lambda p: p.ingest(msg(), 5), TypeError, None),
        (
            lambda p: p.ingest_many("ab"),
            TypeError,
            "argument 'messages': a str cannot be taken as a sequence of items",
        ),
        (lambda p: p.ingest_many([msg(), b"x"]), TypeError, "argument 'messages': expected"),
        (lambda p: p.ingest_many(msg()), TypeError, "argument 'messages': expected a sequence"),
        (lambda p: p.latest(None), TypeError, "argument 'topic': "),
    ],
)
def test_argument_errors_touch_nothing(call, error, message):
    proc = tw.DataStreamProcessor()
    with pytest.raises(error) as err:
        call(proc)
    if message:
        assert str(err.value).startswith(message)
    assert rows(proc) == []
    assert proc.ingest(msg()).process_sequence == 1


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"retained_messages": 0}, ValueError, "retained_messages must be positive"),
        ({"retained_messages": -1}, OverflowError, None),
        ({"retained_messages": 2**64}, OverflowError, None),
        ({"retained_messages": None}, TypeError, "argument 'retained_messages': "),
    ],
)
def test_constructor_errors(kwargs, error, message):
    with pytest.raises(error) as err:
        tw.DataStreamProcessor(**kwargs)
    if message:
        assert str(err.value).startswith(message)


def test_query_one():
    proc = tw.DataStreamProcessor()
    assert proc.query_one("SELECT * FROM stream_messages") is None
    proc.ingest(msg("a"))
    assert proc.query_one("SELECT topic FROM stream_messages") == {"topic": "a"}
    proc.ingest(msg("b"))
    with pytest.raises(ValueError) as err:
        proc.query_one("SELECT topic FROM stream_messages")
    assert str(err.value) == "stream processor SQL returned more than one row"


def test_processors_do_not_share_a_database():
    one, two = tw.DataStreamProcessor(), tw.DataStreamProcessor()
    one.ingest(msg("a"))
    assert rows(two) == []
    assert two.ingest(msg("b")).process_sequence == 1


def test_records_have_no_constructor_and_copy_their_payload():
    proc = tw.DataStreamProcessor()
    source = bytearray(b"abc")
    record = proc.ingest(tw.PubSubMessage("t", source))
    source[0] = ord("z")
    assert record.payload == b"abc" and proc.latest("t").payload == b"abc"
    with pytest.raises(TypeError):
        tw.DataStreamRecord()


def test_stream_leaks(no_leak):
    proc = tw.DataStreamProcessor(retained_messages=16)
    message = msg("t", 3, b"payload")
    batch = [msg("t", i) for i in range(8)]
    counter = iter(range(10**9))
    no_leak(lambda: tw.DataStreamProcessor(retained_messages=2), calls=1000)
    no_leak(lambda: fields(proc.ingest(message, event_time=4, key="k")))
    no_leak(lambda: proc.ingest(msg("t", next(counter))))
    no_leak(lambda: [fields(r) for r in proc.ingest_many(batch)], calls=2000)
    no_leak(lambda: fields(proc.latest("t")))
    no_leak(lambda: proc.latest("absent"))
    no_leak(lambda: proc.query_one("SELECT count(*) AS n FROM stream_messages"))
    no_leak(lambda: proc.query_one("SELECT * FROM stream_messages"), error=ValueError)
    no_leak(lambda: proc.ingest(msg("t", 2**63)), error=RuntimeError)
    no_leak(lambda: proc.ingest_many([message, "x"]), error=TypeError)
    no_leak(lambda: tw.DataStreamProcessor(retained_messages=0), error=ValueError)
