"""FlatBuffer pad layouts and the field decoder, driven through PubSubRuntime."""

import struct

import flatbuffers
import pytest

import tarnwick as tw

FIELD_TYPES = ["bool", "int32", "int64", "uint32", "uint64", "float32", "float64", "string"]
TYPE_MESSAGE = (
    "flatbuffer field_type must be bool, float32, float64, int32, int64, uint32, uint64, or string"
)


# ---- layouts ---------------------------------------------------------------------


@pytest.mark.parametrize("field_type", FIELD_TYPES)
def test_field_keeps_its_values(field_type):
    field = tw.FlatBufferField("_speed_2", 65535, field_type)
    assert (field.name, field.index, field.field_type) == ("_speed_2", 65535, field_type)
    field = tw.FlatBufferField(field_type=field_type, index=0, name="x")
    assert (field.name, field.index) == ("x", 0)


@pytest.mark.parametrize(
    "name,index,field_type,error,message",
    [
        ("  ", 0, "nope", ValueError, "flatbuffer field name must be a non-empty string"),
        (" x", 0, "bool", ValueError, "flatbuffer field name must be a SQL identifier"),
        ("1x", 0, "bool", ValueError, "flatbuffer field name must be a SQL identifier"),
        ("a-b", 0, "bool", ValueError, "flatbuffer field name must be a SQL identifier"),
        ("caf\u00e9", 0, "bool", ValueError, "flatbuffer field name must be a SQL identifier"),
        ("x", 0, "Int32", ValueError, TYPE_MESSAGE),
        ("x", 0, "double", ValueError, TYPE_MESSAGE),
        ("x", 0, "", ValueError, TYPE_MESSAGE),
        ("x", 65536, "bool", OverflowError, None),
        ("x", -1, "bool", OverflowError, None),
        ("  ", -1, "bool", OverflowError, None),
        ("x", 1.0, "bool", TypeError, "argument 'index': "),
        (b"x", 0, "bool", TypeError, "argument 'name': "),
        ("x", 0, None, TypeError, "argument 'field_type': "),
    ],
)
def test_field_refusals(name, index, field_type, error, message):
    with pytest.raises(error) as err:
        tw.FlatBufferField(name, index, field_type)
    if message is not None:
        assert str(err.value).startswith(message)
        if error is ValueError:
            assert str(err.value) == message


def test_table_copies_its_fields():
    fields = [tw.FlatBufferField("a", 0, "int32"), tw.FlatBufferField("a", 0, "string")]
    table = tw.FlatBufferTable("Imu", fields)
    fields.clear()
    got = table.fields
    assert [(f.name, f.index, f.field_type) for f in got] == [("a", 0, "int32"), ("a", 0, "string")]
    assert table.fields is not got and table.fields[0] is not got[0]
    got.clear()
    assert len(table.fields) == 2
    assert table.name == "Imu"
    assert len(tw.FlatBufferTable(" T ", (tw.FlatBufferField("b", 1, "bool"),)).fields) == 1


@pytest.mark.parametrize(
    "name,fields,error,message",
    [
        (
            "\n",
            [tw.FlatBufferField("a", 0, "bool")],
            ValueError,
            "flatbuffer table name must be a non-empty string",
        ),
        ("T", [], ValueError, "flatbuffer table must expose at least one field"),
        ("T", "ab", TypeError, "argument 'fields': "),
        ("T", [tw.FlatBufferField("a", 0, "bool"), "a"], TypeError, "argument 'fields': "),
        ("T", None, TypeError, "argument 'fields': "),
        ("", "ab", TypeError, "argument 'fields': "),
    ],
)
def test_table_refusals(name, fields, error, message):
    with pytest.raises(error) as err:
        tw.FlatBufferTable(name, fields)
    assert str(err.value).startswith(message)


def test_layout_no_leaks(no_leak):
    field = tw.FlatBufferField("a", 3, "string")
    table = tw.FlatBufferTable("T", [field, field])
    no_leak(lambda: tw.FlatBufferField("a", 3, "float64"))
    no_leak(lambda: (field.name, field.index, field.field_type))
    no_leak(lambda: tw.FlatBufferTable("T", [field]))
    no_leak(lambda: [f.name for f in table.fields] + [table.name])
    no_leak(lambda: tw.FlatBufferField("1a", 0, "bool"), error=ValueError)
    no_leak(lambda: tw.FlatBufferField("a", 0, "double"), error=ValueError)
    no_leak(lambda: tw.FlatBufferField("a", 70000, "bool"), error=OverflowError)
    no_leak(lambda: tw.FlatBufferTable("T", []), error=ValueError)
    no_leak(lambda: tw.FlatBufferTable("T", [field, 1]), error=TypeError)


