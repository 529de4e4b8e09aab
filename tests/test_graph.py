"""Graph: port registry, emission, reading, ports and the bad-input rules."""

import pytest
from conftest import make_route

import tarnwick as tw

DISPLAY = "read.raw.imu.accel.x.payload.v1"


@pytest.fixture
def graph():
    return tw.Graph()


def registered(graph):
    return [s.route_display for s in graph.retention_snapshot()]


def state_of(graph, route):
    """Everything Python can see of a route, to show that a call changed nothing."""
    snapshot = graph.retention_snapshot(route)[0]
    latest = graph.latest(route)
    return (
        registered(graph),
        snapshot.latest_seq_source,
        snapshot.replay_count,
        snapshot.payload_count,
        latest.payload_id if latest else None,
        graph.retention_violations(),
    )


class TestEmit:
    def test_numbering_identifiers_and_registration(self, graph, route):
        assert registered(graph) == []
        first = graph.emit(route, b"one")
        assert len(first) == 1
        assert registered(graph) == [DISPLAY]
        second = graph.emit(route, b"two")[0]
        assert (first[0].seq_source, second.seq_source) == (1, 2)
        assert first[0].payload_id == DISPLAY + ":00000000000000000001"
        assert second.payload_id == DISPLAY + ":00000000000000000002"
        assert graph.payload_by_id(first[0].payload_id) == b"one"
        assert graph.payload_by_id(second.payload_id) == b"two"

    def test_routes_are_numbered_apart(self, graph):
        a, b = make_route(stream="a"), make_route(stream="b")
        graph.emit(a, b"")
        graph.emit(a, b"")
        assert graph.emit(b, b"")[0].seq_source == 1
        assert graph.emit(a, b"")[0].seq_source == 3

    @pytest.mark.parametrize(
        "plane,layer,variant,epoch,expected",
        [
            (
                tw.Plane.Write,
                tw.Layer.Logical,
                tw.Variant.Request,
                5,
                [
                    (tw.TaintDomain.Coherence, "COHERENCE_WRITE_PENDING"),
                    (tw.TaintDomain.Scheduling, "SCHED_READY"),
                ],
            ),
            (
                tw.Plane.Write,
                tw.Layer.Logical,
                tw.Variant.Request,
                None,
                [(tw.TaintDomain.Coherence, "COHERENCE_WRITE_PENDING")],
            ),
            (
                tw.Plane.Write,
                tw.Layer.Ephemeral,
                tw.Variant.Request,
                0,
                [
                    (tw.TaintDomain.Coherence, "COHERENCE_WRITE_PENDING"),
                    (tw.TaintDomain.Determinism, "DET_NONREPLAYABLE"),
                    (tw.TaintDomain.Scheduling, "SCHED_READY"),
                ],
            ),
            (
                tw.Plane.Read,
                tw.Layer.Ephemeral,
                tw.Variant.Payload,
                None,
                [(tw.TaintDomain.Determinism, "DET_NONREPLAYABLE")],
            ),
            (tw.Plane.Write, tw.Layer.Shadow, tw.Variant.Desired, None, []),
            (tw.Plane.Read, tw.Layer.Raw, tw.Variant.Payload, None, []),
        ],
    )
    def test_taints(self, graph, plane, layer, variant, epoch, expected):
        route = make_route(plane=plane, layer=layer, variant=variant)
        envelope = graph.emit(route, b"x", control_epoch=epoch)[0]
        assert [(t.domain, t.value_id) for t in envelope.taints] == expected
        assert {t.origin_id for t in envelope.taints} <= {route.display()}
        assert envelope.control_epoch == epoch

    def test_producer(self, graph, route):
        default = graph.emit(route, b"x", None, None)[0].producer
        assert (default.producer_id, default.kind) == ("python", tw.ProducerKind.Application)
        named = graph.emit(route, b"x", tw.ProducerRef("dev", tw.ProducerKind.Device))[0]
        assert (named.producer.producer_id, named.producer.kind) == ("dev", tw.ProducerKind.Device)

    @pytest.mark.parametrize(
        "payload,stored",
        [(b"", b""), (bytearray(b"ab"), b"ab"), ([1, 2, 3], b"\x01\x02\x03"), ((255,), b"\xff")],
    )
    def test_payload_forms(self, graph, route, payload, stored):
        envelope = graph.emit(route, payload)[0]
        assert envelope.payload_ref.logical_length_bytes == len(stored)
        assert graph.payload_by_id(envelope.payload_id) == stored

    def test_emit_single_if_unrouted_writes_on_unrouted_routes(self, graph, route):
        envelope = graph.emit_single_if_unrouted(route, b"x", control_epoch=2)
        assert isinstance(envelope, tw.ClosedEnvelope)
        assert (envelope.seq_source, envelope.control_epoch) == (1, 2)
        assert graph.latest(route).payload_id == envelope.payload_id
        assert graph.emit_single_if_unrouted(route, b"y").seq_source == 2

    def test_routes_with_equal_display_keep_their_bodies_apart(self, graph):
        a = make_route(schema_id="one")
        b = make_route(schema_id="two")
        assert a.display() == b.display() and a != b
        ea = graph.emit(a, b"from a")[0]
        eb = graph.emit(b, b"from b")[0]
        assert ea.payload_id == eb.payload_id
        # The identifier answers with the most recent write that produced it...
        assert graph.payload_by_id(ea.payload_id) == b"from b"
        graph.emit(a, b"a again")
        assert graph.payload_by_id(ea.payload_id) == b"from b"
        # ...while each route still opens its own body.
        assert graph.read(a).open()[0].payload == b"a again"
        assert graph.read(b).open()[0].payload == b"from b"
        assert graph.retention_violations() == []


