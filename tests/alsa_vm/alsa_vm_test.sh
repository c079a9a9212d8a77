#!/bin/bash
# MIDI into a real kernel ALSA sequencer: alsa_vm_played plays the sequencer
# through the ALSA sequencer driver in a small VM (tools/alsa-vm/run-in-vm.sh),
# connected by client name to aseqdump in allegro.cfg; aseqdump must have
# heard, line by line and in order, what the player sent.
#
#   alsa_vm_test.sh PATH/TO/alsa_vm_played
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
PLAYER=${1:?usage: alsa_vm_test.sh PATH/TO/alsa_vm_played}
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
# The kernel and busybox come from Debian's packages unpacked below the build
# directory, never installed: the host's /boot stays as it is.
KERNEL_DIR=${ALSA_VM_KERNEL_DIR:?set ALSA_VM_KERNEL_DIR to the directory for the unpacked kernel}
if ! "$HERE/../../tools/alsa-vm/unpack-kernel.sh" "$KERNEL_DIR"; then
    echo "alsa_vm_test: cannot unpack a kernel" >&2
    exit 1
fi
set -a
. "$KERNEL_DIR/vm.env"
set +a
export ALSA_VM_CACHE=${ALSA_VM_CACHE:-$KERNEL_DIR/vm-cache}
printf '[sound]\nalsa_seq_connect = aseqdump\n' >"$OUT/allegro.cfg"
# A slow guest may still be printing when the player ends; on a busy host the
# emulated timer can fail the kernel's early IO-APIC check, and the guest panics
# at boot. A VM that gave no result (125) says nothing about the player: once more.
for attempt in 1 2; do
	ALSA_VM_SETTLE=2 ALSA_VM_APPEND=no_timer_check ALSA_VM_OUT_DIR="$OUT" ALSA_VM_GUEST_ALLEGRO="$OUT" \
		ALSA_VM_FILES="$(cd "$HERE/../.." && pwd)/knobcut $OUT/allegro.cfg" \
		"$HERE/../../tools/alsa-vm/run-in-vm.sh" "$PLAYER" >"$OUT/harness.txt" 2>&1
	status=$?
	[ "$status" = 125 ] || break
done
sent=$(grep -c '^sent:' "$OUT/program.txt" 2>/dev/null)
if [ "$status" != 0 ] || [ "${sent:-0}" -lt 40 ]; then
	echo "alsa_vm_test: the VM run ended with status $status after ${sent:-0} messages"
	cat "$OUT/harness.txt" "$OUT/program.txt"
	exit 1
fi

# What aseqdump prints for the messages sent; a Note On with velocity 0 it
# shows as a Note Off without a velocity.
expected_dump() {
	local tag status data1 data2 kind
	printf '%s\n' "Waiting for data. Press Ctrl+C to end." "Source  Event                  Ch  Data" \
		"  0:1   Port subscribed            129:0 -> 128:0"
	while read -r tag status data1 data2; do
		[ "$tag" = sent: ] || continue
		case $status in
		F8) echo "129:0   Clock" && continue ;;
		FA) echo "129:0   Start" && continue ;;
		FB) echo "129:0   Continue" && continue ;;
		FC) echo "129:0   Stop" && continue ;;
		F2) echo "129:0   Song position pointer      value $((16#$data2 * 128 + 16#$data1))" && continue ;;
		esac
		kind=${status:0:1} status=$((16#${status:1})) data1=$((16#$data1)) data2=$((16#$data2))
		case $kind$data2 in
		B*) printf '129:0   Control change         %2d, controller %d, value %d\n' "$status" "$data1" "$data2" ;;
		8* | 90) printf '129:0   Note off               %2d, note %d%s\n' "$status" "$data1" \
			"$([ "$kind" = 8 ] && echo ", velocity $data2")" ;;
		9*) printf '129:0   Note on                %2d, note %d, velocity %d\n' "$status" "$data1" "$data2" ;;
		esac
	done
	echo "  0:1   Port unsubscribed          129:0 -> 128:0"
}
diff -u <(expected_dump <"$OUT/program.txt") "$OUT/aseqdump.txt" || exit 1
echo "alsa_vm_test: aseqdump heard all $sent messages"
