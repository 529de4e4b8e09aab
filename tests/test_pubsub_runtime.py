"""PubSubRuntime: publish with metrics and pending metadata, drain into the SQL store, reads."""

import json

import pytest

import tarnwick as tw


def rows(rt, sql='SELECT topic, "offset", event_time, message_key FROM stream_messages'):
    return [tuple(r.values()) for r in rt.query(sql + ' ORDER BY "offset"')]


def test_construction_and_the_processor_subscription():
    rt = tw.PubSubRuntime()
    delivery = rt.publish("a", b"x")
    assert (delivery.topic, delivery.offset, delivery.subscriber_count) == ("a", 0, 1)
    assert delivery.delivered_to == ["pubsub.stream_processor"]
    named = tw.PubSubRuntime(name=" bench ", retained_messages=1)
    assert named.publish("b", [1, 2, 3]).delivered_to == [" bench .stream_processor"]
    assert named.drain()[0].payload == b"\x01\x02\x03"


@pytest.mark.parametrize(
    "kwargs,error,message",
    [
        ({"name": " \t"}, ValueError, "pubsub name must be a non-empty string"),
        ({"retained_messages": 0}, ValueError, "retained_messages must be positive"),
        (
            {"name": "", "retained_messages": 0},
            ValueError,
            "pubsub name must be a non-empty string",
        ),
        ({"retained_messages": -1}, OverflowError, ""),
        ({"name": 3}, TypeError, "argument 'name': "),
        ({"retained_messages": "1"}, TypeError, "argument 'retained_messages': "),
    ],
)
def test_constructor_refusals(kwargs, error, message):
    with pytest.raises(error) as err:
        tw.PubSubRuntime(**kwargs)
    assert str(err.value).startswith(message)


def test_constructor_arguments_are_keyword_only():
    with pytest.raises(TypeError):
        tw.PubSubRuntime("name")


def test_publish_reaches_the_store_only_on_drain():
    rt = tw.PubSubRuntime()
    rt.publish("a", b"1")
    rt.publish("b", b"2", key="k", event_time=-5)
    assert rows(rt) == [("a", 0, 1, None), ("b", 1, -5, "k")]
    assert rt.drain() == []
    rt.publish("a", b"3")
    (record,) = rt.drain()
    assert (record.topic, record.payload, record.offset) == ("a", b"3", 2)
    assert (record.pad_name, record.key, record.process_sequence, record.event_time) == (
        None,
        None,
        3,
        3,
    )


def test_drain_returns_records_in_offset_order():
    rt = tw.PubSubRuntime()
    rt.publish("x", b"1", pad_name="", event_time=9)
    rt.publish("y", b"2", pad_name="never registered", key="")
    first, second = rt.drain()
    assert (first.offset, first.process_sequence, first.event_time, first.pad_name) == (0, 1, 9, "")
    assert (second.offset, second.process_sequence, second.event_time) == (1, 2, 2)
    assert (second.pad_name, second.key) == ("never registered", "")
    assert rows(rt, "SELECT pad_name, message_key FROM stream_messages") == [
        ("", None),
        ("never registered", ""),
    ]


def test_latest_ranks_by_event_time_and_drains_first():
    rt = tw.PubSubRuntime()
    rt.publish("t", b"first", event_time=100, key="k")
    rt.publish("t", b"second", event_time=50)
    rt.publish("u", b"other")
    latest = rt.latest("t")
    assert (latest.payload, latest.event_time, latest.key, latest.offset) == (b"first", 100, "k", 0)
    assert rt.latest("  ") is None and rt.latest("nobody") is None
    assert rt.drain() == []


def test_retention_bounds_the_bus_and_the_store():
    rt = tw.PubSubRuntime(retained_messages=2)
    for i in range(3):
        rt.publish(f"t{i}", b"p", key=str(i))
    assert [(r.offset, r.key) for r in rt.drain()] == [(1, "1"), (2, "2")]
    rt.publish("t3", b"p")
    assert rows(rt, 'SELECT "offset" FROM stream_messages') == [(2,), (3,)]
    assert len(rt.observability_metrics()) == 2 and len(rt.observability_logs()) == 2