class TestReading:
    def test_latest_and_payload_by_id(self, graph, route):
        assert graph.latest(route) is None
        graph.emit(route, b"first")
        second = graph.emit(route, b"second")[0]
        for latest in (graph.latest(route), graph.read(route).latest()):
            assert latest.seq_source == 2 and latest.payload_id == second.payload_id
        assert graph.payload_by_id(second.payload_id) == b"second"

    @pytest.mark.parametrize(
        "payload_id",
        [
            "unknown",
            DISPLAY + ":1",
            DISPLAY + ":00000000000000000009",
            ":00000000000000000001",
            DISPLAY + ":99999999999999999999",
            DISPLAY + ":0000000000000000000x",
        ],
    )
    def test_payload_by_id_unknown(self, graph, route, payload_id):
        graph.emit(route, b"x")
        assert graph.payload_by_id(payload_id) is None

    def test_latest_does_not_register(self, graph, route):
        assert graph.latest(route) is None
        assert graph.read(make_route(stream="other")).latest() is None
        assert registered(graph) == [make_route(stream="other").display()]

    def test_readable_port(self, graph, route):
        port = graph.read(route)
        assert registered(graph) == [DISPLAY]
        assert (port.meta(), port.latest(), port.open()) == ([], None, [])
        graph.emit(route, b"body")
        (meta,) = port.meta()
        assert meta.seq_source == 1
        (opened,) = port.open()
        assert opened.payload == b"body" and opened.closed.seq_source == 1

    def test_describe(self, graph, route):
        described = graph.read(route).describe()
        assert (
            described.route_display,
            described.human_description,
            described.backpressure_policy,
            described.payload_open_policy,
            described.debug_enabled,
        ) == (DISPLAY, "Tarnwick port for " + DISPLAY, "propagate", "lazy", True)
        bulk = graph.writable_port(make_route(layer=tw.Layer.Bulk)).describe()
        assert bulk.payload_open_policy == "lazy_external"
        internal = graph.read(
            make_route(
                plane=tw.Plane.Query, layer=tw.Layer.Internal, variant=tw.Variant.QueryRequest
            )
        ).describe()
        assert internal.payload_open_policy == "owner_only"

    def test_writable_port(self, graph, route):
        port = graph.writable_port(route)
        assert registered(graph) == [DISPLAY]
        written = port.write(b"w", tw.ProducerRef("dev", tw.ProducerKind.Device), 4)
        assert (written.seq_source, written.control_epoch, written.producer.producer_id) == (
            1,
            4,
            "dev",
        )
        assert port.write([7]).seq_source == 2
        assert graph.payload_by_id(graph.latest(route).payload_id) == b"\x07"

    def test_ports_keep_the_graph_alive(self, route):
        graph = tw.Graph()
        reader, writer = graph.read(route), graph.writable_port(route)
        del graph
        writer.write(b"still here")
        assert reader.open()[0].payload == b"still here"


class TestRegistration:
    def test_register_port_is_idempotent(self, graph, route):
        first = graph.register_port(route)
        assert first == route and first is not route
        assert graph.register_port(route) == route
        assert registered(graph) == [DISPLAY]
        assert graph.retention_snapshot(route)[0].history_limit == 8

    def test_registration_keeps_a_configured_policy(self, graph, route):
        graph.configure_retention(route, "latest_only", "memory", "latest", "separate_store")
        graph.register_port(route)
        graph.read(route)
        graph.emit(route, b"1")
        graph.emit(route, b"2")
        snapshot = graph.retention_snapshot(route)[0]
        assert (snapshot.history_limit, snapshot.replay_count) == (1, 1)

    def test_listing_is_sorted_by_display(self, graph):
        names = ["zeta", "alpha", "mid"]
        for owner in names:
            graph.register_port(make_route(owner=owner))
        assert registered(graph) == sorted(make_route(owner=o).display() for o in names)


