"""One run at a time: the release command and --verify hold a lock on the checkout's build
folder (the commit's build tree is in it) and on the folder that holds the output folder (a
release is staged in it), both released when the process ends, however it ends."""

import contextlib
import fcntl
import os


class Busy(Exception):
    pass


@contextlib.contextmanager
def held(*folders):
    """Holds an exclusive lock on each folder (made when missing) until the block ends; Busy
    when another process holds one."""
    fds, seen = [], set()
    try:
        for folder in folders:
            os.makedirs(folder, exist_ok=True)
            real = os.path.realpath(folder)
            if real in seen:
                continue
            seen.add(real)
            fds.append(os.open(real, os.O_RDONLY | os.O_DIRECTORY))
            try:
                fcntl.flock(fds[-1], fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                raise Busy("another release or --verify is running (it holds %s): one at a time; "
                           "nothing was written" % real)
        yield
    finally:
        for fd in fds:
            os.close(fd)
