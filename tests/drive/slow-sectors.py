# SPDX-License-Identifier: GPL-3.0-or-later
# nbdkit Python plugin for the drive test: serves a disc image in which chosen 2048-byte sectors
# are damaged. A read that touches one waits, as a drive does while it retries, and then fails
# with EIO; every read is logged, so that the host counts the failing reads a program made.
#
#   nbdkit -U SOCKET python slow-sectors.py file=IMAGE bad=FIRST[-LAST],... delay=SECONDS log=FILE
#
# Log lines: "read FIRST LAST" for a read of sectors FIRST..LAST, with " failed" when it touched a
# damaged sector. The test adds its own lines ("mark NAME") between the commands it runs.
import builtins
import errno
import os
import time

import nbdkit

API_VERSION = 2
SECTOR = 2048

settings = {"file": "", "bad": "", "delay": "0", "log": ""}
damaged = []  # (first, last) sector ranges, inclusive


def config(key, value):
    if key not in settings:
        raise RuntimeError("slow-sectors: unknown setting " + key)
    settings[key] = value


def config_complete():
    if not settings["file"]:
        raise RuntimeError("slow-sectors: file= is required")
    for part in settings["bad"].split(","):
        if part:
            first, _, last = part.partition("-")
            damaged.append((int(first), int(last or first)))


def thread_model():
    # One read at a time, as a drive serves them.
    return nbdkit.THREAD_MODEL_SERIALIZE_ALL_REQUESTS


def open(readonly):
    return os.open(settings["file"], os.O_RDONLY)


def close(fd):
    os.close(fd)


def get_size(fd):
    return os.fstat(fd).st_size


def touches_damage(first, last):
    return any(a <= last and first <= b for a, b in damaged)


def pread(fd, buf, offset, flags):
    first = offset // SECTOR
    last = (offset + len(buf) - 1) // SECTOR
    failed = touches_damage(first, last)
    if settings["log"]:
        with builtins.open(settings["log"], "a") as log:
            log.write("read %d %d%s\n" % (first, last, " failed" if failed else ""))
    if failed:
        time.sleep(float(settings["delay"]))
        nbdkit.set_error(errno.EIO)
        raise RuntimeError("damaged sector in %d-%d" % (first, last))
    data = os.pread(fd, len(buf), offset)
    buf[: len(data)] = data
