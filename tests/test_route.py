"""Route identity: enumerations, namespaces, routes, validity, display, equality, hash."""

import functools
import subprocess
import sys

import pytest
from conftest import make_route

import tarnwick as tw

ENUMS = {
    tw.Plane: ["read", "write", "state", "query", "debug"],
    tw.Layer: ["raw", "logical", "shadow", "bulk", "internal", "ephemeral"],
    tw.Variant: [
        "meta",
        "payload",
        "request",
        "desired",
        "reported",
        "effective",
        "ack",
        "state",
        "query_request",
        "query_response",
        "event",
        "health",
    ],
    tw.ProducerKind: [
        "device",
        "firmware_agent",
        "transform",
        "control_loop",
        "mailbox",
        "query_service",
        "application",
        "bridge",
        "reconciler",
        "lifecycle_service",
    ],
    tw.TaintDomain: [
        "time",
        "order",
        "delivery",
        "determinism",
        "scheduling",
        "trust",
        "coherence",
    ],
}


def member_attr(name):
    return "".join(part.capitalize() for part in name.split("_"))


@pytest.mark.parametrize("cls,names", ENUMS.items(), ids=[c.__name__ for c in ENUMS])
def test_enum_members_values_and_repr(cls, names):
    for name in names:
        member = getattr(cls, member_attr(name))
        assert member is getattr(cls, member_attr(name))
        assert member.value == name
        if cls is tw.TaintDomain:
            assert repr(member).startswith("<tarnwick._tarnwick_native.TaintDomain object at 0x")
        else:
            assert repr(member) == f"{cls.__name__}.{name.upper()}"
    members = [getattr(cls, member_attr(n)) for n in names]
    for i, a in enumerate(members):
        for j, b in enumerate(members):
            assert (a == b) is (i == j)
            assert (a != b) is (i != j)


def test_enum_comparison_rules():
    assert tw.Plane.Read == tw.Plane.Read
    assert not (tw.Plane.Read == tw.Layer.Raw)  # same code, other enumeration
    assert tw.Plane.Read != tw.Layer.Raw
    assert not (tw.Plane.Read == "read")
    assert tw.Plane.Read != 0
    for op in ("<", "<=", ">", ">="):
        with pytest.raises(TypeError):
            eval(f"tw.Plane.Read {op} tw.Plane.Write")
    with pytest.raises(TypeError):
        hash(tw.Plane.Read)
    with pytest.raises(TypeError):
        {tw.Variant.Meta}
    with pytest.raises(TypeError):
        tw.Plane()
    # Getters return new members equal to the class attributes.
    ns = tw.NamespaceRef(tw.Plane.Write, tw.Layer.Shadow, "valve")
    assert ns.plane == tw.Plane.Write and ns.plane is not tw.Plane.Write


def test_namespace_getters_and_repr():
    ns = tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, "imu")
    assert (ns.plane, ns.layer, ns.owner) == (tw.Plane.Read, tw.Layer.Raw, "imu")
    assert repr(ns) == "NamespaceRef(plane='read', layer='raw', owner='imu')"
    assert repr(tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, "it's")) == (
        "NamespaceRef(plane='read', layer='raw', owner='it's')"
    )
    assert ns != tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, "imu")  # identity equality


@pytest.mark.parametrize("owner", ["", "  ", "\t\n", "\u3000", "\u00a0\u2028", "\u205f\u1680"])
def test_namespace_blank_owner(owner):
    with pytest.raises(ValueError) as e:
        tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, owner)
    assert str(e.value) == "owner must be a non-empty string"


@pytest.mark.parametrize("owner", [" x ", "\u200b", "\u180e", "\ufeff", "\x1c"])
def test_namespace_owner_kept_as_given(owner):
    # Only the Unicode White_Space set counts as blank; zero-width and
    # separator controls outside it are ordinary characters.
    ns = tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, owner)
    assert ns.owner == owner


def test_route_display_repr_and_getters(route):
    assert route.display() == "read.raw.imu.accel.x.payload.v1"
    assert repr(route) == "RouteRef(read.raw.imu.accel.x.payload.v1)"
    assert route.namespace.owner == "imu" and route.namespace is not route.namespace
    assert (route.family, route.stream, route.variant) == ("accel", "x", tw.Variant.Payload)
    assert (route.schema.schema_id, route.schema.version) == ("imu.accel", 1)
    shadow = make_route(
        tw.Plane.Write, tw.Layer.Shadow, "valve7", "position", "main", tw.Variant.Desired, version=3
    )
    assert shadow.display() == "write.shadow.valve7.position.main.desired.v3"
    assert make_route(family=" a ").display() == "read.raw.imu. a .x.payload.v1"


VALID = {  # keyed by name: the members themselves are unhashable
    "Read": ["Meta", "Payload", "State", "Event", "Health"],
    "Write": ["Request", "Desired", "Reported", "Effective", "Ack"],
    "State": ["State"],
    "Query": ["QueryRequest", "QueryResponse"],
    "Debug": ["Meta", "Event", "Health"],
}
LAYERS = ["Raw", "Logical", "Shadow", "Bulk", "Internal", "Ephemeral"]


def expected_rule_error(plane, layer, variant):
    if variant not in VALID[plane]:
        v = getattr(tw.Variant, variant).value
        return f"variant {v} is not valid for plane {plane.lower()}"
    if plane == "Write" and variant == "Request" and layer == "Shadow":
        return "write request routes must not use the shadow layer"
    if plane != "Write" and layer == "Shadow":
        return "shadow routes are only valid under the write plane"
    return None


