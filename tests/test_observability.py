"""Bounded log and histogram records: validation, bucketing, trimming, read-back."""

import json
import threading
import time

import pytest

import tarnwick as tw

DEFAULT_BOUNDS = "[0.001,0.005,0.01,0.05,0.1,0.5,1,5,10]"


def counts(record):
    return json.loads(record.bucket_counts_json)


def test_log_record_fields_and_defaults():
    obs = tw.ObservabilityRuntime()
    before = time.time_ns()
    rec = obs.record_log(" WARN ", "app", "")
    after = time.time_ns()
    assert (rec.severity_text, rec.logger_name, rec.body) == (" WARN ", "app", "")
    assert (rec.file_path, rec.line_number, rec.attributes_json) == ("", 0, "{}")
    assert before <= rec.timestamp_ns <= after

    rec = obs.record_log(
        "INFO",
        "x",
        "b",
        file_path="a.py",
        line_number=2**64 - 1,
        attributes_json="  {not json}  ",
        timestamp_ns=7,
    )
    assert (rec.file_path, rec.line_number) == ("a.py", 2**64 - 1)
    assert (rec.attributes_json, rec.timestamp_ns) == ("  {not json}  ", 7)
    stored = obs.logs()
    assert [r.timestamp_ns for r in stored] == [stored[0].timestamp_ns, 7]
    assert stored[1] is not rec and obs.logs()[1] is not stored[1]


def test_histogram_record_fields():
    obs = tw.ObservabilityRuntime()
    rec = obs.record_histogram("lat", 2, unit="s", attributes_json='{"a":1}', timestamp_ns=0)
    assert (rec.name, rec.unit, rec.attributes_json, rec.timestamp_ns) == ("lat", "s", '{"a":1}', 0)
    assert (rec.count, rec.sum, rec.min, rec.max) == (1, 2.0, 2.0, 2.0)
    assert isinstance(rec.sum, float)
    assert rec.explicit_bounds_json == DEFAULT_BOUNDS
    rec = obs.record_histogram("lat", 1.0)
    assert (rec.unit, rec.attributes_json) == ("", "{}")
    assert rec.bucket_counts_json == "[0,0,0,0,0,0,1,0,0,0]"


@pytest.mark.parametrize(
    "value,index",
    [(0.0005, 0), (-1e300, 0), (0.001, 0), (0.0011, 1), (10.0, 8), (10.5, 9), (1e308, 9)],
)
def test_default_bucket_of_a_sample(value, index):
    expected = [0] * 10
    expected[index] = 1
    assert counts(tw.ObservabilityRuntime().record_histogram("m", value)) == expected


@pytest.mark.parametrize(
    "bounds,text",
    [
        ([1e-7], "[0.0000001]"),
        ([1e21], "[1" + "0" * 21 + "]"),
        ([-0.0, 0.0], "[-0,0]"),
        ([0.1, 2.5, 3.0, 123456789.125], "[0.1,2.5,3,123456789.125]"),
        ([1 / 3], "[0.3333333333333333]"),
        ([5e-324, 1.7976931348623157e308], None),
    ],
)
def test_bounds_text_is_shortest_decimal_without_exponent(bounds, text):
    obs = tw.ObservabilityRuntime()
    assert obs.set_buckets(bounds) is None
    shown = obs.record_histogram("m", 0).explicit_bounds_json
    if text is not None:
        assert shown == text
    assert "e" not in shown.lower()
    assert [float(part) for part in shown[1:-1].split(",")] == bounds


def test_set_buckets_applies_to_later_records_only():
    obs = tw.ObservabilityRuntime()
    first = obs.record_histogram("m", 1.0)
    obs.set_buckets((1, 1, 2))
    later = obs.record_histogram("m", 1)
    assert later.explicit_bounds_json == "[1,1,2]"
    assert later.bucket_counts_json == "[1,0,0,0]"
    assert counts(obs.record_histogram("m", 3)) == [0, 0, 0, 1]
    assert [m.explicit_bounds_json for m in obs.metrics()] == [DEFAULT_BOUNDS, "[1,1,2]", "[1,1,2]"]
    assert first.explicit_bounds_json == DEFAULT_BOUNDS


