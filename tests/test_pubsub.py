"""The in-memory bus: offsets, retention, cursors, deliveries and its value classes."""

import pytest

import tarnwick as tw


def publish_all(bus, topics, payload=b"p"):
    return [bus.publish(t, payload) for t in topics]


def offsets(messages):
    return [m.offset for m in messages]


def test_offsets_are_shared_across_topics():
    bus = tw.InMemoryPubSub()
    deliveries = publish_all(bus, ["a", "b", "a"])
    assert [(d.topic, d.offset) for d in deliveries] == [("a", 0), ("b", 1), ("a", 2)]
    assert bus.message_count == 3 and bus.retained_messages == 1024


def test_retention_drops_oldest_silently():
    bus = tw.InMemoryPubSub(retained_messages=2)
    early = bus.subscribe("a")
    publish_all(bus, ["a", "a", "a"])
    assert bus.message_count == 2
    assert bus.latest().offset == 2
    assert offsets(bus.poll(early.name)) == [1, 2]
    late = bus.subscribe("a", replay_from_beginning=True)
    assert offsets(bus.poll(late.name)) == [1, 2]


def test_replay_cursor_starts_at_oldest_retained_of_any_topic():
    bus = tw.InMemoryPubSub()
    empty_replay = bus.subscribe("a", replay_from_beginning=True)
    publish_all(bus, ["b", "a", "b", "a"])
    assert offsets(bus.poll(empty_replay.name)) == [1, 3]
    replay = bus.subscribe("a", replay_from_beginning=True)
    fresh = bus.subscribe("a")
    bus.publish("a", b"x")
    assert offsets(bus.poll(replay.name)) == [1, 3, 4]
    assert offsets(bus.poll(fresh.name)) == [4]
    assert bus.poll(replay.name) == []


def test_poll_in_batches_and_wildcard():
    bus = tw.InMemoryPubSub()
    star = bus.subscribe("*", name="all")
    only_b = bus.subscribe("b")
    publish_all(bus, ["a", "b", "c", "b"])
    got = [offsets(bus.poll("all", max_messages=1)) for _ in range(5)]
    assert got == [[0], [1], [2], [3], []]
    assert offsets(bus.poll(only_b.name, max_messages=5)) == [1, 3]
    assert star.topic == "*"
    messages = publish_all(bus, ["z"])
    assert messages[0].delivered_to == ["all"]


def test_non_matching_messages_do_not_move_the_cursor():
    bus = tw.InMemoryPubSub(retained_messages=3)
    sub = bus.subscribe("a")
    publish_all(bus, ["a", "b", "b"])
    assert offsets(bus.poll(sub.name, max_messages=1)) == [0]
    publish_all(bus, ["a"])
    assert offsets(bus.poll(sub.name)) == [3]


def test_generated_names_skip_taken_numbers():
    bus = tw.InMemoryPubSub()
    assert bus.subscribe("t").name == "subscription-1"
    assert bus.subscribe("t").name == "subscription-2"
    bus.subscribe("t", name="subscription-3")
    with pytest.raises(ValueError, match="^duplicate subscription name: subscription-3$"):
        bus.subscribe("t")
    assert bus.subscriber_count == 3
    assert bus.subscribe("t").name == "subscription-4"


def test_delivered_to_in_name_byte_order():
    bus = tw.InMemoryPubSub()
    for name in ["b", "a", "B", "ab", "é"]:
        bus.subscribe("*" if name != "ab" else "t", name=name)
    bus.subscribe("other", name="0")
    delivery = bus.publish("t", b"x")
    assert delivery.delivered_to == ["B", "a", "ab", "b", "é"]
    assert delivery.subscriber_count == 5
    first = delivery.delivered_to
    first.clear()
    assert delivery.delivered_to == ["B", "a", "ab", "b", "é"]


def test_unsubscribe():
    bus = tw.InMemoryPubSub()
    bus.subscribe("t", name="s")
    assert bus.unsubscribe("nobody") is False
    assert bus.unsubscribe("s") is True
    assert bus.subscriber_count == 0
    with pytest.raises(ValueError, match="^unknown subscription: s$"):
        bus.poll("s")