@pytest.mark.parametrize("plane", list(VALID))
def test_validity_rules_full_table(plane):
    for layer in LAYERS:
        for variant in ENUMS[tw.Variant]:
            attr = member_attr(variant)
            expected = expected_rule_error(plane, layer, attr)
            build = functools.partial(
                make_route,
                getattr(tw.Plane, plane),
                getattr(tw.Layer, layer),
                variant=getattr(tw.Variant, attr),
            )
            if expected is None:
                assert build().variant == getattr(tw.Variant, attr)
            else:
                with pytest.raises(ValueError) as e:
                    build()
                assert str(e.value) == expected


def test_rule_order_variant_before_layer():
    with pytest.raises(ValueError, match="^variant payload is not valid for plane query$"):
        make_route(tw.Plane.Query, tw.Layer.Shadow, variant=tw.Variant.Payload)


@pytest.mark.parametrize(
    "kwargs,message",
    [
        ({"family": "  "}, "family must be a non-empty string"),
        ({"stream": ""}, "stream must be a non-empty string"),
        # blank family is reported before the stream and before the rules
        (
            {"family": "", "stream": "", "variant": tw.Variant.Request},
            "family must be a non-empty string",
        ),
        ({"stream": "\n", "variant": tw.Variant.Request}, "stream must be a non-empty string"),
    ],
)
def test_route_blank_texts(kwargs, message):
    with pytest.raises(ValueError) as e:
        make_route(**kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize(
    "position,bad",
    [(0, "imu"), (1, 1), (2, None), (3, "payload"), (4, ("s", 1))],
)
def test_route_argument_types(position, bad):
    args = [
        tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, "imu"),
        "accel",
        "x",
        tw.Variant.Payload,
        tw.SchemaRef("s", 1),
    ]
    names = ["namespace", "family", "stream", "variant", "schema"]
    args[position] = bad
    with pytest.raises(TypeError) as e:
        tw.RouteRef(*args)
    assert str(e.value).startswith(f"argument '{names[position]}': ")
    assert isinstance(e.value.__cause__, TypeError)


def test_route_conversion_in_parameter_order():
    # The namespace is converted first, so its type error wins over a blank family.
    with pytest.raises(TypeError, match="^argument 'namespace'"):
        tw.RouteRef("ns", "", "x", tw.Variant.Payload, tw.SchemaRef("s", 1))
    # A wrong-typed schema is a conversion error, raised before the blank family check.
    with pytest.raises(TypeError, match="^argument 'schema'"):
        tw.RouteRef(
            tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, "imu"),
            "",
            "x",
            tw.Variant.Payload,
            "schema",
        )


def test_route_equality_and_hash():
    a, b = make_route(), make_route()
    assert a == b and not (a != b) and hash(a) == hash(b)
    assert len({a, b}) == 1 and {a: 1}[b] == 1
    other_schema = make_route(schema_id="other")
    assert other_schema.display() == a.display()
    assert other_schema != a and hash(other_schema) != hash(a)
    for field, value in [
        ("owner", "imu2"),
        ("family", "gyro"),
        ("stream", "y"),
        ("version", 2),
        ("layer", tw.Layer.Logical),
        ("variant", tw.Variant.Event),
    ]:
        changed = make_route(**{field: value})
        assert changed != a and hash(changed) != hash(a)
    assert not (a == a.display()) and a != a.display()
    assert (a == 5) is False and (a != None) is True  # noqa: E711


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_route_refuses_ordering(op, route):
    with pytest.raises(TypeError, match="^RouteRef does not support ordering$"):
        eval(f"route {op} route")
    with pytest.raises(TypeError, match="^RouteRef does not support ordering$"):
        eval(f"route {op} 1")


def test_route_hash_is_stable_across_processes():
    code = (
        "import tarnwick as tw;"
        "r = tw.RouteRef(tw.NamespaceRef(tw.Plane.Write, tw.Layer.Shadow, 'valve7'),"
        " 'position', 'main', tw.Variant.Desired, tw.SchemaRef('valve.pos', 3));"
        "print(hash(r))"
    )
    outputs = {
        subprocess.run(
            [sys.executable, "-c", code],
            capture_output=True,
            text=True,
            check=True,
            env={"PYTHONHASHSEED": seed, **_env()},
        ).stdout
        for seed in ("1", "2")
    }
    assert len(outputs) == 1
    expected = make_route(
        tw.Plane.Write,
        tw.Layer.Shadow,
        "valve7",
        "position",
        "main",
        tw.Variant.Desired,
        "valve.pos",
        3,
    )
    assert outputs == {f"{hash(expected)}\n"}


def _env():
    import os

    return {k: v for k, v in os.environ.items() if k != "PYTHONHASHSEED"}


def test_route_leaks(no_leak, route):
    ns = tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, "imu")
    schema = tw.SchemaRef("s", 1)
    no_leak(lambda: tw.RouteRef(ns, "accel", "x", tw.Variant.Payload, schema))
    no_leak(
        lambda: (
            route.namespace,
            route.family,
            route.stream,
            route.variant,
            route.schema,
            route.display(),
            repr(route),
            hash(route),
            route == route,
            ns.plane,
            ns.layer,
            ns.owner,
            repr(ns),
            tw.Plane.Read.value,
            repr(tw.Layer.Raw),
        )
    )
    no_leak(lambda: tw.RouteRef(ns, "", "x", tw.Variant.Payload, schema), error=ValueError)
    no_leak(lambda: tw.RouteRef(ns, "a", "x", tw.Variant.Request, schema), error=ValueError)
    no_leak(lambda: tw.RouteRef(ns, 1, "x", tw.Variant.Payload, schema), error=TypeError)
    no_leak(lambda: route < route, error=TypeError)
    no_leak(lambda: tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, " "), error=ValueError)
