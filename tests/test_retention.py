"""Retention: default policies, configuration, trimming, bodies and the views."""

import pytest
from conftest import make_route

import tarnwick as tw


@pytest.fixture
def graph():
    return tw.Graph()


def emit_many(graph, route, count, start=0):
    return [graph.emit(route, b"p%d" % i)[0] for i in range(start, start + count)]


def snapshot(graph, route):
    (only,) = graph.retention_snapshot(route)
    return only


def stored(graph, envelopes):
    return [graph.payload_by_id(e.payload_id) is not None for e in envelopes]


class TestDefaults:
    @pytest.mark.parametrize(
        "layer,plane,variant,limit,kept",
        [
            (tw.Layer.Raw, tw.Plane.Read, tw.Variant.Payload, 8, 8),
            (tw.Layer.Logical, tw.Plane.State, tw.Variant.State, 8, 8),
            (tw.Layer.Shadow, tw.Plane.Write, tw.Variant.Desired, 8, 8),
            (tw.Layer.Bulk, tw.Plane.Read, tw.Variant.Payload, 8, 8),
            (tw.Layer.Internal, tw.Plane.Read, tw.Variant.Meta, 1, 1),
            (tw.Layer.Ephemeral, tw.Plane.Read, tw.Variant.Payload, 0, 0),
        ],
    )
    def test_layer_defaults(self, graph, layer, plane, variant, limit, kept):
        route = make_route(plane=plane, layer=layer, variant=variant)
        assert snapshot(graph, route).history_limit == limit  # before registration too
        envelopes = emit_many(graph, route, 12)
        s = snapshot(graph, route)
        assert (s.history_limit, s.replay_count, s.latest_seq_source) == (limit, kept, 12)
        # The latest body stays whatever the history holds.
        assert s.payload_count == max(kept, 1) == graph.retained_payload_count(route)
        assert stored(graph, envelopes) == [False] * (12 - max(kept, 1)) + [True] * max(kept, 1)
        assert graph.retention_violations() == []

    def test_ninth_emit_releases_the_first_body(self, graph, route):
        envelopes = emit_many(graph, route, 8)
        assert all(stored(graph, envelopes))
        envelopes += emit_many(graph, route, 1, start=8)
        assert stored(graph, envelopes) == [False] + [True] * 8


class TestConfigure:
    def test_bounded_history_defaults_to_eight(self, graph, route):
        graph.configure_retention(route, "bounded_history", "memory", "w", "separate_store")
        assert snapshot(graph, route).history_limit == 8
        emit_many(graph, route, 10)
        assert snapshot(graph, route).replay_count == 8

    def test_trimming_order_judges_the_displaced_envelope_after_trimming(self, graph, route):
        graph.configure_retention(route, "bounded_history", "memory", "w", "s", history_limit=2)
        first, second = emit_many(graph, route, 2)
        assert stored(graph, [first, second]) == [True, True]
        third = emit_many(graph, route, 1, start=2)[0]
        # The first leaves with the trim; the displaced second is still in the history.
        assert stored(graph, [first, second, third]) == [False, True, True]
        assert snapshot(graph, route).replay_count == 2

    def test_tighter_policy_trims_at_once(self, graph, route):
        envelopes = emit_many(graph, route, 5)
        graph.configure_retention(route, "latest_only", "memory", "latest", "separate_store")
        s = snapshot(graph, route)
        assert (s.history_limit, s.replay_count, s.payload_count) == (1, 1, 1)
        assert stored(graph, envelopes) == [False] * 4 + [True]
        assert graph.retention_violations() == []

    def test_looser_policy_keeps_what_is_there(self, graph, route):
        graph.configure_retention(route, "bounded_history", "m", "w", "s", 2)
        emit_many(graph, route, 4)
        graph.configure_retention(route, "bounded_history", "m", "w", "s", 5)
        assert snapshot(graph, route).replay_count == 2
        emit_many(graph, route, 5)
        assert snapshot(graph, route).replay_count == 5

    def test_none_keeps_only_the_latest_body(self, graph, route):
        graph.configure_retention(route, "none", "memory", "none", "non_replayable")
        envelopes = emit_many(graph, route, 3)
        s = snapshot(graph, route)
        assert (s.history_limit, s.replay_count, s.payload_count, s.latest_seq_source) == (
            0,
            0,
            1,
            3,
        )
        assert stored(graph, envelopes) == [False, False, True]
        assert graph.read(route).open()[0].payload == b"p2"

    @pytest.mark.parametrize("policy", [" none", "Latest_only", "unbounded"])
    def test_unknown_policy_text_is_unbounded(self, graph, route, policy):
        graph.configure_retention(route, policy, "memory", "all", "separate_store", 3)
        emit_many(graph, route, 20)
        s = snapshot(graph, route)
        assert (s.history_limit, s.replay_count, s.payload_count) == (None, 20, 20)

    def test_configuring_registers_and_rewrites_the_descriptor(self, graph, route):
        graph.configure_retention(route, "latest_only", "disk", "latest", "store")
        assert [s.route_display for s in graph.retention_snapshot()] == [route.display()]
        # The five values Python sees are not retention values; they stay.
        assert graph.read(route).describe().payload_open_policy == "lazy"

    @pytest.mark.parametrize(
        "args,message",
        [
            ((" ", "d", "w", "p"), "latest_replay_policy must be a non-empty string"),
            (("l", "\u3000", "w", "p"), "durability_class must be a non-empty string"),
            (("l", "d", "\n", "p"), "replay_window must be a non-empty string"),
            (("l", "d", "w", ""), "payload_retention_policy must be a non-empty string"),
            (("", "", "", ""), "latest_replay_policy must be a non-empty string"),
        ],
    )
    def test_blank_texts(self, graph, route, args, message):
        with pytest.raises(ValueError) as info:
            graph.configure_retention(route, *args)
        assert str(info.value) == message
        assert graph.retention_snapshot() == []

    @pytest.mark.parametrize(
        "kwargs,error,prefix",
        [
            ({"route": "r"}, TypeError, "argument 'route': "),
            ({"durability_class": 1}, TypeError, "argument 'durability_class': "),
            ({"history_limit": "8"}, TypeError, "argument 'history_limit': "),
            ({"history_limit": -1}, OverflowError, ""),
            ({"history_limit": 2**64}, OverflowError, ""),
            # Conversion comes before the blank checks.
            ({"latest_replay_policy": " ", "history_limit": -1}, OverflowError, ""),
        ],
    )
    def test_wrong_types_change_nothing(self, graph, route, kwargs, error, prefix):
        emit_many(graph, route, 3)
        args = {
            "route": route,
            "latest_replay_policy": "latest_only",
            "durability_class": "d",
            "replay_window": "w",
            "payload_retention_policy": "p",
            **kwargs,
        }
        with pytest.raises(error) as info:
            graph.configure_retention(**args)
        assert str(info.value).startswith(prefix)
        s = snapshot(graph, route)
        assert (s.history_limit, s.replay_count) == (8, 3)