@pytest.mark.parametrize(
    "bounds,message",
    [
        ([], "buckets must not be empty"),
        ([1.0, float("inf")], "buckets must be finite"),
        ([float("nan")], "buckets must be finite"),
        ([2.0, 1.0], "buckets must be sorted"),
        ([3.0, 2.0, float("-inf")], "buckets must be finite"),
    ],
)
def test_set_buckets_refusals_keep_the_bounds(bounds, message):
    obs = tw.ObservabilityRuntime()
    with pytest.raises(ValueError) as err:
        obs.set_buckets(bounds)
    assert str(err.value) == message
    assert obs.record_histogram("m", 1).explicit_bounds_json == DEFAULT_BOUNDS


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda o: o.record_log(" \u3000", "l", "b"), "severity_text must be a non-empty string"),
        (
            lambda o: o.record_log("", "", "b", attributes_json="[]"),
            "severity_text must be a non-empty string",
        ),
        (lambda o: o.record_log("I", "\t", "b"), "logger_name must be a non-empty string"),
        (
            lambda o: o.record_log("I", "l", "b", attributes_json="[]"),
            "attributes_json must be a JSON object string",
        ),
        (
            lambda o: o.record_log("I", "l", "b", attributes_json="  "),
            "attributes_json must be a JSON object string",
        ),
        (
            lambda o: o.record_log("I", "l", "b", attributes_json="{"),
            "attributes_json must be a JSON object string",
        ),
        (lambda o: o.record_histogram("   ", 1.0), "metric name must be a non-empty string"),
        (
            lambda o: o.record_histogram("m", 1.0, attributes_json="{} x"),
            "attributes_json must be a JSON object string",
        ),
        (
            lambda o: o.record_histogram("m", float("nan"), attributes_json="x"),
            "attributes_json must be a JSON object string",
        ),
        (lambda o: o.record_histogram("m", float("nan")), "histogram value must be finite"),
        (lambda o: o.record_histogram("m", float("-inf")), "histogram value must be finite"),
    ],
)
def test_record_validation_stores_nothing(call, message):
    obs = tw.ObservabilityRuntime()
    with pytest.raises(ValueError) as err:
        call(obs)
    assert str(err.value) == message
    assert obs.logs() == [] and obs.metrics() == []


@pytest.mark.parametrize(
    "call,error,text",
    [
        (lambda o: o.record_log(1, "l", "b"), TypeError, "argument 'severity_text': "),
        (lambda o: o.record_log("I", "l", b"b"), TypeError, "argument 'body': "),
        (lambda o: o.record_log("I", "l", "b", line_number=-1), OverflowError, ""),
        (lambda o: o.record_log("I", "l", "b", line_number=2**64), OverflowError, ""),
        (
            lambda o: o.record_log("I", "l", "b", line_number=1.5),
            TypeError,
            "argument 'line_number'",
        ),
        (lambda o: o.record_log("I", "l", "b", timestamp_ns=-1), OverflowError, ""),
        (lambda o: o.record_histogram("m", "1.0"), TypeError, "argument 'value': "),
        (lambda o: o.record_histogram("m", 1, unit=None), TypeError, "argument 'unit': "),
        (lambda o: o.set_buckets("12"), TypeError, "argument 'buckets': "),
        (lambda o: o.set_buckets([1.0, "2"]), TypeError, "argument 'buckets': "),
        (lambda o: o.set_buckets(5), TypeError, "argument 'buckets': "),
        (lambda o: o.record_log("I", "l"), TypeError, "missing 1 required positional argument"),
        (lambda o: o.record_log("I", "l", "b", "f.py"), TypeError, "positional arguments"),
    ],
)
def test_argument_conversion_errors(call, error, text):
    obs = tw.ObservabilityRuntime()
    with pytest.raises(error) as err:
        call(obs)
    assert text in str(err.value)
    assert obs.logs() == [] and obs.metrics() == []


