"""FlatBuffer pad layouts and the field decoder, driven through PubSubRuntime."""

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
