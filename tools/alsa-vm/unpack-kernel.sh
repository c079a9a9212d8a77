#!/bin/bash
# unpack-kernel.sh DIR - fetch Debian's current kernel image package (the one
# linux-image-amd64 points to) and busybox-static with `apt-get download`, and
# unpack them (of the kernel only the image and the sound modules) into
# DIR/root, without installing either: the host's /boot, /lib/modules and
# busybox stay as they are.
#
# Writes DIR/vm.env, shell assignments for run-in-vm.sh (source it):
#   ALSA_VM_KERNEL, ALSA_VM_KVER, ALSA_VM_MODULE_ROOT, ALSA_VM_BUSYBOX
# Does nothing when DIR already holds the packages apt offers now.
set -euo pipefail
[ $# -eq 1 ] || { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
mkdir -p "$1"
DIR=$(cd "$1" && pwd)
log() { printf '[unpack-kernel] %s\n' "$*" >&2; }

image_package() {
	apt-cache depends linux-image-amd64 2>/dev/null |
		awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

IMAGE=$(image_package)
if [ -z "$IMAGE" ]; then
	log "apt knows no linux-image-amd64 yet: updating its package lists"
	sudo=()
	[ "$(id -u)" -eq 0 ] || sudo=(sudo)
	"${sudo[@]}" apt-get update -qq
	IMAGE=$(image_package)
fi
[ -n "$IMAGE" ] || { log "cannot resolve linux-image-amd64 to a kernel image package"; exit 1; }
WANT="$IMAGE=$(apt-cache policy "$IMAGE" | awk '$1 == "Candidate:" { print $2 }')"
if [ "$(cat "$DIR/unpacked" 2>/dev/null)" = "$WANT" ] && [ -s "$DIR/vm.env" ]; then
	exit 0
fi

log "downloading and unpacking $WANT and busybox-static into $DIR (not installing them)"
rm -rf "$DIR/root" "$DIR/debs" "$DIR/unpacked" "$DIR/vm.env"
mkdir -p "$DIR/debs" "$DIR/root"
# As root apt warns that its sandbox user cannot write here; the download is the same.
(cd "$DIR/debs" && apt-get download -q=2 "$IMAGE" busybox-static 2>&1 | grep -v 'unsandboxed as root' >&2 || true)
dpkg-deb -x "$DIR"/debs/busybox-static_*.deb "$DIR/root"
# Of the kernel package only the image and the sound modules (all the VM loads).
dpkg-deb --fsys-tarfile "$DIR/debs/${IMAGE}"_*.deb |
	tar -x -C "$DIR/root" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/sound' './lib/modules/*/modules.*'

KERNEL=$(find "$DIR/root/boot" -name 'vmlinuz-*' | head -n 1)
[ -n "$KERNEL" ] || { log "no kernel in the package $IMAGE"; exit 1; }
KVER=${KERNEL##*/vmlinuz-}
BUSYBOX=$(find "$DIR/root" -path '*bin/busybox' -type f | head -n 1)
[ -n "$BUSYBOX" ] || { log "no busybox in busybox-static"; exit 1; }
# The package leaves the module index to its installation scripts.
depmod -b "$DIR/root" "$KVER"
rm -rf "$DIR/debs"

printf 'ALSA_VM_KERNEL=%q\nALSA_VM_KVER=%q\nALSA_VM_MODULE_ROOT=%q\nALSA_VM_BUSYBOX=%q\n' \
	"$KERNEL" "$KVER" "$DIR/root" "$BUSYBOX" > "$DIR/vm.env"
echo "$WANT" > "$DIR/unpacked"
log "kernel $KVER ready"
