"""System wall clock and the per-object logical counters."""

import threading
import time

import pytest

import tarnwick as tw

COUNTERS = [tw.MonotonicLogicalClock, tw.Clock]


def test_system_time_reads_the_wall_clock_in_nanoseconds():
    provider = tw.SystemTimeProvider()
    before = time.time_ns()
    reading = provider.now_ns()
    after = time.time_ns()
    assert type(reading) is int
    # The wall clock may be stepped between the readings; a second is ample.
    assert before - 1_000_000_000 <= reading <= after + 1_000_000_000


@pytest.mark.parametrize("cls", COUNTERS)
def test_counters_start_at_one_and_are_independent(cls):
    first, second = cls(), cls()
    assert [first.tick(), first.tick(), first.tick()] == [1, 2, 3]
    assert second.tick() == 1
    assert first.tick() == 4


def test_the_two_counter_classes_are_distinct_and_bare():
    monotonic, clock = tw.MonotonicLogicalClock(), tw.Clock()
    assert (monotonic.tick(), clock.tick(), clock.tick(), monotonic.tick()) == (1, 1, 2, 2)
    assert not isinstance(monotonic, tw.Clock)
    assert not isinstance(clock, tw.MonotonicLogicalClock)
    for obj in (monotonic, clock):
        assert [n for n in dir(obj) if not n.startswith("_")] == ["tick"]
    assert [n for n in dir(tw.SystemTimeProvider()) if not n.startswith("_")] == ["now_ns"]


@pytest.mark.parametrize(
    "call",
    [
        lambda: tw.SystemTimeProvider(1),
        lambda: tw.SystemTimeProvider().now_ns(1),
        lambda: tw.Clock(start=1),
        lambda: tw.MonotonicLogicalClock().tick(step=2),
    ],
)
def test_no_arguments_are_taken(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("cls", COUNTERS)
def test_ticks_from_several_threads_are_never_lost(cls):
    clock = cls()
    per_thread, threads = 5_000, 4

    def run():
        for _ in range(per_thread):
            clock.tick()

    workers = [threading.Thread(target=run) for _ in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert clock.tick() == per_thread * threads + 1


def test_clock_classes_do_not_leak(no_leak):
    provider, clock, monotonic = tw.SystemTimeProvider(), tw.Clock(), tw.MonotonicLogicalClock()
    no_leak(tw.SystemTimeProvider)
    no_leak(provider.now_ns)
    no_leak(lambda: tw.Clock().tick())
    no_leak(clock.tick)
    no_leak(monotonic.tick)
    no_leak(lambda: monotonic.tick(1), error=TypeError)
