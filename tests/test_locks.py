"""Named locks: in-process exclusion, lock files with flock, and leases."""

import gc
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import textwrap
import threading
import uuid

import pytest

import tarnwick as tw

PACKAGE_ROOT = str(pathlib.Path(tw.__file__).parents[1])
FLOCK = shutil.which("flock")


@pytest.fixture
def lock_dir(monkeypatch, tmp_path):
    """A private temporary directory for lock files (in memory where possible)."""
    base = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(dir=base or tmp_path) as path:
        monkeypatch.setenv("TMPDIR", path)
        yield pathlib.Path(path)


def tool_env():
    """External tools run without the sanitizer preloads of a sanitized test run."""
    return {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}


def fresh_name(tag="job"):
    """Lock states are process-wide; each test uses names of its own."""
    return f"{tag}-{uuid.uuid4().hex[:12]}"


def child_env(lock_dir):
    return dict(os.environ, PYTHONPATH=PACKAGE_ROOT, TMPDIR=str(lock_dir))


def run_child(code, lock_dir, **kwargs):
    return subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=child_env(lock_dir),
        text=True,
        **kwargs,
    )


def read_record(path):
    lines = pathlib.Path(path).read_text().split("\n")
    assert lines[-1] == ""
    return dict(line.split("=", 1) for line in lines[:-1])


# ---- names and paths ----------------------------------------------------------------------


@pytest.mark.parametrize(
    "name,trimmed,file_name",
    [
        ("  job \t", "job", "6a6f62.lock"),
        ("a", "a", "61.lock"),
        ("\u3000é/x\u00a0", "é/x", "c3a92f78.lock"),
        ("A b", "A b", "412062.lock"),
    ],
)
def test_name_is_trimmed_and_hex_encoded_into_the_path(lock_dir, name, trimmed, file_name):
    for lock in (tw.TarnwickLock(name), tw.TarnwickLock.for_resource(name)):
        assert lock.name == trimmed
        assert lock.path == str(lock_dir / "tarnwick" / "locks" / file_name)
    assert not (lock_dir / "tarnwick").exists()  # nothing on disk before a take


def test_non_utf8_temporary_directory_shows_replacement_characters(monkeypatch, tmp_path):
    monkeypatch.setenv("TMPDIR", os.fsdecode(bytes(tmp_path) + b"/\xff"))
    assert tw.TarnwickLock("a").path == f"{tmp_path}/\ufffd/tarnwick/locks/61.lock"


@pytest.mark.parametrize(
    "make",
    [tw.TarnwickLock, tw.TarnwickLock.for_resource],
)
@pytest.mark.parametrize(
    "name,error,text",
    [
        ("", ValueError, "lock name must be a non-empty string"),
        (" \n\u2003", ValueError, "lock name must be a non-empty string"),
        (b"job", TypeError, "argument 'name': "),
        (None, TypeError, "argument 'name': "),
    ],
)
def test_lock_name_errors(make, name, error, text):
    with pytest.raises(error) as info:
        make(name)
    assert str(info.value).startswith(text)


# ---- taking and releasing in one process -----------------------------------------------------


