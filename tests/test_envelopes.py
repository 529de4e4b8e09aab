"""Payload references, sealed and opened envelopes."""

import pytest

import tarnwick as tw


def taint(value_id="T1", domain=tw.TaintDomain.Trust):
    return tw.TaintMark(domain, value_id, "origin")


@pytest.fixture
def envelope(route):
    return tw.Graph().emit(route, b"body", control_epoch=3)[0]


class TestPayloadRef:
    def test_defaults(self):
        ref = tw.PayloadRef("p1")
        assert (ref.payload_id, ref.logical_length_bytes, ref.codec_id, ref.inline_bytes) == (
            "p1",
            0,
            "identity",
            b"",
        )

    def test_fields_are_stored_as_given(self):
        # The declared length is not tied to the inline bytes.
        ref = tw.PayloadRef(" p ", 10, "cbor", bytearray(b"abc"))
        assert (ref.payload_id, ref.logical_length_bytes, ref.codec_id, ref.inline_bytes) == (
            " p ",
            10,
            "cbor",
            b"abc",
        )
        assert tw.PayloadRef("p", inline_bytes=[1, 2, 3]).inline_bytes == b"\x01\x02\x03"
        assert tw.PayloadRef("p", 2**64 - 1).logical_length_bytes == 2**64 - 1

    @pytest.mark.parametrize(
        "args,kwargs,error,message",
        [
            (("  ",), {}, ValueError, "payload_id must be a non-empty string"),
            # The identifier is checked before the codec.
            (("", 0, " "), {}, ValueError, "payload_id must be a non-empty string"),
            (("p", 0, "\t"), {}, ValueError, "codec_id must be a non-empty string"),
            (("p", True), {}, ValueError, "logical_length_bytes must be a non-negative integer"),
            (("p", -1), {}, ValueError, "logical_length_bytes must be a non-negative integer"),
            (("p", 2**64), {}, ValueError, "logical_length_bytes must be a non-negative integer"),
            (("p", None), {}, ValueError, "logical_length_bytes must be a non-negative integer"),
            (("p", 1.0), {}, ValueError, "logical_length_bytes must be a non-negative integer"),
            ((1,), {}, TypeError, "argument 'payload_id': "),
            (("p",), {"codec_id": b"x"}, TypeError, "argument 'codec_id': "),
            (("p",), {"inline_bytes": "abc"}, TypeError, "argument 'inline_bytes': "),
            # Conversion runs before the blank checks, in parameter order.
            (("",), {"inline_bytes": "abc"}, TypeError, "argument 'inline_bytes': "),
        ],
    )
    def test_bad_arguments(self, args, kwargs, error, message):
        with pytest.raises(error) as info:
            tw.PayloadRef(*args, **kwargs)
        if message.endswith(": "):
            assert str(info.value).startswith(message)
        else:
            assert str(info.value) == message

    def test_no_leak(self, no_leak):
        no_leak(lambda: tw.PayloadRef("p", 3, "c", b"abc").inline_bytes)
        no_leak(lambda: tw.PayloadRef(" "), error=ValueError)
        no_leak(lambda: tw.PayloadRef("p", inline_bytes="s"), error=TypeError)


class TestClosedEnvelope:
    def test_cannot_be_constructed(self):
        with pytest.raises(TypeError):
            tw.ClosedEnvelope()
        with pytest.raises(TypeError):
            tw.OpenedEnvelope()

    def test_graph_envelope_fields(self, route, envelope):
        assert envelope.route == route and envelope.route is not envelope.route
        assert envelope.producer.producer_id == "python"
        assert envelope.producer.kind == tw.ProducerKind.Application
        assert envelope.emitter.runtime_id == "runtime:in_memory"
        assert envelope.seq_source == 1
        assert envelope.control_epoch == 3
        assert envelope.payload_id == "read.raw.imu.accel.x.payload.v1:00000000000000000001"
        assert envelope.has_inline_payload is False
        assert envelope.inline_payload == b""
        assert envelope.guards == []
        ref = envelope.payload_ref
        assert (ref.payload_id, ref.logical_length_bytes, ref.codec_id, ref.inline_bytes) == (
            envelope.payload_id,
            4,
            "identity",
            b"",
        )

    def test_with_taints_replaces_the_list(self, envelope):
        before = [(t.domain, t.value_id, t.origin_id) for t in envelope.taints]
        assert before == [
            (tw.TaintDomain.Scheduling, "SCHED_READY", "read.raw.imu.accel.x.payload.v1")
        ]
        replaced = envelope.with_taints((taint("A"), taint("B", tw.TaintDomain.Time)))
        assert [(t.domain, t.value_id) for t in replaced.taints] == [
            (tw.TaintDomain.Trust, "A"),
            (tw.TaintDomain.Time, "B"),
        ]
        assert envelope.with_taints([]).taints == []
        # The receiver keeps its own marks, and everything else is carried over.
        assert [(t.domain, t.value_id, t.origin_id) for t in envelope.taints] == before
        assert (replaced.seq_source, replaced.payload_id, replaced.control_epoch) == (
            envelope.seq_source,
            envelope.payload_id,
            envelope.control_epoch,
        )

    @pytest.mark.parametrize("bad", ["TT", [taint(), "x"], 5, [None]])
    def test_with_taints_refuses_non_marks(self, envelope, bad):
        with pytest.raises(TypeError, match=r"^argument 'taints': "):
            envelope.with_taints(bad)

    def test_close_gives_a_new_equal_envelope(self, envelope):
        closed = envelope.close()
        assert closed is not envelope
        assert closed != envelope  # identity equality, like every envelope
        assert (closed.seq_source, closed.payload_id, closed.route) == (
            envelope.seq_source,
            envelope.payload_id,
            envelope.route,
        )

    def test_envelope_outlives_its_graph(self, route):
        envelope = tw.Graph().emit(route, b"x")[0]
        assert envelope.route.display() == "read.raw.imu.accel.x.payload.v1"

    def test_no_leak(self, no_leak, envelope):
        no_leak(
            lambda: (
                envelope.route,
                envelope.producer,
                envelope.emitter,
                envelope.taints,
                envelope.payload_ref,
                envelope.inline_payload,
                envelope.guards,
            )
        )
        no_leak(lambda: envelope.with_taints([taint()]).close())
        no_leak(lambda: envelope.with_taints("x"), error=TypeError)


class TestOpenedEnvelope:
    def test_fields_and_close(self, route):
        graph = tw.Graph()
        written = graph.emit(route, b"\x00payload")[0]
        (opened,) = graph.read(route).open()
        assert opened.payload == b"\x00payload"
        for closed in (opened.closed, opened.close()):
            assert closed is not opened.closed
            assert (closed.seq_source, closed.payload_id) == (
                written.seq_source,
                written.payload_id,
            )

    def test_no_leak(self, no_leak, route):
        graph = tw.Graph()
        graph.emit(route, b"abc")
        port = graph.read(route)
        no_leak(lambda: [(o.payload, o.closed, o.close()) for o in port.open()])
