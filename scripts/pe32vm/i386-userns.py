#!/usr/bin/env python3
"""Runs a command (as root) where the kernel cannot execute i386 programs but must: in a user
and mount namespace of its own, with a binfmt_misc of its own that hands i386 ELF files to
qemu-i386-static. The host's binfmt_misc is never touched, so nothing else on the machine
starts to believe it can run 32-bit code.

    scripts/pe32vm/i386-userns.py <command> [args...]

Needs Linux 6.7 or later (binfmt_misc in user namespaces) and package qemu-user-static.
"""
import ctypes
import os
import subprocess
import sys

CLONE_NEWNS = 0x00020000
CLONE_NEWPID = 0x20000000
CLONE_NEWUSER = 0x10000000
QEMU = "/usr/bin/qemu-i386-static"
BINFMT = "/proc/sys/fs/binfmt_misc"
# The ELF header of an i386 executable or shared object; F: qemu is opened now, so it runs
# inside a chroot that does not have it.
I386_RULE = (r":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00"
             r"\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff"
             r"\xff\xff\xfe\xff\xff\xff:" + QEMU + ":F")

libc = ctypes.CDLL(None, use_errno=True)


def die(message):
    print("i386-userns: %s" % message, file=sys.stderr)
    sys.exit(1)


def unshare(flags):
    if libc.unshare(flags) != 0:
        e = ctypes.get_errno()
        die("unshare failed: %s" % os.strerror(e))


def map_all_ids(pid):
    # Root of the parent namespace may map every id to itself: files keep their owners.
    for name in ("uid_map", "gid_map"):
        with open("/proc/%d/%s" % (pid, name), "w") as f:
            f.write("0 0 4294967295\n")


def in_namespace(argv):
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    # A /proc of the new pid namespace, for the programs that read it.
    subprocess.run(["mount", "-t", "proc", "proc", "/proc"], check=True)
    subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", BINFMT], check=True)
    with open(BINFMT + "/register", "w") as f:
        f.write(I386_RULE)
    os.execvp(argv[0], argv)


def main(argv):
    if not argv:
        die("usage: i386-userns.py <command> [args...]")
    if os.geteuid() != 0:
        die("needs root")
    if not os.path.exists(QEMU):
        die("%s missing (package qemu-user-static)" % QEMU)
    ready_r, ready_w = os.pipe()
    go_r, go_w = os.pipe()
    child = os.fork()
    if child == 0:
        os.close(ready_r)
        os.close(go_w)
        unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWPID)
        os.write(ready_w, b".")
        os.close(ready_w)
        if os.read(go_r, 1) != b".":
            os._exit(1)
        # The first child in the new pid namespace is its init.
        pid = os.fork()
        if pid == 0:
            in_namespace(argv)
        _, status = os.waitpid(pid, 0)
        os._exit(os.waitstatus_to_exitcode(status) & 0xFF)
    os.close(ready_w)
    os.close(go_r)
    if os.read(ready_r, 1) != b".":
        die("the namespace was not made")
    map_all_ids(child)
    os.write(go_w, b".")
    os.close(go_w)
    _, status = os.waitpid(child, 0)
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