def test_take_writes_the_holder_record(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    before = tw.SystemTimeProvider().now_ns()
    lease = lock.take()
    after = tw.SystemTimeProvider().now_ns()
    record = read_record(lock.path)
    assert list(record) == ["name", "owner", "pid", "thread", "acquired_time_ns"]
    assert record["name"] == lock.name == lease.lock_name
    assert record["pid"] == str(os.getpid())
    assert record["thread"].startswith("ThreadId(") and record["thread"].endswith(")")
    assert record["thread"][9:-1].isdigit()
    assert lease.owner == record["owner"] == "thread:" + record["thread"]
    assert before <= int(record["acquired_time_ns"]) <= lease.acquired_time_ns <= after
    assert lease.is_released is False
    assert lease.release() is True


def test_threads_get_distinct_identifiers(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    owners = []
    for _ in range(2):
        worker = threading.Thread(target=lambda: owners.append(lock.take().owner))
        worker.start()
        worker.join()
    with lock.take() as mine:
        owners.append(mine.owner)
    assert len(set(owners)) == 3
    assert all(o.startswith("thread:ThreadId(") for o in owners)


def test_owner_is_trimmed_and_blank_owner_leaves_the_lock_free(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    with pytest.raises(ValueError, match="^lock owner must be a non-empty string$"):
        lock.take(owner=" \t ")
    lease = lock.take(owner="  worker 7 ", blocking=False)
    assert lease.owner == "worker 7"
    assert read_record(lock.path)["owner"] == "worker 7"
    lease.release()


@pytest.mark.parametrize(
    "kwargs,text",
    [
        ({"owner": 1}, "argument 'owner': "),
        ({"owner": b"me"}, "argument 'owner': "),
        ({"blocking": 1}, "argument 'blocking': "),
        ({"blocking": None}, "argument 'blocking': "),
        ({"owner": 1, "blocking": "no"}, "argument 'owner': "),
        ({"owner": " ", "blocking": "no"}, "argument 'blocking': "),
    ],
)
def test_take_argument_errors(lock_dir, kwargs, text):
    lock = tw.TarnwickLock(fresh_name())
    with pytest.raises(TypeError) as info:
        lock.take(**kwargs)
    assert str(info.value).startswith(text)
    with pytest.raises(TypeError):
        lock.take("owner")  # keyword-only
    lock.take(blocking=False).release()  # nothing was left held


@pytest.mark.parametrize(
    "name,shown",
    [("job", '"job"'), ('say "hi"\\', '"say \\"hi\\"\\\\"'), ("tab\there", '"tab\\there"')],
)
def test_second_non_blocking_take_in_one_process_is_refused(lock_dir, name, shown):
    name = f"{name}{uuid.uuid4().hex[:6]}"
    shown = shown[:-1] + name[-6:] + '"'
    held = tw.TarnwickLock(name).take(blocking=False)
    other = tw.TarnwickLock.for_resource(f"  {name} ")
    with pytest.raises(RuntimeError) as info:
        other.take(blocking=False)
    assert str(info.value) == f"Tarnwick lock {shown} is already held"
    held.release()
    other.take(blocking=False).release()


def test_release_is_idempotent_and_keeps_the_last_record(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    lease = lock.take(owner="first")
    assert (lease.release(), lease.is_released, lease.release()) == (True, True, False)
    assert read_record(lock.path)["owner"] == "first"
    with lock.take(owner="second", blocking=False):
        assert read_record(lock.path)["owner"] == "second"
    assert read_record(lock.path)["owner"] == "second"


def test_lease_as_context_manager(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    lease = lock.take()
    with lease as entered:
        assert entered is lease
        assert not lease.is_released
    assert lease.is_released
    with pytest.raises(KeyError, match="inside"), lock.take(blocking=False) as inner:
        raise KeyError("inside")
    assert inner.is_released
    assert lease.__exit__(None, None, None) is None
    lock.take(blocking=False).release()


def test_dropped_lease_releases_and_a_lease_outlives_its_lock(lock_dir):
    name = fresh_name()
    tw.TarnwickLock(name).take()
    gc.collect()
    lease = tw.TarnwickLock(name).take(blocking=False)  # the dropped lease let go
    with pytest.raises(RuntimeError, match="is already held"):
        tw.TarnwickLock(name).take(blocking=False)
    gc.collect()
    assert lease.release() is True
    tw.TarnwickLock(name).take(blocking=False).release()


def test_failed_open_leaves_the_lock_free(lock_dir):
    lock = tw.TarnwickLock("n" * 200)  # 400 hex digits: longer than a file name may be
    for _ in range(2):  # the second attempt is not refused as already held
        with pytest.raises(RuntimeError, match="^failed to open Tarnwick lock file: "):
            lock.take(blocking=False)


def test_failed_directory_creation_leaves_the_lock_free(monkeypatch, tmp_path):
    blocker = tmp_path / "not-a-directory"
    blocker.write_text("")
    monkeypatch.setenv("TMPDIR", str(blocker))
    lock = tw.TarnwickLock(fresh_name())
    for _ in range(2):
        with pytest.raises(RuntimeError, match="^failed to create Tarnwick lock directory: "):
            lock.take()


def test_threads_of_one_process_exclude_each_other(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    state = {"inside": 0, "count": 0, "overlaps": 0}

    def run():
        for _ in range(200):
            with lock.take():
                state["inside"] += 1
                if state["inside"] != 1:
                    state["overlaps"] += 1
                count = state["count"]
                os.sched_yield()
                state["count"] = count + 1
                state["inside"] -= 1

    workers = [threading.Thread(target=run) for _ in range(4)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert state == {"inside": 0, "count": 800, "overlaps": 0}


def test_blocking_take_waits_for_a_release_by_another_thread(lock_dir):
    """Run in a child: a take that kept the interpreter lock would hang there."""
    code = f"""
        import threading, time
        import tarnwick as tw
        lock = tw.TarnwickLock({fresh_name()!r})
        held = lock.take(owner="main")
        got = []
        waiter = threading.Thread(target=lambda: got.append(lock.take(owner="waiter")))
        waiter.start()
        time.sleep(0.2)
        assert waiter.is_alive(), "the take did not wait"
        released_at = tw.SystemTimeProvider().now_ns()
        held.release()
        waiter.join(10)
        assert got and got[0].owner == "waiter", "the take did not return"
        assert got[0].acquired_time_ns >= released_at
        print("ok")
    """
    proc = run_child(code, lock_dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        pytest.fail("a blocking take waiting on this process's own holder never returned")
    assert proc.returncode == 0, err
    assert out == "ok\n"


# ---- across processes -------------------------------------------------------------------------


HOLDER = """
    import sys
    import tarnwick as tw
    lease = tw.TarnwickLock(sys.argv[1]).take(owner="holder")
    print("held", flush=True)
    sys.stdin.readline()
    lease.release()
    print("released", flush=True)
    sys.stdin.readline()
"""


def test_holder_in_another_process_refuses_a_non_blocking_take(lock_dir):
    name = fresh_name()
    proc = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(HOLDER), name],
        env=child_env(lock_dir),
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        assert proc.stdout.readline() == "held\n"
        lock = tw.TarnwickLock(name)
        for _ in range(2):  # the in-process claim was given back after the failure
            with pytest.raises(RuntimeError, match="^failed to acquire Tarnwick lock file: "):
                lock.take(blocking=False)
        assert read_record(lock.path)["owner"] == "holder"
        proc.stdin.write("\n")
        proc.stdin.flush()
        assert proc.stdout.readline() == "released\n"
        with lock.take(owner="parent", blocking=False):
            assert read_record(lock.path)["pid"] == str(os.getpid())
    finally:
        proc.stdin.close()
        proc.wait(10)


COUNTER = """
    import os, sys
    import tarnwick as tw
    name, counter, inside, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    lock = tw.TarnwickLock(name)
    for _ in range(rounds):
        with lock.take():
            try:
                os.close(os.open(inside, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
            except FileExistsError:
                sys.exit("two holders at once")
            with open(counter, "r+") as f:
                value = int(f.read())
                f.seek(0)
                f.write(str(value + 1))
                f.truncate()
            os.unlink(inside)
"""


def test_processes_increment_a_shared_counter_under_the_lock(lock_dir):
    processes, rounds = 8, 200
    counter, inside = lock_dir / "counter", lock_dir / "inside"
    counter.write_text("0")
    name = fresh_name("counter")
    children = [
        subprocess.Popen(
            [
                sys.executable,
                "-c",
                textwrap.dedent(COUNTER),
                name,
                str(counter),
                str(inside),
                str(rounds),
            ],
            env=child_env(lock_dir),
            stderr=subprocess.PIPE,
            text=True,
        )
        for _ in range(processes)
    ]
    errors = [c.communicate(timeout=120)[1] for c in children]
    assert [c.returncode for c in children] == [0] * processes, errors
    assert int(counter.read_text()) == processes * rounds
    assert not inside.exists()


@pytest.mark.skipif(FLOCK is None, reason="needs the flock command")
def test_flock_command_sees_the_lock_file_locked(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    lease = lock.take()
    assert (
        subprocess.run([FLOCK, "-n", lock.path, "true"], check=False, env=tool_env()).returncode
        == 1
    )
    lease.release()
    assert (
        subprocess.run([FLOCK, "-n", lock.path, "true"], check=False, env=tool_env()).returncode
        == 0
    )


@pytest.mark.skipif(FLOCK is None, reason="needs the flock command")
def test_take_waits_for_the_flock_command(lock_dir):
    lock = tw.TarnwickLock(fresh_name())
    lock.take().release()  # creates the file
    holder = subprocess.Popen(
        [FLOCK, "-n", lock.path, "sh", "-c", "echo locked; read line"],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
        env=tool_env(),
    )
    try:
        assert holder.stdout.readline() == "locked\n"
        with pytest.raises(RuntimeError, match="^failed to acquire Tarnwick lock file: "):
            lock.take(blocking=False)
        got = []
        waiter = threading.Thread(target=lambda: got.append(lock.take()))
        waiter.start()
        waiter.join(0.2)
        assert waiter.is_alive()
        released_at = tw.SystemTimeProvider().now_ns()
        holder.stdin.write("\n")
        holder.stdin.close()
        waiter.join(10)
        assert got and got[0].acquired_time_ns >= released_at
        got[0].release()
    finally:
        holder.kill()
        holder.wait()


# ---- leaks -----------------------------------------------------------------------------------


def test_locks_do_not_leak(lock_dir, no_leak):
    lock = tw.TarnwickLock(fresh_name())
    held = tw.TarnwickLock(fresh_name())
    lease = held.take()
    no_leak(lambda: tw.TarnwickLock(" leak "))
    no_leak(lambda: tw.TarnwickLock.for_resource("leak"))
    no_leak(lambda: (lock.name, lock.path))
    no_leak(lambda: lock.take(owner="me", blocking=False).release())
    no_leak(lambda: lock.take())  # released when dropped
    no_leak(lambda: (lease.lock_name, lease.owner, lease.acquired_time_ns, lease.is_released))
    no_leak(lambda: held.take(blocking=False), error=RuntimeError)
    no_leak(lambda: lock.take(owner=" "), error=ValueError)
    no_leak(lambda: lock.take(owner=5), error=TypeError)
    no_leak(lambda: tw.TarnwickLock(""), error=ValueError)
    lease.release()