def test_conversion_accepts_ints_bools_and_float_hooks():
    class Celsius:
        def __float__(self):
            return 0.25

    obs = tw.ObservabilityRuntime()
    assert obs.record_histogram("m", Celsius()).sum == 0.25
    assert obs.record_histogram("m", True).sum == 1.0
    assert obs.record_log("I", "l", "b", line_number=True, timestamp_ns=None).line_number == 1
    obs.set_buckets([0, True, 2.5])
    assert obs.record_histogram("m", 1).explicit_bounds_json == "[0,1,2.5]"


def test_each_queue_is_trimmed_on_its_own():
    obs = tw.ObservabilityRuntime(retained_records=2)
    obs.record_histogram("only", 1.0)
    for body in "abc":
        obs.record_log("I", "l", body)
    assert [r.body for r in obs.logs()] == ["b", "c"]
    assert [m.name for m in obs.metrics()] == ["only"]
    for name in ("m1", "m2", "m3"):
        obs.record_histogram(name, 0)
    assert [m.name for m in obs.metrics()] == ["m2", "m3"]
    assert len(obs.logs()) == 2


@pytest.mark.parametrize(
    "value,error,message",
    [
        (0, ValueError, "retained_records must be positive"),
        (-1, OverflowError, None),
        ("1", TypeError, "argument 'retained_records': "),
    ],
)
def test_constructor_refusals(value, error, message):
    with pytest.raises(error) as err:
        tw.ObservabilityRuntime(retained_records=value)
    if message:
        assert str(err.value).startswith(message)


def test_constructor_is_keyword_only():
    with pytest.raises(TypeError):
        tw.ObservabilityRuntime(5)
    assert len(tw.ObservabilityRuntime(retained_records=1).logs()) == 0


def test_records_have_no_constructor_and_are_read_only():
    rec = tw.ObservabilityRuntime().record_log("I", "l", "b")
    for cls in (tw.LogRecordEnvelope, tw.MetricHistogramRecord):
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(AttributeError):
        rec.body = "x"
    assert repr(rec).startswith("<tarnwick._tarnwick_native.LogRecordEnvelope object")


def test_use_rule_refuses_reentry_from_a_conversion_hook():
    obs = tw.ObservabilityRuntime()
    seen = []

    class Reentrant:
        def __float__(self):
            for call in (obs.logs, lambda: obs.record_log("I", "l", "b")):
                try:
                    call()
                except RuntimeError as exc:
                    seen.append(str(exc))
            return 1.0

    obs.record_histogram("m", Reentrant())
    assert seen == ["Already mutably borrowed", "Already borrowed"]
    assert obs.logs() == [] and len(obs.metrics()) == 1


def test_readers_from_threads_do_not_conflict():
    obs = tw.ObservabilityRuntime(retained_records=8)
    for i in range(8):
        obs.record_log("I", "l", str(i))
    results = []

    def read():
        for _ in range(200):
            results.append(len(obs.logs()))

    threads = [threading.Thread(target=read) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [8] * 800


def test_no_leaks(no_leak):
    obs = tw.ObservabilityRuntime(retained_records=4)
    no_leak(lambda: tw.ObservabilityRuntime(retained_records=3))
    no_leak(lambda: obs.record_log("I", "l", "body", file_path="f", attributes_json='{"k":1}'))
    no_leak(lambda: obs.record_histogram("m", 0.2, unit="By"))
    no_leak(lambda: obs.set_buckets([0.5, 1.0]))
    no_leak(lambda: [r.body + r.attributes_json for r in obs.logs()])
    no_leak(lambda: [(m.name, m.sum, m.bucket_counts_json) for m in obs.metrics()])
    no_leak(lambda: obs.record_log("I", " ", "b"), error=ValueError)
    no_leak(lambda: obs.record_histogram("m", float("nan")), error=ValueError)
    no_leak(lambda: obs.set_buckets([2.0, 1.0]), error=ValueError)
    no_leak(lambda: obs.set_buckets([1.0, "x"]), error=TypeError)
    no_leak(lambda: obs.record_log("I", "l", "b", line_number=-1), error=OverflowError)
    no_leak(lambda: tw.ObservabilityRuntime(retained_records=0), error=ValueError)