# ---- decoding through a registered pad ----------------------------------------------

ALL_FIELDS = [tw.FlatBufferField(f"f_{t}", i, t) for i, t in enumerate(FIELD_TYPES)]
PREPEND = {
    "bool": "PrependBoolSlot",
    "int32": "PrependInt32Slot",
    "int64": "PrependInt64Slot",
    "uint32": "PrependUint32Slot",
    "uint64": "PrependUint64Slot",
    "float32": "PrependFloat32Slot",
    "float64": "PrependFloat64Slot",
}


def build_table(slots, num_slots=None):
    """A FlatBuffer whose root table holds `slots`: {slot index: (type, value)}."""
    b = flatbuffers.Builder(256)
    b.ForceDefaults(True)
    strings = {i: b.CreateString(v) for i, (t, v) in slots.items() if t == "string"}
    b.StartObject(num_slots if num_slots is not None else max(slots, default=-1) + 1)
    for i, (t, v) in slots.items():
        if t == "string":
            b.PrependUOffsetTRelativeSlot(i, strings[i], 0)
        else:
            getattr(b, PREPEND[t])(i, v, 0)
    b.Finish(b.EndObject())
    return bytes(b.Output())


def craft(slots, body):
    """A hand-made buffer: vtable at byte 4, root table after it; `slots` are
    vtable entries as offsets from the table start (whose first 4 bytes are the
    vtable offset), `body` the bytes after those 4."""
    vtable = struct.pack(f"<HH{len(slots)}H", 4 + 2 * len(slots), 4 + len(body), *slots)
    root = 4 + len(vtable)
    return struct.pack("<I", root) + vtable + struct.pack("<i", root - 4) + body


def runtime_with(fields, pad="imu", retained_messages=1024):
    rt = tw.PubSubRuntime(retained_messages=retained_messages)
    rt.register_flatbuffer_pad(pad, tw.FlatBufferTable("T", fields))
    return rt


def stored(rt, columns, topic=None):
    where = " WHERE topic = :t" if topic else ""
    params = {"t": topic} if topic else None
    sql = f'SELECT {", ".join(columns)} FROM stream_messages{where} ORDER BY "offset"'
    return [tuple(row.values()) for row in rt.query(sql, params)]


def test_every_field_type_decodes_into_its_column():
    rt = runtime_with(ALL_FIELDS)
    values = {
        "bool": True,
        "int32": -(2**31),
        "int64": -(2**63),
        "uint32": 2**32 - 1,
        "uint64": 2**63 - 1,
        "float32": 0.1,
        "float64": -2.5e300,
        "string": "h\u00e9llo \U0001f600",
    }
    rt.publish(
        "t", build_table({i: (t, values[t]) for i, t in enumerate(FIELD_TYPES)}), pad_name="imu"
    )
    rt.publish("t", build_table({0: ("bool", False), 7: ("string", "")}), pad_name="imu")
    names = [f.name for f in ALL_FIELDS]
    rows = stored(rt, names)
    assert rows[0] == (
        1,
        -(2**31),
        -(2**63),
        2**32 - 1,
        2**63 - 1,
        0.10000000149011612,
        -2.5e300,
        "h\u00e9llo \U0001f600",
    )
    assert rows[1] == (0, None, None, None, None, None, None, "")
    types = rt.query_one(
        "SELECT " + ", ".join(f"typeof({n}) AS {n}" for n in names) + " FROM stream_messages"
        ' WHERE "offset" = 0'
    )
    assert list(types.values()) == ["integer"] * 5 + ["real"] * 2 + ["text"]


