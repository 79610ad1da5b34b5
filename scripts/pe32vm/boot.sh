#!/usr/bin/env bash
# Boots the i386 test PC under full-system emulation (qemu-system-i386, TCG: no KVM here),
# runs one job in it and waits, bounded, for it to power off.
#
#   scripts/pe32vm/boot.sh <image-dir> <job> <out-dir> <seconds> [--keep]
#
# <image-dir> holds root.img, vmlinuz and initrd.img (scripts/pe32vm/image.sh); <job> is a
# script's path in the work tree, run in the guest as `bash <job> /mnt/src /mnt/out`;
# <out-dir> is shared read-write as /mnt/out and receives job.log, job.status and
# console.log. Without --keep the disk is used as a snapshot: the cached image never
# changes. Exits with the job's status; 124 if the guest did not power off in time.
set -euo pipefail
cd "$(dirname "$0")/../.."

image=${1:?usage: boot.sh <image-dir> <job> <out-dir> <seconds> [--keep]}
job=${2:?job}
out=${3:?out-dir}
seconds=${4:?seconds}
snapshot=on
[[ ${5:-} != --keep ]] || snapshot=off

mkdir -p "$out"
out=$(realpath "$out")
rm -f "$out/job.status" "$out/job.log" "$out/console.log"

# shellcheck disable=SC2054  # commas inside qemu option values
args=(
    -machine pc -smp 2 -m 1024
    -accel tcg,thread=multi
    -display none -monitor none -serial "file:$out/console.log"
    -no-reboot -nic none
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img"
    -append "console=ttyS0 root=/dev/vda rw quiet panic=1 init=/usr/local/sbin/tickora-guest tickora.job=$job"
    -drive "file=$image/root.img,format=raw,if=virtio,discard=unmap,snapshot=$snapshot"
    -virtfs "local,path=$PWD,mount_tag=src,security_model=none,readonly=on"
    -virtfs "local,path=$out,mount_tag=out,security_model=none"
)
start=$SECONDS
# The guest powers itself off; a guest that hangs is stopped here and said so.
timeout --kill-after=10 "$seconds" qemu-system-i386 "${args[@]}" >"$out/qemu.log" 2>&1 &&
    status=0 || status=$?
if ((status == 124 || status == 137)); then
    printf 'pe32vm: the guest did not finish %s within %d s; last console lines:\n' "$job" "$seconds" >&2
    tail -n 15 "$out/console.log" >&2 || true
    exit 124
fi
if ((status != 0)); then
    printf 'pe32vm: qemu-system-i386 failed (%d):\n' "$status" >&2
    cat "$out/qemu.log" >&2
    exit 1
fi
if [[ ! -f $out/job.status ]]; then
    printf 'pe32vm: the guest stopped without finishing %s; last console lines:\n' "$job" >&2
    tail -n 15 "$out/console.log" >&2 || true
    exit 1
fi
printf 'pe32vm: %s ran in the guest in %d s (boot to power-off)\n' "$job" "$((SECONDS - start))" >&2
exit "$(cat "$out/job.status")"