def test_pending_metadata_of_a_retained_message_survives_until_its_drain():
    rt = tw.PubSubRuntime()
    rt.publish("t", b"a", key="kept", event_time=7)
    rt.publish("t", b"b")
    assert [(r.key, r.event_time) for r in rt.drain()] == [("kept", 7), (None, 2)]


@pytest.mark.parametrize(
    "args,kwargs,error,message",
    [
        (("  ", b"x"), {}, ValueError, "pubsub topic must be a non-empty string"),
        (("  ", b""), {}, ValueError, "pubsub topic must be a non-empty string"),
        (("t", b""), {}, ValueError, "pubsub payload must be non-empty bytes"),
        (("t", "text"), {}, TypeError, "argument 'payload': "),
        (("t", [256]), {}, OverflowError, ""),
        ((b"t", b"x"), {}, TypeError, "argument 'topic': "),
        (("t", b"x"), {"pad_name": 1}, TypeError, "argument 'pad_name': "),
        (("t", b"x"), {"event_time": 2**63}, OverflowError, ""),
        (("t", b"x"), {"event_time": 1.0}, TypeError, "argument 'event_time': "),
        (("t", b"x"), {"key": b"k"}, TypeError, "argument 'key': "),
    ],
)
def test_publish_refusals_change_nothing(args, kwargs, error, message):
    rt = tw.PubSubRuntime()
    with pytest.raises(error) as err:
        rt.publish(*args, **kwargs)
    assert str(err.value).startswith(message)
    assert rt.observability_metrics() == [] and rt.observability_logs() == []
    assert rt.publish("t", b"x").offset == 0


def test_publish_records_two_histograms_and_one_log():
    rt = tw.PubSubRuntime()
    rt.publish("imu/accel", b"abc")
    size, delivered = rt.observability_metrics()
    assert (size.name, size.unit, size.sum, size.count) == (
        "tarnwick.pubsub.publish.payload_bytes",
        "By",
        3.0,
        1,
    )
    assert size.bucket_counts_json == "[0,0,0,0,0,0,0,1,0,0]"
    assert (delivered.name, delivered.unit, delivered.sum, delivered.min, delivered.max) == (
        "tarnwick.pubsub.publish.delivered_subscribers",
        "{subscriber}",
        1.0,
        1.0,
        1.0,
    )
    assert size.attributes_json == delivered.attributes_json == '{"topic":"imu/accel"}'
    (log,) = rt.observability_logs()
    assert (log.severity_text, log.logger_name, log.file_path, log.line_number) == (
        "INFO",
        "tarnwick.pubsub",
        "",
        0,
    )
    assert log.body == "published topic=imu/accel payload_bytes=3 delivered_subscribers=1"
    assert log.attributes_json == size.attributes_json
    assert size.timestamp_ns <= delivered.timestamp_ns <= log.timestamp_ns


@pytest.mark.parametrize(
    "topic,attributes",
    [
        ('say "hi"', '{"topic":"say \\"hi\\""}'),
        ("back\\slash", '{"topic":"back\\\\slash"}'),
        ("tab\tline\ncr\r", '{"topic":"tab\\tline\\ncr\\r"}'),
        ("bell\x07nul\x00esc\x1b\x1f", '{"topic":"bell\\u0007nul\\u0000esc\\u001b\\u001f"}'),
        ("caf\u00e9 \u2603 \x7f", '{"topic":"caf\u00e9 \u2603 \x7f"}'),
    ],
)
def test_publish_attributes_are_valid_json(topic, attributes):
    rt = tw.PubSubRuntime()
    rt.publish(topic, b"p")
    records = rt.observability_metrics() + rt.observability_logs()
    assert [r.attributes_json for r in records] == [attributes] * 3
    assert all(json.loads(r.attributes_json) == {"topic": topic} for r in records)
    assert rt.observability_logs()[0].body.startswith(f"published topic={topic} payload_bytes=1")