def test_absent_zero_slot_and_beyond_vtable_fields_are_null():
    fields = [
        tw.FlatBufferField("a", 0, "int32"),
        tw.FlatBufferField("b", 1, "int32"),
        tw.FlatBufferField("c", 9, "int32"),
        tw.FlatBufferField("d", 65535, "string"),
    ]
    rt = runtime_with(fields)
    rt.publish("t", build_table({0: ("int32", 5)}, num_slots=2), pad_name="imu")
    # vsize exactly 4 + 2 * index for slot 1: still beyond the vtable.
    rt.publish("t", craft([8], struct.pack("<ii", 0, 7)), pad_name="imu")
    assert stored(rt, ["a", "b", "c", "d"]) == [(5, None, None, None), (7, None, None, None)]


def test_fields_read_little_endian_at_their_positions():
    # Fields out of slot order, one shared by two columns of different types.
    body = struct.pack("<Iq", 0xFFFFFFFE, -3)
    fields = [
        tw.FlatBufferField("q", 1, "int64"),
        tw.FlatBufferField("u", 0, "uint32"),
        tw.FlatBufferField("s", 0, "int32"),
        tw.FlatBufferField("flag", 0, "bool"),
    ]
    rt = runtime_with(fields)
    rt.publish("t", craft([4, 8], body), pad_name="imu")
    assert stored(rt, ["q", "u", "s", "flag"]) == [(-3, 0xFFFFFFFE, -2, 1)]


def test_uint64_range():
    rt = runtime_with([tw.FlatBufferField("u", 0, "uint64")])
    rt.publish("ok", build_table({0: ("uint64", 2**63 - 1)}), pad_name="imu")
    assert stored(rt, ["u"]) == [(2**63 - 1,)]
    rt.publish("big", build_table({0: ("uint64", 2**63)}), pad_name="imu")
    with pytest.raises(ValueError) as err:
        rt.drain()
    assert str(err.value) == "uint64 FlatBuffer value exceeds SQL integer range"
    assert stored(rt, ["topic", "u"]) == [("ok", 2**63 - 1), ("big", None)]


OOB = "FlatBuffer field is out of bounds"


def utf8(detail):
    return "invalid FlatBuffer UTF-8 string: " + detail


def string_at_body(raw):
    return craft([4], struct.pack("<I", 4) + struct.pack("<I", len(raw)) + raw)


@pytest.mark.parametrize(
    "field_type,payload,message",
    [
        ("int32", b"\x04\x00\x00", OOB),
        ("int32", b"\x02\x00\x00\x00\x00", OOB),  # root > n - 4
        (
            "int32",
            struct.pack("<Ii", 4, -4) + b"\x00" * 8,
            "invalid FlatBuffer table vtable offset",
        ),
        ("int32", struct.pack("<Ii", 4, 8) + b"\x00" * 8, "invalid FlatBuffer vtable position"),
        ("int32", struct.pack("<Ii", 4, 1), OOB),  # vtable slot beyond the buffer
        ("bool", craft([8], b"\x01\x00\x00\x00"), OOB),  # p == n
        ("int32", craft([6], b"\x01\x00\x00\x00"), OOB),
        ("uint32", craft([6], b"\x01\x00\x00\x00"), OOB),
        ("float32", craft([5], b"\x01\x00\x00\x00"), OOB),
        ("int64", craft([4], b"\x01" * 7), OOB),
        ("uint64", craft([4], b"\x01" * 7), OOB),
        ("float64", craft([4], b"\x01" * 7), OOB),
        ("string", craft([4], b"\x01\x00\x00"), OOB),  # no room for the offset
        ("string", craft([4], struct.pack("<I", 0xFFFFFFF0)), OOB),  # string beyond the end
        ("string", craft([4], struct.pack("<I", 4) + b"\x00\x00"), OOB),  # no room for length
        ("string", craft([4], struct.pack("<II", 4, 3) + b"ab"), OOB),  # bytes beyond the end
        ("string", string_at_body(b"\xff"), utf8("invalid utf-8 sequence of 1 bytes from index 0")),
        (
            "string",
            string_at_body(b"ok\xc0\xaf"),
            utf8("invalid utf-8 sequence of 1 bytes from index 2"),
        ),
        (
            "string",
            string_at_body(b"ab\xe2\x82"),
            utf8("incomplete utf-8 byte sequence from index 2"),
        ),
        ("string", string_at_body(b"\xf0"), utf8("incomplete utf-8 byte sequence from index 0")),
        (
            "string",
            string_at_body(b"\xe2\x82("),
            utf8("invalid utf-8 sequence of 2 bytes from index 0"),
        ),
        (
            "string",
            string_at_body(b"a\xf0\x9f\x98("),
            utf8("invalid utf-8 sequence of 3 bytes from index 1"),
        ),
        (
            "string",
            string_at_body(b"\xed\xa0\x80"),
            utf8("invalid utf-8 sequence of 1 bytes from index 0"),
        ),
        (
            "string",
            string_at_body(b"\xf4\x90\x80\x80"),
            utf8("invalid utf-8 sequence of 1 bytes from index 0"),
        ),
        ("string", string_at_body(b"\x80"), utf8("invalid utf-8 sequence of 1 bytes from index 0")),
    ],
)
def test_malformed_buffers_raise_and_keep_the_row(field_type, payload, message):
    rt = runtime_with([tw.FlatBufferField("v", 0, field_type)])
    rt.publish("t", payload, pad_name="imu")
    with pytest.raises(ValueError) as err:
        rt.drain()
    assert str(err.value) == message
    assert stored(rt, ["topic", "pad_name", "payload", "v"]) == [("t", "imu", payload, None)]
    assert rt.drain() == []