def test_failed_publish_consumes_no_offset():
    bus = tw.InMemoryPubSub()
    bus.publish("a", b"x")
    for topic, payload in [("a", b""), (" \t", b"x")]:
        with pytest.raises(ValueError):
            bus.publish(topic, payload)
    assert bus.publish("a", b"x").offset == 1
    assert bus.message_count == 2


def test_latest_and_literal_star_topic():
    bus = tw.InMemoryPubSub()
    star = bus.subscribe("*")
    exact = bus.subscribe("a")
    assert bus.latest() is None
    publish_all(bus, ["a", "*", "b"])
    assert bus.latest().offset == 2
    assert bus.latest("*").offset == 2
    assert bus.latest("a").offset == 0
    assert bus.latest("nobody") is None
    assert bus.latest(None).offset == 2
    assert offsets(bus.poll(star.name)) == [0, 1, 2]
    assert offsets(bus.poll(exact.name)) == [0]


def test_topics_are_stored_untrimmed():
    bus = tw.InMemoryPubSub()
    publish_all(bus, [" a", "a"])
    assert bus.latest(" a").offset == 0
    assert bus.latest("a").offset == 1


def test_topic_offsets_in_topic_order():
    bus = tw.InMemoryPubSub(retained_messages=3)
    publish_all(bus, ["gone", "b", "a", "b"])
    result = bus.topic_offsets()
    assert list(result.items()) == [("a", 2), ("b", 3)]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda b: b.publish("  ", b"x"), "pubsub topic must be a non-empty string"),
        (lambda b: b.publish("t", []), "pubsub payload must be non-empty bytes"),
        (lambda b: b.subscribe("\u3000"), "pubsub topic must be a non-empty string"),
        (
            lambda b: b.subscribe("t", name=" "),
            "pubsub subscription name must be a non-empty string",
        ),
        (lambda b: b.subscribe("t", name="s"), "duplicate subscription name: s"),
        (lambda b: b.poll(""), "pubsub subscription name must be a non-empty string"),
        (lambda b: b.poll("nope"), "unknown subscription: nope"),
        (lambda b: b.poll("s", max_messages=0), "max_messages must be positive when provided"),
        (lambda b: b.unsubscribe("\n"), "pubsub subscription name must be a non-empty string"),
        (lambda b: b.latest("  "), "pubsub topic must be a non-empty string"),
    ],
)
def test_value_errors_leave_the_bus_unchanged(call, message):
    bus = tw.InMemoryPubSub()
    bus.subscribe("t", name="s")
    bus.publish("t", b"x")
    with pytest.raises(ValueError) as err:
        call(bus)
    assert str(err.value) == message
    assert (bus.message_count, bus.subscriber_count) == (1, 1)
    assert offsets(bus.poll("s")) == [0]
    assert bus.publish("t", b"y").offset == 1


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda b: b.publish("t", "text"), TypeError, "argument 'payload': "),
        (lambda b: b.publish(1, b"x"), TypeError, "argument 'topic': "),
        (lambda b: b.publish("t", [1, 256]), OverflowError, ""),
        (lambda b: b.subscribe("t", replay_from_beginning=1), TypeError,
         "argument 'replay_from_beginning': "),
        (lambda b: b.poll(b.subscribe("t")), TypeError, "argument 'subscription': "),
        (lambda b: b.poll("s", max_messages=-1), OverflowError, ""),
        (lambda b: b.poll("s", max_messages=1.0), TypeError, "argument 'max_messages': "),
        (lambda b: b.poll("s", 1), TypeError, "positional"),
        (lambda b: b.latest(topic=3), TypeError, "argument 'topic': "),
    ],
)
def test_argument_conversion_errors(call, error, text):
    bus = tw.InMemoryPubSub()
    bus.subscribe("t", name="s")
    with pytest.raises(error) as err:
        call(bus)
    assert text in str(err.value)


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"retained_messages": 0}, ValueError, "retained_messages must be positive"),
        ({"retained_messages": -1}, OverflowError, None),
        ({"retained_messages": "1"}, TypeError, "argument 'retained_messages': "),
    ],
)
def test_bus_constructor_errors(kwargs, error, message):
    with pytest.raises(error) as err:
        tw.InMemoryPubSub(**kwargs)
    if message:
        assert str(err.value).startswith(message)