def test_query_and_query_one():
    rt = tw.PubSubRuntime()
    rt.publish("a", b"1")
    assert rt.query_one("SELECT topic FROM stream_messages WHERE topic = :t", {"t": "a"}) == {
        "topic": "a"
    }
    assert rt.query_one("SELECT topic FROM stream_messages WHERE topic = 'none'") is None
    rt.publish("b", b"2")
    with pytest.raises(ValueError) as err:
        rt.query_one("SELECT topic FROM stream_messages")
    assert str(err.value) == "board SQL returned more than one row"
    assert rt.query("select count(*) AS n from stream_messages", None) == [{"n": 2}]


@pytest.mark.parametrize(
    "sql,parameters,error,message",
    [
        (
            "DELETE FROM stream_messages",
            None,
            ValueError,
            "stream processor SQL must be a SELECT or WITH query",
        ),
        ("   ", None, ValueError, "stream processor SQL must be non-empty"),
        ("SELECT * FROM nowhere", None, RuntimeError, "stream SQL operation failed: "),
        ("SELECT :a", {"a": {}}, TypeError, "SQL parameters must be"),
    ],
)
def test_refused_queries_still_drain(sql, parameters, error, message):
    rt = tw.PubSubRuntime()
    rt.publish("a", b"1")
    for call in (rt.query, rt.query_one):
        with pytest.raises(error) as err:
            call(sql, parameters)
        assert str(err.value).startswith(message)
    assert rt.drain() == []
    assert rows(rt) == [("a", 0, 1, None)]


@pytest.mark.parametrize(
    "call",
    [
        lambda rt: rt.query(1),
        lambda rt: rt.query("SELECT 1", [("a", 1)]),
        lambda rt: rt.query_one("SELECT 1", "a"),
        lambda rt: rt.latest(None),
    ],
)
def test_argument_errors_come_before_the_drain(call):
    rt = tw.PubSubRuntime()
    rt.publish("a", b"1")
    with pytest.raises(TypeError):
        call(rt)
    assert len(rt.drain()) == 1


def test_use_rule_refuses_reentry_from_a_conversion_hook():
    rt = tw.PubSubRuntime()
    seen = []

    class Byte:
        def __index__(self):
            for call in (rt.observability_logs, rt.drain, lambda: rt.publish("t", b"x")):
                try:
                    call()
                except RuntimeError as exc:
                    seen.append(str(exc))
            return 65

    assert rt.publish("t", [Byte()]).offset == 0
    assert seen == ["Already mutably borrowed", "Already borrowed", "Already borrowed"]
    assert [r.payload for r in rt.drain()] == [b"A"]


def test_no_leaks(no_leak):
    rt = tw.PubSubRuntime(retained_messages=4)

    def publish_drain():
        rt.publish("t", b"payload", pad_name="p", event_time=3, key="k")
        return [(r.topic, r.payload, r.key) for r in rt.drain()]

    no_leak(lambda: tw.PubSubRuntime(name="n", retained_messages=2), calls=1000)
    no_leak(publish_drain)
    no_leak(lambda: rt.latest("t"))
    no_leak(
        lambda: rt.query("SELECT topic, payload FROM stream_messages WHERE topic = :t", {"t": "t"})
    )
    no_leak(lambda: rt.query_one("SELECT count(*) FROM stream_messages"))
    no_leak(lambda: [m.attributes_json for m in rt.observability_metrics()])
    no_leak(lambda: [m.body for m in rt.observability_logs()])
    no_leak(lambda: rt.publish(" ", b"x"), error=ValueError)
    no_leak(lambda: rt.publish("t", "x"), error=TypeError)
    no_leak(lambda: rt.query("DELETE FROM stream_messages"), error=ValueError)
    no_leak(lambda: rt.query_one("SELECT topic FROM stream_messages"), error=ValueError)
    no_leak(lambda: tw.PubSubRuntime(retained_messages=0), error=ValueError)
