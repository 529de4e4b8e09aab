"""Calibration samples and the clock fitted to them by least squares."""

import math

import pytest

import tarnwick as tw

U64_MAX = 2**64 - 1


def samples(*pairs, temperature=None):
    return [tw.ClockCalibrationSample(o, r, temperature) for o, r in pairs]


def bracketed(clock):
    """The clock's reading and the system readings taken just before and after it."""
    system = tw.SystemTimeProvider()
    before = system.now_ns()
    value = clock.now_ns()
    after = system.now_ns()
    return before, value, after


def test_sample_fields_read_back():
    s = tw.ClockCalibrationSample(5, U64_MAX, 21.5)
    assert (s.observed_ns, s.reference_ns, s.temperature_c) == (5, U64_MAX, 21.5)
    assert tw.ClockCalibrationSample(1, 2).temperature_c is None
    assert tw.ClockCalibrationSample(1, 2, None).temperature_c is None
    whole = tw.ClockCalibrationSample(1, 2, temperature_c=20).temperature_c
    assert type(whole) is float and whole == 20.0
    assert math.isnan(tw.ClockCalibrationSample(1, 2, float("nan")).temperature_c)


@pytest.mark.parametrize(
    "args,error,text",
    [
        ((-1, 0), OverflowError, None),
        ((0, 2**64), OverflowError, None),
        ((1.5, 0), TypeError, "argument 'observed_ns': "),
        ((0, "1"), TypeError, "argument 'reference_ns': "),
        ((0, 1, "warm"), TypeError, "argument 'temperature_c': "),
    ],
)
def test_sample_argument_errors(args, error, text):
    with pytest.raises(error) as info:
        tw.ClockCalibrationSample(*args)
    if text:
        assert str(info.value).startswith(text)


# Fits whose slope is exactly zero give a reading independent of the wall clock,
# so the offset and the final rounding can be checked exactly.
@pytest.mark.parametrize(
    "pairs,expected",
    [
        ([(0, 1000), (10, 1000)], 1000),
        ([(0, 0), (1, 1), (2, 1), (3, 0)], 1),  # 0.5 rounds away from zero
        ([(0, 2), (1, 3), (2, 3), (3, 2)], 3),  # 2.5 as well, not to even
        ([(0, 1), (1, 0), (2, 1)], 1),  # 2/3
        ([(0, 0), (1, 1), (2, 0)], 0),  # 1/3
        ([(5, 0), (9, 0)], 0),
    ],
)
def test_flat_fits_read_exactly(pairs, expected):
    assert tw.CalibratedClock(samples(*pairs)).now_ns() == expected


def test_single_sample_shifts_by_its_difference():
    before, value, after = bracketed(tw.CalibratedClock(samples((1_000, 1_500))))
    # Doubles near the current time are spaced 256 ns apart.
    assert before + 500 - 256 <= value <= after + 500 + 256


def test_line_through_three_samples_has_slope_two_and_offset_ten():
    before, value, after = bracketed(tw.CalibratedClock(samples((0, 10), (10, 30), (20, 50))))
    assert 2 * before + 10 - 512 <= value <= 2 * after + 10 + 512


def test_equal_observations_give_slope_one_and_the_mean_difference():
    clock = tw.CalibratedClock(samples((100, 1_000_100), (100, 3_000_100)))
    before, value, after = bracketed(clock)
    assert before + 2_000_000 - 256 <= value <= after + 2_000_000 + 256


def test_fit_at_the_scale_of_real_timestamps():
    base = tw.SystemTimeProvider().now_ns()
    pairs = [(base + i * 1_000_000_000, base + i * 1_000_000_000 + 7_000) for i in range(5)]
    before, value, after = bracketed(tw.CalibratedClock(samples(*pairs)))
    assert before + 7_000 - 10_000 <= value <= after + 7_000 + 10_000


def test_temperature_has_no_effect_on_the_fit():
    pairs = [(0, 0), (1, 1), (2, 1), (3, 0)]
    for temperature in (None, -40.0, float("nan"), float("inf")):
        assert tw.CalibratedClock(samples(*pairs, temperature=temperature)).now_ns() == 1


def test_negative_result_is_refused_and_huge_result_saturates():
    negative = tw.CalibratedClock(samples((2**63, 0)))
    with pytest.raises(RuntimeError, match="^calibrated time is not finite$"):
        negative.now_ns()
    with pytest.raises(RuntimeError, match="^calibrated time is not finite$"):
        negative.now_ns()
    steep = tw.CalibratedClock(samples((0, 0), (1, 2**63)))
    assert steep.now_ns() == U64_MAX


def test_samples_are_copied_in_and_out():
    given = samples((0, 10), (10, 30), (20, 50), temperature=3.0)
    clock = tw.CalibratedClock(given)
    given.clear()
    first, second = clock.samples, clock.samples
    assert [(s.observed_ns, s.reference_ns, s.temperature_c) for s in first] == [
        (0, 10, 3.0),
        (10, 30, 3.0),
        (20, 50, 3.0),
    ]
    assert all(a is not b for a, b in zip(first, second, strict=True))
    assert tw.CalibratedClock(tuple(samples((7, 7)))).samples[0].observed_ns == 7


@pytest.mark.parametrize(
    "value,error,text",
    [
        ([], ValueError, "calibrated clock requires at least one true time observation"),
        ("abc", TypeError, "argument 'samples': "),
        (5, TypeError, "argument 'samples': "),
        ([tw.ClockCalibrationSample(0, 0), (1, 1)], TypeError, "argument 'samples': "),
    ],
)
def test_calibrated_clock_argument_errors(value, error, text):
    with pytest.raises(error) as info:
        tw.CalibratedClock(value)
    assert str(info.value).startswith(text)


def test_calibration_classes_do_not_leak(no_leak):
    given = samples((0, 0), (1, 1), (2, 1), (3, 0), temperature=1.0)
    clock = tw.CalibratedClock(given)
    negative = tw.CalibratedClock(samples((2**63, 0)))
    no_leak(lambda: tw.ClockCalibrationSample(1, 2, 3.0))
    no_leak(lambda: given[0].temperature_c)
    no_leak(lambda: tw.CalibratedClock(given))
    no_leak(lambda: clock.samples)
    no_leak(clock.now_ns)
    no_leak(negative.now_ns, error=RuntimeError)
    no_leak(lambda: tw.CalibratedClock([]), error=ValueError)
    no_leak(lambda: tw.CalibratedClock("x"), error=TypeError)
    no_leak(lambda: tw.ClockCalibrationSample(-1, 0), error=OverflowError)
