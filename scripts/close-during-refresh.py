#!/usr/bin/env python3
"""How long the program takes to end when its window is closed during a complete refresh:
runs `orb-bench --only window --window-close-during-refresh` and measures, on the same steady
clock, from the close to the end of the process; then stops the benchmark's server.

  scripts/close-during-refresh.py build-rel/bench/orb-bench [devices, default 1000000]"""
import os
import re
import subprocess
import sys
import time

bench = sys.argv[1]
devices = sys.argv[2] if len(sys.argv) > 2 else "1000000"
proc = subprocess.Popen([bench, "--only", "window", "--window-devices", devices, "--window-close-during-refresh"],
                        stdout=subprocess.PIPE, text=True)
closed = None
server = None
for line in proc.stdout:
    sys.stdout.write(line)
    sys.stdout.flush()
    found = re.search(r"^server \S+ \((.+)\)$", line)
    if found:
        server = found.group(1)
    found = re.search(r"at steady clock (\d+) ns", line)
    if found:
        closed = int(found.group(1))
        break
proc.wait()
ended = time.monotonic_ns()
if server:
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "mariadb-local.sh")
    subprocess.run([script, "stop", server], stdout=subprocess.DEVNULL)
if closed is None:
    sys.exit("the window was not closed during a refresh")
print("the process ended %.0f ms after the window closed (exit code %d)" % ((ended - closed) / 1e6, proc.returncode))
