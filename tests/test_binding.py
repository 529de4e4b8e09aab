"""Module-wide conventions: arity errors, argument wrapping, docs, the route hash."""

import inspect
import struct

import pytest

import tarnwick as tw
from tarnwick import _tarnwick_native as native


def test_bridge_version():
    assert native.bridge_version() == "0.1.42"
    assert tw.__version__ == "0.1.42"
    with pytest.raises(TypeError):
        native.bridge_version(1)
    with pytest.raises(TypeError):
        native.bridge_version(x=1)
    assert native.bridge_version.__doc__ in (None, "")  # all of it is the signature
    assert native.bridge_version.__text_signature__ == "()"
    assert native.bridge_version.__module__ == "tarnwick._tarnwick_native"


def test_module_shape():
    assert native.__doc__ == ""
    assert native.__name__ == "tarnwick._tarnwick_native"
    for name, value in vars(native).items():
        if isinstance(value, type):
            assert value.__module__ == "tarnwick._tarnwick_native"
            assert value.__qualname__ == name
    # The invariant failure class exists for raising only, never as an attribute.
    assert not [
        n for n, v in vars(native).items() if isinstance(v, type) and issubclass(v, BaseException)
    ]


@pytest.mark.parametrize(
    "call,message",
    [
        (
            lambda: tw.RouteRef(),
            (
                "RouteRef() missing 5 required positional arguments: "
                "'namespace', 'family', 'stream', 'variant', and 'schema'"
            ),
        ),
        (
            lambda: tw.SchemaRef("s"),
            "SchemaRef() missing 1 required positional argument: 'version'",
        ),
        (
            lambda: tw.TaintMark(tw.TaintDomain.Time),
            "TaintMark() missing 2 required positional arguments: 'value_id' and 'origin_id'",
        ),
        (
            lambda: tw.SchemaRef("s", 1, 2),
            "SchemaRef() takes 2 positional arguments but 3 were given",
        ),
        (
            lambda: tw.RuntimeRef("r", "s"),
            "RuntimeRef() takes 1 positional argument but 2 were given",
        ),
        (
            lambda: tw.SchemaRef("s", version=1, schema_id="t"),
            "SchemaRef() got multiple values for argument 'schema_id'",
        ),
        (
            lambda: tw.SchemaRef("s", 1, colour=2),
            "SchemaRef() got an unexpected keyword argument 'colour'",
        ),
        (
            lambda: tw.ScheduleGuard.not_before_epoch(),
            "ScheduleGuard.not_before_epoch() missing 1 required positional argument: 'epoch'",
        ),
    ],
)
def test_arity_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_keyword_arguments_by_name():
    r = tw.RouteRef(
        schema=tw.SchemaRef("s", 1),
        variant=tw.Variant.Payload,
        stream="x",
        family="f",
        namespace=tw.NamespaceRef(tw.Plane.Read, tw.Layer.Raw, "o"),
    )
    assert r.display() == "read.raw.o.f.x.payload.v1"
    assert tw.SchemaRef("s", version=4).version == 4


def test_type_errors_are_wrapped_with_cause():
    with pytest.raises(TypeError) as e:
        tw.NamespaceRef(tw.Plane.Read, "raw", "imu")
    assert str(e.value).startswith("argument 'layer': ")
    cause = e.value.__cause__
    assert type(cause) is TypeError and str(e.value) == f"argument 'layer': {cause}"


def test_text_signatures():
    assert str(inspect.signature(tw.RouteRef)) == "(namespace, family, stream, variant, schema)"
    assert str(inspect.signature(tw.ScheduleGuard.not_before_epoch)) == "(epoch)"
    assert tw.RouteRef.__doc__ == ""
    assert tw.RouteRef.display.__text_signature__ == "($self)"
    assert tw.ScheduleGuard.__doc__ == ""


def test_value_classes_are_immutable(route):
    with pytest.raises(AttributeError):
        route.family = "other"
    with pytest.raises(TypeError):
        tw.RouteRef.display = None


# ---- the route hash against an independent SipHash ------------------------------

