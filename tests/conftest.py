"""Shared builders and checks for the test suite."""

import gc
import sys

import pytest

import tarnwick as tw

LEAK_CALLS = 10_000
LEAK_SLACK_BLOCKS = 64


def _expect_error(fn, error):
    try:
        fn()
    except error:
        return
    raise AssertionError(f"{fn} did not raise {error.__name__}")


def check_no_leak(fn, *, error=None, calls=LEAK_CALLS, slack=LEAK_SLACK_BLOCKS):
    """Runs `fn` `calls` times and fails if allocated blocks keep growing.

    With `error`, every call must raise that exception type (error paths leak
    too). Blocks are counted by the interpreter's allocator, so the check is
    meaningful only when PYTHONMALLOC is not "malloc".
    """
    call = (lambda: _expect_error(fn, error)) if error else fn
    for _ in range(200):
        call()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(calls):
        call()
    gc.collect()
    grown = sys.getallocatedblocks() - before
    assert grown <= slack, f"{grown} blocks still allocated after {calls} calls"


@pytest.fixture
def no_leak():
    return check_no_leak


def make_route(
    plane=tw.Plane.Read,
    layer=tw.Layer.Raw,
    owner="imu",
    family="accel",
    stream="x",
    variant=tw.Variant.Payload,
    schema_id="imu.accel",
    version=1,
):
    """A route with defaults that satisfy the validity rules."""
    return tw.RouteRef(
        tw.NamespaceRef(plane, layer, owner),
        family,
        stream,
        variant,
        tw.SchemaRef(schema_id, version),
    )


@pytest.fixture
def route():
    return make_route()
