"""SNTP client exchanges against a scripted peer and against a real daemon."""

import os
import pathlib
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

import pytest

import tarnwick as tw

PEER = pathlib.Path(__file__).with_name("sntp_peer.py")
UNIX_EPOCH = 2_208_988_800  # seconds from 1900 to 1970
REQUEST = bytes([0x1B]) + bytes(47)


def reply(seconds, fraction, *, size=48, head=b"\x24\x02\x00\xe7"):
    """A server reply carrying the given transmit timestamp."""
    body = head + bytes(36) + struct.pack(">II", seconds & 0xFFFFFFFF, fraction)
    return (body + bytes(max(0, size - 48)))[:size]


class ScriptedPeer:
    def __init__(self):
        self.proc = subprocess.Popen(
            [sys.executable, str(PEER)],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
        )
        self.port = int(self.proc.stdout.readline())

    def provider(self, timeout_ms=2000):
        return tw.NtpTimeProvider("127.0.0.1", port=self.port, timeout_ms=timeout_ms)

    def expect(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def request(self):
        return bytes.fromhex(self.proc.stdout.readline().strip())

    def exchange(self, answer, timeout_ms=2000):
        """One now_ns call answered with `answer` (None: never answered)."""
        self.expect("-" if answer is None else answer.hex())
        try:
            result = self.provider(timeout_ms).now_ns()
        except RuntimeError as error:
            result = error
        return result, self.request()

    def close(self):
        self.proc.stdin.close()
        self.proc.kill()
        self.proc.wait()


@pytest.fixture(scope="module")
def peer():
    p = ScriptedPeer()
    yield p
    p.close()


@pytest.fixture(scope="module")
def auto_peer():
    """Answers every request with a valid reply, as fast as it can."""
    procs = []

    def start(answer):
        proc = subprocess.Popen(
            [sys.executable, str(PEER), "auto", answer.hex()], stdout=subprocess.PIPE, text=True
        )
        procs.append(proc)
        return int(proc.stdout.readline())

    yield start
    for proc in procs:
        proc.kill()
        proc.wait()


@pytest.mark.parametrize(
    "seconds,fraction,expected",
    [
        (UNIX_EPOCH, 0, 0),
        (UNIX_EPOCH, 2**31, 500_000_000),
        (UNIX_EPOCH, 2**32 - 1, 999_999_999),
        (UNIX_EPOCH, 1, 0),
        (UNIX_EPOCH + 1_700_000_000, 2**30, 1_700_000_000_250_000_000),
        (2**32 - 1, 2**32 - 1, (2**32 - 1 - UNIX_EPOCH) * 10**9 + 999_999_999),
    ],
)
def test_transmit_timestamp_becomes_unix_nanoseconds(peer, seconds, fraction, expected):
    result, request = peer.exchange(reply(seconds, fraction))
    assert request == REQUEST
    assert result == expected


@pytest.mark.parametrize("seconds,fraction", [(UNIX_EPOCH - 1, 2**32 - 1), (0, 0)])
def test_timestamps_before_1970_are_refused(peer, seconds, fraction):
    result, _ = peer.exchange(reply(seconds, fraction))
    assert isinstance(result, RuntimeError)
    assert str(result) == "NTP response predates Unix epoch"


@pytest.mark.parametrize("size", [0, 1, 40, 47])
def test_short_replies_are_refused(peer, size):
    result, _ = peer.exchange(reply(UNIX_EPOCH + 5, 0, size=size))
    assert isinstance(result, RuntimeError)
    assert str(result) == "NTP response was shorter than 48 bytes"


def test_long_reply_is_read_as_its_first_48_bytes(peer):
    long = reply(UNIX_EPOCH + 7, 2**31) + struct.pack(">II", 1, 1) + bytes(4)
    assert len(long) == 60
    assert peer.exchange(long)[0] == 7_500_000_000


@pytest.mark.parametrize(
    "head",
    [b"\x00\x00\x00\x00", b"\xff\x00\x11\x22", b"\x1b\x10\x00\x00"],
    ids=["zero-stratum", "alarm-leap-bad-mode", "client-mode"],
)
def test_only_the_transmit_timestamp_is_examined(peer, head):
    answer = head + bytes(range(4, 40)) + struct.pack(">II", UNIX_EPOCH + 3, 0)
    assert peer.exchange(answer)[0] == 3_000_000_000


def test_no_reply_times_out(peer):
    result, request = peer.exchange(None, timeout_ms=150)
    assert request == REQUEST
    assert isinstance(result, RuntimeError)
    assert str(result).startswith("failed to receive NTP response: ")


def test_ipv6_first_address_fails_at_the_send_step():
    with pytest.raises(RuntimeError, match="^failed to send NTP request: "):
        tw.NtpTimeProvider("::1", port=9, timeout_ms=100).now_ns()


def test_other_threads_run_while_a_call_waits_for_its_reply(peer):
    """The answer is only sent by this thread after the call has started waiting;
    a call that kept the interpreter lock would time out instead."""
    outcome = {}
    peer.expect("hold")
    worker = threading.Thread(
        target=lambda: outcome.setdefault("value", peer.provider(timeout_ms=5000).now_ns())
    )
    worker.start()
    assert peer.request() == REQUEST
    peer.expect(reply(UNIX_EPOCH + 11, 0).hex())
    worker.join()
    assert outcome == {"value": 11_000_000_000}


def test_calls_from_several_threads_are_independent(auto_peer):
    port = auto_peer(reply(UNIX_EPOCH + 9, 2**31))
    provider = tw.NtpTimeProvider("127.0.0.1", port=port)
    results = []
    workers = [
        threading.Thread(target=lambda: results.extend(provider.now_ns() for _ in range(50)))
        for _ in range(4)
    ]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert results == [9_500_000_000] * 200


def test_settings_read_back_as_given():
    plain = tw.NtpTimeProvider(" pool.example ")
    assert (plain.server, plain.port, plain.timeout_ms) == (" pool.example ", 123, 1000)
    custom = tw.NtpTimeProvider("10.0.0.1", port=65535, timeout_ms=2**64 - 1)
    assert (custom.server, custom.port, custom.timeout_ms) == ("10.0.0.1", 65535, 2**64 - 1)


@pytest.mark.parametrize(
    "kwargs,error,text",
    [
        ({"server": " \t\u3000"}, ValueError, "ntp server must be a non-empty string"),
        ({"server": "", "port": 0}, ValueError, "ntp server must be a non-empty string"),
        ({"server": "h", "port": 0, "timeout_ms": 0}, ValueError, "ntp port must be positive"),
        ({"server": "h", "timeout_ms": 0}, ValueError, "ntp timeout_ms must be positive"),
        ({"server": b"h"}, TypeError, "argument 'server': "),
        ({"server": "h", "port": "123"}, TypeError, "argument 'port': "),
        ({"server": "h", "timeout_ms": 1.5}, TypeError, "argument 'timeout_ms': "),
        ({"server": "h", "port": 65536}, OverflowError, None),
        ({"server": "h", "port": -1}, OverflowError, None),
        ({"server": "h", "timeout_ms": -1}, OverflowError, None),
        ({"server": "", "port": "x"}, TypeError, "argument 'port': "),
    ],
)
def test_construction_errors(kwargs, error, text):
    with pytest.raises(error) as info:
        tw.NtpTimeProvider(**kwargs)
    if text:
        assert str(info.value).startswith(text)


def test_port_and_timeout_are_keyword_only():
    with pytest.raises(TypeError):
        tw.NtpTimeProvider("h", 123)
    with pytest.raises(TypeError):
        tw.NtpTimeProvider("h", 123, 1000)


def _open_fds():
    return len(os.listdir("/proc/self/fd"))


@pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc")
def test_the_socket_is_closed_on_every_path(auto_peer):
    good = auto_peer(reply(UNIX_EPOCH + 1, 0))
    short = auto_peer(reply(UNIX_EPOCH + 1, 0, size=47))
    early = auto_peer(reply(UNIX_EPOCH - 1, 0))
    silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    silent.bind(("127.0.0.1", 0))
    try:
        paths = [
            (tw.NtpTimeProvider("127.0.0.1", port=good), None, 200),
            (tw.NtpTimeProvider("127.0.0.1", port=short), RuntimeError, 200),
            (tw.NtpTimeProvider("127.0.0.1", port=early), RuntimeError, 200),
            (tw.NtpTimeProvider("::1", port=good), RuntimeError, 200),
            (
                tw.NtpTimeProvider("127.0.0.1", port=silent.getsockname()[1], timeout_ms=1),
                RuntimeError,
                20,
            ),
        ]
        before = _open_fds()
        for provider, error, calls in paths:
            for _ in range(calls):
                if error is None:
                    provider.now_ns()
                else:
                    with pytest.raises(error):
                        provider.now_ns()
        assert _open_fds() == before
    finally:
        silent.close()


def test_ntp_provider_does_not_leak(no_leak, auto_peer):
    good = tw.NtpTimeProvider("127.0.0.1", port=auto_peer(reply(UNIX_EPOCH + 1, 0)))
    short = tw.NtpTimeProvider("127.0.0.1", port=auto_peer(reply(UNIX_EPOCH, 0, size=20)))
    no_leak(lambda: tw.NtpTimeProvider("time.example", port=1234, timeout_ms=10))
    no_leak(lambda: (good.server, good.port, good.timeout_ms))
    no_leak(good.now_ns)
    no_leak(short.now_ns, error=RuntimeError)
    no_leak(tw.NtpTimeProvider("::1", port=1).now_ns, error=RuntimeError)
    no_leak(lambda: tw.NtpTimeProvider(" "), error=ValueError)
    no_leak(lambda: tw.NtpTimeProvider("h", port="1"), error=TypeError)


# ---- against a real daemon -------------------------------------------------------------


def plain_environment():
    """The environment without sanitizer preloads, which the daemon cannot run under."""
    return {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}


def _free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _plain_sntp_query(port, timeout):
    """An independent SNTP query, used only to see that the daemon serves time."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(timeout)
        s.sendto(REQUEST, ("127.0.0.1", port))
        data = s.recv(1024)
    seconds, fraction = struct.unpack(">II", data[40:48])
    return (seconds - UNIX_EPOCH) * 10**9 + (fraction * 10**9 >> 32)


@pytest.fixture(scope="module")
def daemon_port():
    chronyd = shutil.which("chronyd") or next(
        (p for p in ("/usr/sbin/chronyd", "/sbin/chronyd") if os.path.exists(p)), None
    )
    if chronyd is None:
        pytest.skip("chronyd is not installed")
    port = _free_udp_port()
    with tempfile.TemporaryDirectory() as work:
        conf = pathlib.Path(work, "chrony.conf")
        conf.write_text(
            f"port {port}\nbindaddress 127.0.0.1\nallow 127.0.0.1\nlocal stratum 8\n"
            f"cmdport 0\npidfile {work}/chronyd.pid\ndriftfile {work}/drift\n"
        )
        privileges = ["-u", "root"] if os.geteuid() == 0 else ["-U"]
        proc = subprocess.Popen(
            [chronyd, "-f", str(conf), "-d", "-x", *privileges],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            env=plain_environment(),
        )
        try:
            deadline = time.monotonic() + 5
            while True:
                if proc.poll() is not None:
                    pytest.skip(f"chronyd cannot run here: {proc.stderr.read().decode()[-300:]}")
                try:
                    _plain_sntp_query(port, 0.2)
                    break
                except OSError:
                    if time.monotonic() > deadline:
                        pytest.skip("chronyd did not start serving time")
            yield port
        finally:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


def test_time_from_a_real_daemon_on_loopback(daemon_port):
    provider = tw.NtpTimeProvider("127.0.0.1", port=daemon_port, timeout_ms=2000)
    before = tw.SystemTimeProvider().now_ns()
    served = provider.now_ns()
    after = tw.SystemTimeProvider().now_ns()
    # The daemon serves the host clock: within a second of the local readings.
    assert before - 10**9 <= served <= after + 10**9
    assert abs(provider.now_ns() - _plain_sntp_query(daemon_port, 2)) < 10**9