MASK = 2**64 - 1


def _rotl(x, b):
    return ((x << b) | (x >> (64 - b))) & MASK


def siphash(key: bytes, data: bytes, c_rounds: int, d_rounds: int) -> int:
    k0, k1 = struct.unpack("<QQ", key)
    v = [
        k0 ^ 0x736F6D6570736575,
        k1 ^ 0x646F72616E646F6D,
        k0 ^ 0x6C7967656E657261,
        k1 ^ 0x7465646279746573,
    ]

    def rounds(n):
        for _ in range(n):
            v[0] = (v[0] + v[1]) & MASK
            v[1] = _rotl(v[1], 13)
            v[1] ^= v[0]
            v[0] = _rotl(v[0], 32)
            v[2] = (v[2] + v[3]) & MASK
            v[3] = _rotl(v[3], 16)
            v[3] ^= v[2]
            v[0] = (v[0] + v[3]) & MASK
            v[3] = _rotl(v[3], 21)
            v[3] ^= v[0]
            v[2] = (v[2] + v[1]) & MASK
            v[1] = _rotl(v[1], 17)
            v[1] ^= v[2]
            v[2] = _rotl(v[2], 32)

    tail = len(data) % 8
    for (m,) in struct.iter_unpack("<Q", data[: len(data) - tail]):
        v[3] ^= m
        rounds(c_rounds)
        v[0] ^= m
    last = int.from_bytes(data[len(data) - tail :], "little") | ((len(data) & 0xFF) << 56)
    v[3] ^= last
    rounds(c_rounds)
    v[0] ^= last
    v[2] ^= 0xFF
    rounds(d_rounds)
    return v[0] ^ v[1] ^ v[2] ^ v[3]


def test_reference_siphash_matches_published_vectors():
    key = bytes(range(16))
    assert siphash(key, b"", 2, 4) == 0x726FDB47DD0E0E31
    assert siphash(key, bytes(range(15)), 2, 4) == 0xA129CA6149BE45E5


def route_hash_reference(plane, layer, owner, family, stream, variant, schema_id, version):
    data = b"".join(
        [
            struct.pack("<QQ", plane, layer),
            owner.encode() + b"\xff",
            family.encode() + b"\xff",
            stream.encode() + b"\xff",
            struct.pack("<Q", variant),
            schema_id.encode() + b"\xff",
            struct.pack("<I", version),
        ]
    )
    h = siphash(bytes(16), data, 1, 3)
    h = h - 2**64 if h >= 2**63 else h
    return -2 if h == -1 else h


@pytest.mark.parametrize(
    "fields",
    [
        ("Read", "Raw", "imu", "accel", "x", "Payload", "imu.accel", 1),
        ("Write", "Shadow", "valve7", "position", "main", "Desired", "valve.pos", 3),
        ("Debug", "Ephemeral", "é", "ß", "∆ stream", "Health", "", 4294967295),
        ("Query", "Internal", "o" * 40, "f" * 7, "s", "QueryResponse", "q" * 9, 77),
    ],
)
def test_route_hash_matches_reference(fields):
    plane, layer, owner, family, stream, variant, schema_id, version = fields
    p, la, v = getattr(tw.Plane, plane), getattr(tw.Layer, layer), getattr(tw.Variant, variant)
    plane_code = ["Read", "Write", "State", "Query", "Debug"].index(plane)
    layer_code = ["Raw", "Logical", "Shadow", "Bulk", "Internal", "Ephemeral"].index(layer)
    variant_code = [
        "Meta",
        "Payload",
        "Request",
        "Desired",
        "Reported",
        "Effective",
        "Ack",
        "State",
        "QueryRequest",
        "QueryResponse",
        "Event",
        "Health",
    ].index(variant)
    schema = tw.SchemaRef(schema_id or " s", version)
    route = tw.RouteRef(tw.NamespaceRef(p, la, owner), family, stream, v, schema)
    expected = route_hash_reference(
        plane_code, layer_code, owner, family, stream, variant_code, schema_id or " s", version
    )
    assert hash(route) == expected