def test_decoding_stops_at_the_first_failing_field():
    fields = [
        tw.FlatBufferField("first", 0, "int32"),
        tw.FlatBufferField("bad", 1, "int64"),
        tw.FlatBufferField("after", 0, "int32"),
    ]
    rt = runtime_with(fields)
    rt.publish("t", craft([4, 6], struct.pack("<i", 9)), pad_name="imu")
    with pytest.raises(ValueError, match=OOB):
        rt.query("SELECT 1")
    assert stored(rt, ["first", "bad", "after"]) == [(9, None, None)]


def test_a_bad_payload_does_not_lose_its_batch():
    rt = runtime_with([tw.FlatBufferField("n", 0, "int32")])
    rt.publish("a", build_table({0: ("int32", 1)}), pad_name="imu")
    rt.publish("b", b"\x00\x01", pad_name="imu")
    rt.publish("c", struct.pack("<Ii", 4, -4), pad_name="imu", key="k")
    rt.publish("d", build_table({0: ("int32", 4)}), pad_name="imu", event_time=40)
    with pytest.raises(ValueError) as err:
        rt.drain()
    assert str(err.value) == OOB  # the first of the two failures
    rows = stored(rt, ["topic", "n", "process_sequence", "event_time", "message_key"])
    assert rows == [
        ("a", 1, 1, 1, None),
        ("b", None, 2, 2, None),
        ("c", None, 3, 3, "k"),
        ("d", 4, 4, 40, None),
    ]
    assert rt.drain() == []
    assert rt.latest("d").event_time == 40


def test_unregistered_pad_stores_without_decoding():
    rt = runtime_with([tw.FlatBufferField("n", 0, "int32")])
    rt.publish("t", b"\x01\x02\x03", pad_name="other")
    (record,) = rt.drain()
    assert (record.pad_name, record.payload) == ("other", b"\x01\x02\x03")
    assert stored(rt, ["pad_name", "n"]) == [("other", None)]


def test_pad_is_looked_up_when_the_message_is_stored():
    rt = tw.PubSubRuntime()
    rt.publish("t", build_table({0: ("int32", 3)}), pad_name="late")
    rt.register_flatbuffer_pad(
        "late", tw.FlatBufferTable("T", [tw.FlatBufferField("n", 0, "int32")])
    )
    assert stored(rt, ["n"]) == [(3,)]
    # Re-registering replaces the table for later drains only.
    rt.register_flatbuffer_pad(
        "late", tw.FlatBufferTable("T", [tw.FlatBufferField("m", 0, "int32")])
    )
    rt.publish("t", build_table({0: ("int32", 5)}), pad_name="late")
    assert stored(rt, ["n", "m"]) == [(3, None), (None, 5)]


def columns_of(rt):
    return [
        (row["name"], row["type"])
        for row in rt.query("SELECT name, type FROM pragma_table_info('stream_messages')")
    ]


BASE_COLUMNS = [
    ("pad_name", "TEXT"),
    ("topic", "TEXT"),
    ("offset", "INTEGER"),
    ("process_sequence", "INTEGER"),
    ("event_time", "INTEGER"),
    ("message_key", "TEXT"),
    ("payload", "BLOB"),
]


