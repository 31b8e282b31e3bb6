#!/usr/bin/python3
"""A standard output nobody reads any more (a pipe whose reader is gone) does
not end the bridge: it runs on to its usual end, here without LinuxCNC
(status 4), instead of dying of SIGPIPE.

usage: closed_output.py BRIDGE INI
"""
import os
import subprocess
import sys

read_end, write_end = os.pipe()
os.close(read_end)
run = subprocess.run([sys.argv[1], "-ini", sys.argv[2], "--pendant", "virtual", "--wait", "0"],
                     stdin=subprocess.DEVNULL, stdout=write_end, stderr=subprocess.DEVNULL)
print(f"k2t-linuxcnc ended with status {run.returncode}")
sys.exit(0 if run.returncode == 4 else 1)
