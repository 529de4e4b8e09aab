"""Reference values: schemas, producers, runtimes, clock domains, taints, guards."""

import pytest
from conftest import make_route

import tarnwick as tw


@pytest.mark.parametrize("version", [0, True, False, -1, 4294967296, 1.0, "1", None])
def test_schema_version_must_be_positive_u32(version):
    with pytest.raises(ValueError) as e:
        tw.SchemaRef("s", version)
    assert str(e.value) == "schema version must be a positive integer"


def test_schema_checks_order_and_bounds():
    assert tw.SchemaRef("s", 4294967295).version == 4294967295
    # The version is checked before the blank id; the id's type before both.
    with pytest.raises(ValueError, match="^schema version must be a positive integer$"):
        tw.SchemaRef(" ", 0)
    with pytest.raises(ValueError, match="^schema_id must be a non-empty string$"):
        tw.SchemaRef(" ", 1)
    with pytest.raises(TypeError, match="^argument 'schema_id': "):
        tw.SchemaRef(5, 0)
    a, b = tw.SchemaRef("s", 2), tw.SchemaRef("s", 2)
    assert (a.schema_id, a.version) == ("s", 2)
    assert a != b  # identity equality ...
    assert make_route(schema_id="s", version=2) == make_route(
        schema_id="s", version=2
    )  # ... unlike routes


def test_producer_ref():
    p = tw.ProducerRef("arm", tw.ProducerKind.ControlLoop)
    assert p.producer_id == "arm" and p.kind == tw.ProducerKind.ControlLoop
    assert repr(p.kind) == "ProducerKind.CONTROL_LOOP"
    with pytest.raises(ValueError, match="^producer_id must be a non-empty string$"):
        tw.ProducerRef(" ", tw.ProducerKind.Device)
    with pytest.raises(TypeError, match="^argument 'kind': "):
        tw.ProducerRef("arm", "device")
    with pytest.raises(TypeError, match="^argument 'producer_id': "):
        tw.ProducerRef(None, "device")  # converted in parameter order


@pytest.mark.parametrize(
    "cls,label",
    [(tw.RuntimeRef, "runtime_id"), (tw.ClockDomainRef, "clock_domain_id")],
)
def test_single_text_refs(cls, label):
    assert getattr(cls("x "), label) == "x "
    with pytest.raises(ValueError) as e:
        cls("\u2000\u200a")
    assert str(e.value) == f"{label} must be a non-empty string"
    with pytest.raises(TypeError, match=f"^argument '{label}': "):
        cls(b"x")
    assert getattr(cls(**{label: "k"}), label) == "k"


def test_taint_mark():
    t = tw.TaintMark(tw.TaintDomain.Scheduling, "SCHED_READY", "write.raw.a.b.c.request.v1")
    assert t.domain == tw.TaintDomain.Scheduling and t.domain is not tw.TaintDomain.Scheduling
    assert (t.value_id, t.origin_id) == ("SCHED_READY", "write.raw.a.b.c.request.v1")
    with pytest.raises(ValueError, match="^value_id must be a non-empty string$"):
        tw.TaintMark(tw.TaintDomain.Time, "", "")
    with pytest.raises(ValueError, match="^origin_id must be a non-empty string$"):
        tw.TaintMark(tw.TaintDomain.Time, "v", " ")
    with pytest.raises(TypeError, match="^argument 'origin_id': "):
        tw.TaintMark(tw.TaintDomain.Time, "", 3)  # all conversions precede the blank checks


def test_schedule_guards(route):
    assert tw.ScheduleGuard.wait_for_ack(route).expires_at_epoch is None
    assert tw.ScheduleGuard.wait_for_ack(route=route).expires_at_epoch is None
    for epoch in (0, 7, 2**64 - 1):
        assert tw.ScheduleGuard.not_before_epoch(epoch).expires_at_epoch is None
    with pytest.raises(TypeError, match="^argument 'route': "):
        tw.ScheduleGuard.wait_for_ack(route.display())
    with pytest.raises(TypeError):
        tw.ScheduleGuard()


@pytest.mark.parametrize("epoch", [True, False, -1, 2**64, 1.5, "3", None])
def test_guard_epoch_must_be_nonbool_u64(epoch):
    with pytest.raises(ValueError) as e:
        tw.ScheduleGuard.not_before_epoch(epoch)
    assert str(e.value) == "epoch must be a non-negative integer"
    assert e.value.__cause__ is None and e.value.__context__ is None


def test_reference_value_leaks(no_leak, route):
    kind = tw.ProducerKind.Device
    p = tw.ProducerRef("p", kind)
    t = tw.TaintMark(tw.TaintDomain.Trust, "v", "o")
    g = tw.ScheduleGuard.wait_for_ack(route)
    no_leak(
        lambda: (
            tw.SchemaRef("s", 3).version,
            tw.ProducerRef("p", kind).kind,
            tw.RuntimeRef("r").runtime_id,
            tw.ClockDomainRef("c").clock_domain_id,
            tw.TaintMark(tw.TaintDomain.Time, "v", "o").domain,
            tw.ScheduleGuard.not_before_epoch(5).expires_at_epoch,
            tw.ScheduleGuard.wait_for_ack(route),
            p.producer_id,
            t.value_id,
            t.origin_id,
            g.expires_at_epoch,
        )
    )
    no_leak(lambda: tw.SchemaRef("s", 0), error=ValueError)
    no_leak(lambda: tw.SchemaRef(1, 1), error=TypeError)
    no_leak(lambda: tw.ProducerRef("p", "device"), error=TypeError)
    no_leak(lambda: tw.TaintMark(tw.TaintDomain.Time, "v", ""), error=ValueError)
    no_leak(lambda: tw.ScheduleGuard.not_before_epoch(-1), error=ValueError)
    no_leak(lambda: tw.ScheduleGuard.wait_for_ack(1), error=TypeError)
