"""Writes seed inputs for the decoder fuzzer: well-formed tables of every field type."""

import pathlib
import struct
import sys

import flatbuffers

TYPES = ["bool", "int32", "int64", "uint32", "uint64", "float32", "float64", "string"]


def table(values):
    b = flatbuffers.Builder(64)
    strings = {i: b.CreateString(v) for i, (t, v) in enumerate(values) if t == "string"}
    b.StartObject(len(values))
    for i, (t, v) in enumerate(values):
        if t == "string":
            b.PrependUOffsetTRelativeSlot(i, strings[i], 0)
        else:
            adder = {
                "bool": b.PrependBoolSlot,
                "int32": b.PrependInt32Slot,
                "int64": b.PrependInt64Slot,
                "uint32": b.PrependUint32Slot,
                "uint64": b.PrependUint64Slot,
                "float32": b.PrependFloat32Slot,
                "float64": b.PrependFloat64Slot,
            }[t]
            adder(i, v, 0)
    b.Finish(b.EndObject())
    return bytes(b.Output())


def seed(values):
    header = bytes([len(values) - 1])
    for i, (t, _) in enumerate(values):
        header += bytes([TYPES.index(t)]) + struct.pack("<H", i)
    return header + table(values)


def main(out):
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    samples = [
        [("bool", True), ("int32", -7), ("string", "héllo")],
        [("int64", -(2**40)), ("uint32", 2**32 - 1), ("uint64", 2**63 - 1)],
        [("float32", 0.1), ("float64", 2.5), ("string", ""), ("bool", False)],
        [("string", "a" * 40), ("string", "\u20ac\U0001f600")],
    ]
    for n, values in enumerate(samples):
        (out / f"seed{n}").write_bytes(seed(values))


if __name__ == "__main__":
    main(sys.argv[1])
