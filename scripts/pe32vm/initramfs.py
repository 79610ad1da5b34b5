#!/usr/bin/env python3
"""Makes the i386 test PC's initrd from an unpacked root, without running anything from it:
busybox, the modules that mounting an ext4 root on a virtio disk and the host's 9p shares
need, and an /init that loads them, mounts the root and hands over to the init the kernel
command line names. Written as a gzip'd cpio archive, every file owned by root.

    scripts/pe32vm/initramfs.py <root> <kernel-version> <initrd>
"""
import glob
import gzip
import os
import re
import sys

# Loaded in this order, after what each depends on. crc32c is asked for by name when ext4
# mounts a file system with checksums, which no module loader here could answer.
WANTED = ["virtio_pci", "virtio_blk", "crc32c_generic", "ext4", "9pnet_virtio", "9p"]

INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev /newroot
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
fail() { echo "initrd: $*" >/dev/console; poweroff -f; }
for m in $(cat /modules/order); do insmod "/modules/$m" || fail "insmod $m failed"; done
root=/dev/vda init=/sbin/init
for arg in $(cat /proc/cmdline); do
    case $arg in root=*) root=${arg#root=} ;; init=*) init=${arg#init=} ;; esac
done
n=0
until [ -b "$root" ]; do
    n=$((n + 1)); [ $n -le 300 ] || fail "$root did not appear"; sleep 0.1
done
mount -t ext4 -o rw "$root" /newroot || fail "cannot mount $root"
umount /sys /proc
mount --move /dev /newroot/dev || umount /dev
exec switch_root /newroot "$init"
"""


def module_index(root, version):
    index = {}
    for path in glob.glob(os.path.join(root, "lib/modules", version, "kernel/**/*.ko"),
                          recursive=True):
        index[os.path.basename(path)[:-3].replace("-", "_")] = path
    return index


def depends(path):
    data = open(path, "rb").read()
    m = re.search(rb"(?:^|\0)depends=([^\0]*)\0", data)
    return [d.replace("-", "_") for d in m.group(1).decode().split(",") if d] if m else []


def load_order(index):
    order = []

    def visit(name, chain):
        if name in order:
            return
        if name not in index:
            sys.exit("initramfs: module %s not found (needed by %s)" % (name, " <- ".join(chain)))
        for dep in depends(index[name]):
            visit(dep, [name] + chain)
        order.append(name)

    for name in WANTED:
        visit(name, [])
    return order


class Cpio:
    """The "newc" format the kernel unpacks."""

    def __init__(self, out):
        self.out = out
        self.ino = 0

    def add(self, name, mode, data=b"", rdev=(0, 0)):
        self.ino += 1
        encoded = name.encode() + b"\0"
        fields = (self.ino, mode, 0, 0, 1, 0, len(data), 0, 0, rdev[0], rdev[1],
                  len(encoded), 0)
        self.out.write(b"070701" + b"".join(b"%08X" % f for f in fields) + encoded)
        self.out.write(b"\0" * (-(110 + len(encoded)) % 4))
        self.out.write(data)
        self.out.write(b"\0" * (-len(data) % 4))

    def finish(self):
        self.add("TRAILER!!!", 0)


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    root, version, target = argv
    busybox = os.path.join(root, "bin/busybox")
    if not os.path.isfile(busybox):
        sys.exit("initramfs: %s missing (package busybox-static)" % busybox)
    index = module_index(root, version)
    order = load_order(index)
    with open(target + ".tmp", "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb",
                                                           mtime=0) as out:
        cpio = Cpio(out)
        for d in ("bin", "dev", "modules"):
            cpio.add(d, 0o40755)
        cpio.add("dev/console", 0o20600, rdev=(5, 1))
        cpio.add("init", 0o100755, INIT.encode())
        cpio.add("bin/busybox", 0o100755, open(busybox, "rb").read())
        for name in order:
            cpio.add("modules/%s.ko" % name, 0o100644, open(index[name], "rb").read())
        cpio.add("modules/order", 0o100644, "".join("%s.ko\n" % n for n in order).encode())
        cpio.finish()
    os.replace(target + ".tmp", target)


if __name__ == "__main__":
    main(sys.argv[1:])