def test_bus_constructor_is_keyword_only():
    with pytest.raises(TypeError):
        tw.InMemoryPubSub(5)
    assert tw.InMemoryPubSub(retained_messages=True).retained_messages == 1


def test_message_value_class():
    msg = tw.PubSubMessage('q"t\n', [1, 2, 3], 2**64 - 1)
    assert (msg.topic, msg.payload, msg.offset) == ('q"t\n', b"\x01\x02\x03", 2**64 - 1)
    assert repr(msg) == (
        'PubSubMessage(topic="q\\"t\\n", offset=18446744073709551615, payload_len=3)'
    )
    assert tw.PubSubMessage("t", bytearray(b"ab")).offset == 0


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((" ", b""), ValueError, "pubsub topic must be a non-empty string"),
        (("t", b""), ValueError, "pubsub payload must be non-empty bytes"),
        (("t", "x"), TypeError, "argument 'payload': a str cannot be taken as bytes"),
        (("t", b"x", -1), OverflowError, None),
        ((None, b"x"), TypeError, "argument 'topic': expected str, got NoneType"),
    ],
)
def test_message_constructor_errors(args, error, message):
    with pytest.raises(error) as err:
        tw.PubSubMessage(*args)
    if message:
        assert str(err.value) == message


def test_subscription_and_delivery_reprs():
    bus = tw.InMemoryPubSub()
    sub = bus.subscribe("t\x01", name="n\\")
    assert repr(sub) == 'PubSubSubscription(name="n\\\\", topic="t\\u{1}")'
    assert (sub.name, sub.topic) == ("n\\", "t\x01")
    delivery = bus.publish("t\x01", b"x")
    assert repr(delivery) == 'PubSubDelivery(topic="t\\u{1}", offset=0, subscriber_count=1)'
    for cls in (tw.PubSubSubscription, tw.PubSubDelivery):
        with pytest.raises(TypeError):
            cls()


def test_polled_messages_are_copies():
    bus = tw.InMemoryPubSub(retained_messages=1)
    sub = bus.subscribe("t", replay_from_beginning=True)
    bus.publish("t", b"first")
    polled = bus.poll(sub.name)
    publish_all(bus, ["t"] * 3, payload=b"later")
    assert polled[0].payload == b"first"
    assert bus.latest().payload == b"later"


def test_bus_leaks(no_leak):
    bus = tw.InMemoryPubSub(retained_messages=8)
    sub = bus.subscribe("*", name="s")
    no_leak(lambda: tw.InMemoryPubSub(retained_messages=4))
    no_leak(lambda: (bus.publish("t", b"payload"), bus.poll("s")))
    no_leak(lambda: (bus.publish("t", [1, 2]).delivered_to, bus.latest("t").payload))
    no_leak(lambda: (bus.topic_offsets(), bus.message_count, bus.subscriber_count))
    no_leak(lambda: (bus.subscribe("x", name="tmp"), bus.unsubscribe("tmp")))
    no_leak(lambda: bus.subscribe("x"), calls=2000)
    no_leak(lambda: (repr(sub), sub.name, repr(bus.latest())))
    no_leak(lambda: bus.publish("t", b""), error=ValueError)
    no_leak(lambda: bus.publish("t", "s"), error=TypeError)
    no_leak(lambda: bus.poll("missing"), error=ValueError)
    no_leak(lambda: bus.subscribe("t", name="s"), error=ValueError)


def test_message_leaks(no_leak):
    no_leak(lambda: tw.PubSubMessage("topic", b"payload" * 10, 7).payload)
    no_leak(lambda: repr(tw.PubSubMessage("topic", [1, 2], 7)))
    no_leak(lambda: tw.PubSubMessage(" ", b"x"), error=ValueError)
    no_leak(lambda: tw.PubSubMessage("t", "x"), error=TypeError)
