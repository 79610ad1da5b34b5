#!/usr/bin/env bash
# CTest entry pe32: where the kernel refuses i386 code, every other test runs the x86-64 build;
# this one runs the shipped PE32 build after all, under 32-bit Wine in an emulated i386 PC
# (qemu-system-i386, no KVM): the GoogleTest groups given and an end-to-end smoke.
#   tests/pe32/pe32.sh <win32-build-dir> [name=filter...]
# Where the host runs i386 code the whole suite already runs the PE32 build: skipped (77).
# The switch that makes such a host act as one that cannot, TICKORA_NO_I386=1
# (scripts/host-runs-i386), runs it there too.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=$(realpath "${1:?usage: pe32.sh <win32-build-dir> [name=filter...]}")
shift
# Boot, prefix check, test bed, the groups and the smoke (about 150 s measured); a guest that
# hangs is stopped.
GUEST_SECONDS=1200

if scripts/host-runs-i386; then
    echo "pe32: skipped: this host runs i386 code, so the other tests run the PE32 build itself"
    exit 77
fi
for tool in qemu-system-i386 mmdebstrap mkfs.ext4 python3; do
    command -v "$tool" >/dev/null || { echo "pe32: $tool not found (make deps installs it)"; exit 1; }
done
for exe in tickora.exe tickora_tests.exe tickora_probe.exe; do
    [[ -f $build/$exe ]] || { echo "pe32: $build/$exe not built"; exit 1; }
done

start=$SECONDS
image=$(scripts/pe32vm/image.sh) || {
    echo "pe32: the emulated PC's image could not be made (the reason is above); the other"
    echo "pe32: entries do not need it: scripts/run-tests.sh <prefix> <build> -E pe32 runs them"
    exit 1
}
echo "pe32: image $image ($((SECONDS - start)) s)"

out=$build/pe32
rm -rf "$out"
mkdir -p "$out/bin"
cp "$build"/{tickora.exe,tickora_tests.exe,tickora_probe.exe} "$out/bin/"
# the resource files the resource group compares the compiled-in ones with
cp -r "$build/res" "$out/bin/"
for group in "$@"; do printf '%s %s\n' "${group%%=*}" "${group#*=}"; done >"$out/groups"

start=$SECONDS
scripts/pe32vm/boot.sh "$image" tests/pe32/guest-run.sh "$out" "$GUEST_SECONDS" && status=0 || status=$?
echo "pe32: guest run $((SECONDS - start)) s; steps (seconds of guest time):"
[[ -f $out/steps ]] || : >"$out/steps"
sed 's/^/  /' "$out/steps"
# What failed, in full.
while read -r name verdict _; do
    [[ $verdict == FAILED ]] || continue
    case $name in
        gtest-*) log=$out/$name.log ;;
        e2e-smoke) log=$out/smoke.log ;;
        prefix-check) log=$out/prefix.log ;;
        *) log=$out/job.log ;;
    esac
    echo "---- $name: $log"
    tr -d '\r' <"$log" | tail -n 80
done <"$out/steps"
if ((status != 0)) && [[ ! -s $out/steps ]]; then
    tail -n 40 "$out/job.log" 2>/dev/null || true
fi
exit "$status"
