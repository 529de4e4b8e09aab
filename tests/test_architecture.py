"""The architecture element value classes."""

import pytest

import tarnwick as tw

# class, valid arguments in constructor order, the blank-check label of each
# text argument in check order, and the repr prefix (None: default repr)
ELEMENTS = [
    (
        tw.ArchitecturePad,
        {"name": "p", "topic": "t", "direction": "input"},
        {"name": "pad name", "topic": "pad topic"},
        "Pad",
    ),
    (
        tw.ArchitectureVia,
        {"name": "v", "source": "a", "target": "b", "boundary": "edge"},
        {"name": "name", "source": "source", "target": "target", "boundary": "boundary"},
        "Via",
    ),
    (
        tw.ArchitectureProbe,
        {"name": "pr", "target": "t"},
        {"name": "name", "target": "target"},
        "Probe",
    ),
    (
        tw.ArchitectureRelay,
        {"name": "r", "source": "a", "target": "b"},
        {"name": "name", "source": "source", "target": "target"},
        "Relay",
    ),
    (
        tw.ArchitectureGround,
        {"name": "g", "reason": "why"},
        {"name": "name", "reason": "reason"},
        "Ground",
    ),
    (
        tw.ArchitectureResistor,
        {"name": "res", "boundary": "b", "policy": "p", "limit": 5},
        {"name": "resistor name", "boundary": "resistor boundary", "policy": "resistor policy"},
        None,
    ),
    (
        tw.ArchitectureCapacitor,
        {"name": "c", "source": "a", "target": "b", "capacity": 3, "location": "shelf"},
        {
            "name": "capacitor name",
            "source": "capacitor source",
            "target": "capacitor target",
            "location": "capacitor location",
        },
        None,
    ),
    (
        tw.ArchitectureRegulator,
        {"name": "reg", "policy": "p", "limit": 2**64 - 1},
        {"name": "regulator name", "policy": "regulator policy"},
        None,
    ),
]
IDS = [e[0].__name__ for e in ELEMENTS]


@pytest.mark.parametrize("cls,args,labels,repr_name", ELEMENTS, ids=IDS)
def test_fields_read_back_untrimmed(cls, args, labels, repr_name):
    spaced = {k: (f" {v}\t" if k in labels else v) for k, v in args.items()}
    for element in (cls(**spaced), cls(*spaced.values())):
        assert {k: getattr(element, k) for k in args} == spaced


@pytest.mark.parametrize("cls,args,labels,repr_name", ELEMENTS, ids=IDS)
def test_blank_texts_are_refused_in_order(cls, args, labels, repr_name):
    texts = list(labels)
    for i, field in enumerate(texts):
        # this field and every later one blank: the earliest blank is reported
        bad = dict(args, **{f: " \u2028 " for f in texts[i:]})
        with pytest.raises(ValueError) as info:
            cls(**bad)
        assert str(info.value) == f"{labels[field]} must be a non-empty string"


@pytest.mark.parametrize("cls,args,labels,repr_name", ELEMENTS, ids=IDS)
def test_argument_extraction_comes_before_every_check(cls, args, labels, repr_name):
    last = list(args)[-1]
    bad = dict(args, **{f: "" for f in labels if f != last}, **{last: object()})
    with pytest.raises(TypeError) as info:
        cls(**bad)
    assert str(info.value).startswith(f"argument '{last}': ")


@pytest.mark.parametrize("cls,args,labels,repr_name", ELEMENTS, ids=IDS)
def test_repr(cls, args, labels, repr_name):
    element = cls(**dict(args, name='say "hi"\\\n'))
    if repr_name is None:
        assert repr(element).startswith(f"<tarnwick._tarnwick_native.{cls.__name__} object at ")
        return
    shown = ", ".join(
        f'{k}="{v}"' if k != "name" else 'name="say \\"hi\\"\\\\\\n"' for k, v in args.items()
    )
    assert repr(element) == f"{repr_name}({shown})"


def test_pad_defaults_to_internal_and_matches_direction_exactly():
    pad = tw.ArchitecturePad("p", "t")
    assert pad.direction == "internal"
    assert repr(pad) == 'Pad(name="p", topic="t", direction="internal")'
    for direction in ("input", "output", "internal"):
        assert tw.ArchitecturePad(" p ", "t", direction).direction == direction
    for direction in ("Input", " input", "input ", "", "inout"):
        with pytest.raises(ValueError) as info:
            tw.ArchitecturePad("p", "t", direction)
        assert str(info.value) == "pad direction must be 'input', 'output', or 'internal'"
    with pytest.raises(ValueError, match="^pad name must"):
        tw.ArchitecturePad(" ", "t", "sideways")  # blank checks come first
    with pytest.raises(TypeError, match="^argument 'direction': "):
        tw.ArchitecturePad("p", "t", None)