class TestBadInput:
    @pytest.mark.parametrize(
        "call,error,message",
        [
            (lambda g, r: g.emit("route", b"x"), TypeError, "argument 'route': "),
            (lambda g, r: g.emit(r, "text"), TypeError, "argument 'payload': "),
            (lambda g, r: g.emit(r, [256]), OverflowError, None),
            (lambda g, r: g.emit(r, b"x", "python"), TypeError, "argument 'producer': "),
            (
                lambda g, r: g.emit(r, b"x", None, False),
                ValueError,
                "control_epoch must be a non-negative integer or None",
            ),
            (
                lambda g, r: g.emit(r, b"x", control_epoch=-1),
                ValueError,
                "control_epoch must be a non-negative integer or None",
            ),
            (
                lambda g, r: g.emit(r, b"x", control_epoch=2**64),
                ValueError,
                "control_epoch must be a non-negative integer or None",
            ),
            (
                lambda g, r: g.emit(r, b"x", control_epoch=1.0),
                ValueError,
                "control_epoch must be a non-negative integer or None",
            ),
            # The payload converts before the epoch is looked at.
            (lambda g, r: g.emit(r, "text", control_epoch=True), TypeError, "argument 'payload': "),
            (lambda g, r: g.emit_single_if_unrouted(r, "text"), TypeError, "argument 'payload': "),
            (
                lambda g, r: g.emit_single_if_unrouted(r, b"", control_epoch=True),
                ValueError,
                "control_epoch must be a non-negative integer or None",
            ),
            (lambda g, r: g.emit(r), TypeError, None),
            (lambda g, r: g.emit(r, b"x", unknown=1), TypeError, None),
            (
                lambda g, r: g.payload_by_id("  "),
                ValueError,
                "payload_id must be a non-empty string",
            ),
            (lambda g, r: g.payload_by_id(b"id"), TypeError, "argument 'payload_id': "),
            (lambda g, r: g.register_port(r.display()), TypeError, "argument 'route': "),
            (lambda g, r: g.read(None), TypeError, "argument 'route': "),
            (lambda g, r: g.writable_port(1), TypeError, "argument 'route': "),
            (lambda g, r: g.latest("r"), TypeError, "argument 'route': "),
            (lambda g, r: g.writable_port(r).write("s"), TypeError, "argument 'payload': "),
            (
                lambda g, r: g.writable_port(r).write(b"", control_epoch=True),
                ValueError,
                "control_epoch must be a non-negative integer or None",
            ),
        ],
    )
    def test_errors_leave_the_graph_unchanged(self, graph, route, call, error, message):
        graph.emit(route, b"before")
        before = state_of(graph, route)
        with pytest.raises(error) as info:
            call(graph, route)
        if message is not None:
            text = str(info.value)
            assert text.startswith(message) if message.endswith(": ") else text == message
        assert state_of(graph, route) == before

    def test_nothing_registered_by_a_failed_first_emit(self, graph, route):
        with pytest.raises(TypeError):
            graph.emit(route, "text")
        with pytest.raises(ValueError):
            graph.emit_single_if_unrouted(route, b"", control_epoch=False)
        assert registered(graph) == []


class TestLeaks:
    def test_graph_methods(self, no_leak, route):
        graph = tw.Graph()
        producer = tw.ProducerRef("dev", tw.ProducerKind.Device)
        no_leak(lambda: graph.emit(route, b"x" * 64, producer, 7))
        no_leak(lambda: graph.emit_single_if_unrouted(route, [1, 2]))
        no_leak(
            lambda: (
                graph.register_port(route),
                graph.latest(route),
                graph.payload_by_id(graph.latest(route).payload_id),
                graph.payload_by_id("unknown"),
            )
        )
        no_leak(lambda: tw.Graph().emit(make_route(), b"gone with the graph"))

    def test_ports(self, no_leak, route):
        graph = tw.Graph()
        no_leak(
            lambda: (
                graph.read(route).open(),
                graph.read(route).meta(),
                graph.writable_port(route).write(b"w").payload_id,
                graph.read(route).describe().human_description,
            )
        )

    def test_error_paths(self, no_leak, route):
        graph = tw.Graph()
        no_leak(lambda: graph.emit(route, "text"), error=TypeError)
        no_leak(lambda: graph.emit(route, b"", control_epoch=-1), error=ValueError)
        no_leak(lambda: graph.payload_by_id(" "), error=ValueError)
        no_leak(lambda: graph.latest(None), error=TypeError)