def test_registration_adds_typed_columns_and_reuses_existing_ones():
    rt = tw.PubSubRuntime()
    assert rt.register_flatbuffer_pad("a", tw.FlatBufferTable("A", ALL_FIELDS[:3])) is None
    shared = [
        tw.FlatBufferField("f_bool", 0, "string"),
        tw.FlatBufferField("F_INT32", 1, "float64"),
    ]
    rt.register_flatbuffer_pad("b", tw.FlatBufferTable("B", shared + ALL_FIELDS[5:]))
    assert columns_of(rt) == BASE_COLUMNS + [
        ("f_bool", "INTEGER"),
        ("f_int32", "INTEGER"),
        ("f_int64", "INTEGER"),
        ("f_float32", "REAL"),
        ("f_float64", "REAL"),
        ("f_string", "TEXT"),
    ]
    rt.publish("t", build_table({0: ("string", "yes"), 1: ("float64", 1.5)}), pad_name="b")
    assert stored(rt, ["f_bool", "f_int32"]) == [("yes", 1.5)]


def test_failed_alter_keeps_earlier_columns_and_registers_nothing():
    rt = tw.PubSubRuntime()
    fields = [tw.FlatBufferField("good", 0, "int32"), tw.FlatBufferField("select", 1, "int32")]
    with pytest.raises(RuntimeError) as err:
        rt.register_flatbuffer_pad("p", tw.FlatBufferTable("T", fields))
    assert str(err.value).startswith("stream SQL operation failed: ")
    assert columns_of(rt) == BASE_COLUMNS + [("good", "INTEGER")]
    rt.publish("t", build_table({0: ("int32", 1)}), pad_name="p")
    assert stored(rt, ["good"]) == [(None,)]


@pytest.mark.parametrize(
    "name",
    [
        "topic",
        "Topic",
        "OFFSET",
        "payload",
        "pad_name",
        "Event_Time",
        "message_key",
        "process_sequence",
    ],
)
def test_pad_fields_cannot_overwrite_base_columns(name):
    rt = tw.PubSubRuntime()
    fields = [tw.FlatBufferField("fresh", 0, "int32"), tw.FlatBufferField(name, 0, "int32")]
    with pytest.raises(ValueError) as err:
        rt.register_flatbuffer_pad("p", tw.FlatBufferTable("T", fields))
    assert name in str(err.value)
    assert columns_of(rt) == BASE_COLUMNS
    payload = build_table({0: ("int32", 77)})
    rt.publish("t", payload, pad_name="p")
    assert stored(rt, ["topic", '"offset"', "payload"]) == [("t", 0, payload)]


@pytest.mark.parametrize(
    "pad_name,table,error,message",
    [
        (
            " ",
            tw.FlatBufferTable("T", ALL_FIELDS[:1]),
            ValueError,
            "pad name must be a non-empty string",
        ),
        (1, tw.FlatBufferTable("T", ALL_FIELDS[:1]), TypeError, "argument 'pad_name': "),
        ("p", ALL_FIELDS[:1], TypeError, "argument 'table': "),
    ],
)
def test_registration_argument_refusals(pad_name, table, error, message):
    rt = tw.PubSubRuntime()
    with pytest.raises(error) as err:
        rt.register_flatbuffer_pad(pad_name, table)
    assert str(err.value).startswith(message)
    assert columns_of(rt) == BASE_COLUMNS


def test_decoding_no_leaks(no_leak):
    rt = runtime_with(ALL_FIELDS, pad="p", retained_messages=8)
    good = build_table({i: (t, 1 if t != "string" else "s") for i, t in enumerate(FIELD_TYPES)})
    table = tw.FlatBufferTable("T", ALL_FIELDS)

    def publish_and_drain(payload):
        rt.publish("t", payload, pad_name="p")
        return rt.drain()

    no_leak(lambda: publish_and_drain(good), calls=2000)
    no_leak(lambda: publish_and_drain(b"\x00\x01"), error=ValueError, calls=2000)
    utf8_bad = build_table({7: ("string", "x")}).replace(b"x", b"\xff")
    no_leak(lambda: publish_and_drain(utf8_bad), error=ValueError, calls=2000)
    no_leak(lambda: rt.register_flatbuffer_pad("p", table), calls=2000)
    no_leak(lambda: rt.register_flatbuffer_pad(" ", table), error=ValueError)