def test_pad_equality_compares_all_three_fields():
    pad = tw.ArchitecturePad("p", "t", "input")
    assert pad == tw.ArchitecturePad("p", "t", "input")
    assert (pad != tw.ArchitecturePad("p", "t", "input")) is False
    for other in (("q", "t", "input"), ("p", "u", "input"), ("p", "t", "output"), ("p ", "t")):
        assert pad != tw.ArchitecturePad(*other)
        assert (pad == tw.ArchitecturePad(*other)) is False
    via = tw.ArchitectureVia("p", "t", "input", "b")
    assert (pad == via) is False and pad != via and pad != "p"


def test_pad_ordering_and_hashing_are_refused():
    a, b = tw.ArchitecturePad("a", "t"), tw.ArchitecturePad("b", "t")
    for compare in (a.__lt__, a.__le__, a.__gt__, a.__ge__):
        with pytest.raises(TypeError, match="^pads only support equality comparison$"):
            compare(b)
    assert a.__lt__(5) is NotImplemented
    with pytest.raises(TypeError):
        a < 5  # noqa: B015
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        {a}  # noqa: B018


def test_other_elements_compare_and_hash_by_identity():
    first, second = tw.ArchitectureGround("g", "r"), tw.ArchitectureGround("g", "r")
    same = first
    assert first == same and first != second
    assert hash(first) == object.__hash__(first)
    assert len({first, second}) == 2


def test_optional_counts_and_their_checks():
    cap = tw.ArchitectureCapacitor("c", "a", "b")
    assert (cap.capacity, cap.location) == (1, None)
    assert tw.ArchitectureCapacitor("c", "a", "b", location=None).location is None
    assert tw.ArchitectureResistor("r", "b", "p").limit is None
    assert tw.ArchitectureResistor("r", "b", "p", None).limit is None
    assert tw.ArchitectureRegulator("r", "p").limit is None
    cases = [
        (lambda: tw.ArchitectureCapacitor("c", "a", "b", 0), "capacitor capacity must be positive"),
        (
            lambda: tw.ArchitectureCapacitor("c", "a", "b", 0, " "),
            "capacitor capacity must be positive",
        ),
        (
            lambda: tw.ArchitectureCapacitor("c", "a", " ", 0),
            "capacitor target must be a non-empty string",
        ),
        (
            lambda: tw.ArchitectureCapacitor("c", "a", "b", 1, "\t"),
            "capacitor location must be a non-empty string",
        ),
        (lambda: tw.ArchitectureResistor("r", "b", "p", 0), "resistor limit must be positive"),
        (
            lambda: tw.ArchitectureResistor("r", "b", " ", 0),
            "resistor policy must be a non-empty string",
        ),
        (lambda: tw.ArchitectureRegulator("r", "p", 0), "regulator limit must be positive"),
    ]
    for make, text in cases:
        with pytest.raises(ValueError) as info:
            make()
        assert str(info.value) == text


@pytest.mark.parametrize(
    "make,error",
    [
        (lambda: tw.ArchitectureResistor("r", "b", "p", -1), OverflowError),
        (lambda: tw.ArchitectureRegulator("r", "p", 2**64), OverflowError),
        (lambda: tw.ArchitectureCapacitor("c", "a", "b", -5), OverflowError),
        (lambda: tw.ArchitectureCapacitor("c", "a", "b", 1.0), TypeError),
        (lambda: tw.ArchitectureRegulator("r", "p", "3"), TypeError),
        (lambda: tw.ArchitectureProbe("p"), TypeError),
        (lambda: tw.ArchitectureGround("g", "r", "extra"), TypeError),
        (lambda: tw.ArchitectureVia(name="v", source="a", target="b", edge="x"), TypeError),
    ],
)
def test_count_and_arity_errors(make, error):
    with pytest.raises(error):
        make()


def test_elements_are_immutable():
    pad = tw.ArchitecturePad("p", "t")
    with pytest.raises(AttributeError):
        pad.name = "q"
    with pytest.raises(TypeError):
        tw.ArchitecturePad.extra = 1


def test_architecture_elements_do_not_leak(no_leak):
    pad = tw.ArchitecturePad("p", "t")
    other = tw.ArchitecturePad("p", "t")
    cap = tw.ArchitectureCapacitor("c", "a", "b", 2, "x")
    no_leak(lambda: tw.ArchitecturePad("p", "t", "output"))
    no_leak(lambda: repr(pad))
    no_leak(lambda: pad == other)
    no_leak(lambda: pad < other, error=TypeError)
    no_leak(lambda: (cap.name, cap.capacity, cap.location))
    no_leak(lambda: tw.ArchitectureVia("v", "a", "b", "e"))
    no_leak(lambda: tw.ArchitectureResistor("r", "b", "p", 3).limit)
    no_leak(lambda: tw.ArchitectureRegulator("r", "p", 0), error=ValueError)
    no_leak(lambda: tw.ArchitecturePad("p", "t", "up"), error=ValueError)
    no_leak(lambda: tw.ArchitectureCapacitor("c", "a", "b", location=" "), error=ValueError)
    no_leak(lambda: tw.ArchitectureGround("g", 1), error=TypeError)
