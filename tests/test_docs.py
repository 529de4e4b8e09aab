"""The README's examples and the tour run as shown."""

import pathlib
import re
import subprocess
import sys

README = pathlib.Path(__file__).parents[1] / "README.md"


def python_blocks():
    return re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)


def test_readme_examples_run(capsys):
    blocks = python_blocks()
    assert blocks
    for block in blocks:
        exec(compile(block, str(README), "exec"), {})
    out = capsys.readouterr().out
    assert "read.raw.imu.accel.x.payload.v1" in out
    assert "variant request is not valid for plane read" in out


def test_readme_has_exactly_two_setup_commands():
    commands = re.findall(r"```sh\n(.*?)```", README.read_text(), flags=re.S)
    assert [c.strip() for c in commands] == [
        "bash scripts/setup.sh && python3 -m tarnwick",
        "bash scripts/setup.sh --test && bash scripts/run-tests.sh",
    ]


def test_tour_runs_and_explains_itself():
    tour = subprocess.run([sys.executable, "-m", "tarnwick"], capture_output=True, text=True)
    assert tour.returncode == 0, tour.stderr
    assert "write request routes must not use the shadow layer" in tour.stdout
    helped = subprocess.run(
        [sys.executable, "-m", "tarnwick", "--help"], capture_output=True, text=True
    )
    assert helped.returncode == 0 and "usage: python -m tarnwick" in helped.stdout
