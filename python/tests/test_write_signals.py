"""varndel.write installs no process-wide signal handler: after it, Ctrl-C
is Python's KeyboardInterrupt and a handler the user set is the one called.
Each check runs in a child interpreter, so a regression kills the child, not
the test run."""
import os
import signal
import sys

import pytest

from conftest import python_run

SCRIPT = r"""
import os, signal, sys, time
import varndel
model = varndel.read(sys.argv[1])
out = sys.argv[2]
seen = []
if sys.argv[3] == "user":
    signal.signal(signal.SIGINT, lambda number, frame: seen.append(number))
varndel.write(model, out)
varndel.write(model, out)  # over the first: a second temporary, renamed
try:
    os.kill(os.getpid(), signal.SIGINT)
    for _ in range(100):  # the handler runs between bytecodes
        if seen:
            break
        time.sleep(0.01)
except KeyboardInterrupt:
    print("KeyboardInterrupt")
if seen:
    print("user handler", seen[0])
print("alive", sorted(os.listdir(os.path.dirname(out))))
"""


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
@pytest.mark.parametrize("handler, expected", [
    ("default", "KeyboardInterrupt"),
    ("user", "user handler %d" % signal.SIGINT),
])
def test_interrupt_after_write_reaches_python(compiled, tmp_path, handler, expected):
    model = compiled["examples/crate.obj"]
    out = tmp_path / "w.staticbin"
    done = python_run(tmp_path, SCRIPT, str(model), str(out), handler)
    assert done.returncode == 0, done.stderr.decode()
    lines = done.stdout.decode().splitlines()
    assert lines[0] == expected
    assert lines[-1] == "alive ['w.staticbin']"  # no temporary beside it
    assert out.read_bytes() == model.read_bytes()