class TestViews:
    def test_fresh_graph(self, graph, route):
        assert graph.retention_snapshot() == []
        assert graph.retention_snapshot(None) == []
        assert graph.retained_payload_count(route) == 0
        assert graph.retention_violations() == []

    def test_unregistered_route_snapshot(self, graph):
        route = make_route(
            plane=tw.Plane.Write, layer=tw.Layer.Internal, variant=tw.Variant.Request
        )
        s = snapshot(graph, route)
        assert (
            s.latest_seq_source,
            s.history_limit,
            s.route_display,
            s.metadata_event_count,
            s.replay_count,
            s.payload_count,
            s.lineage_count,
            s.trace_index_count,
            s.causality_index_count,
            s.correlation_index_count,
        ) == (None, 1, route.display(), 0, 0, 0, 0, 0, 0, 0)
        assert graph.retention_snapshot() == []  # asking registers nothing

    def test_snapshot_fields_after_writes(self, graph, route):
        emit_many(graph, route, 11)
        s = snapshot(graph, route)
        assert (s.latest_seq_source, s.metadata_event_count, s.replay_count, s.payload_count) == (
            11,
            11,
            8,
            8,
        )

    def test_shared_identifier_counts_once(self, graph, route):
        # The latest envelope is also the newest history entry.
        emit_many(graph, route, 1)
        assert graph.retained_payload_count(route) == 1

    def test_opening_leaves_the_bookkeeping_consistent(self, graph, route):
        emit_many(graph, route, 3)
        graph.read(route).open()
        graph.read(route).open()
        emit_many(graph, route, 10, start=3)
        graph.emit(route, b"", tw.ProducerRef("other", tw.ProducerKind.Device))
        assert graph.retention_violations() == []


def test_no_leak(no_leak, route):
    graph = tw.Graph()
    emit_many(graph, route, 3)
    no_leak(lambda: graph.configure_retention(route, "bounded_history", "m", "w", "p", 4))
    no_leak(
        lambda: [
            (s.route_display, s.history_limit, s.latest_seq_source)
            for s in graph.retention_snapshot()
        ]
    )
    no_leak(
        lambda: (
            graph.retention_snapshot(route),
            graph.retained_payload_count(route),
            graph.retention_violations(),
        )
    )
    no_leak(lambda: graph.configure_retention(route, " ", "m", "w", "p"), error=ValueError)
    no_leak(lambda: graph.configure_retention(route, "l", "m", "w", "p", -1), error=OverflowError)
