#!/bin/bash
# MIDI output through a real kernel ALSA sequencer: runs alsa_vm_sender in a
# small VM (tools/alsa-vm/run-in-vm.sh) and compares what aseqdump heard, line by line
# and in order, with what the sender sent.
#
#   alsa_vm_test.sh PATH/TO/alsa_vm_sender
#
# Four runs: the destination from Allegro's configuration as client:port, the
# destination by client name from an allegro.cfg, an unknown destination with
# aseqdump connected from outside afterwards, and the real sequencer played headless
# (start, a channel change, stop, EXIT) with every byte it sends compared.
set -uo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
RUN_IN_VM=$HERE/../../tools/alsa-vm/run-in-vm.sh
SENDER=${1:?usage: alsa_vm_test.sh PATH/TO/alsa_vm_sender}

require() {
	local tool=$1 package=$2
	command -v "$tool" >/dev/null && return
	echo "alsa_vm_test: $tool is missing: apt-get install $package" >&2
	exit 1
}

# The kernel and busybox come from Debian's packages unpacked below the build
# directory, never installed: the host's /boot stays as it is.
unpacked_kernel() {
	local dir=${ALSA_VM_KERNEL_DIR:?set ALSA_VM_KERNEL_DIR to the directory for the unpacked kernel}
	"$HERE/../../tools/alsa-vm/unpack-kernel.sh" "$dir" || { echo "alsa_vm_test: cannot unpack a kernel into $dir" >&2; exit 1; }
	set -a
	. "$dir/vm.env"
	set +a
	export ALSA_VM_CACHE=${ALSA_VM_CACHE:-$dir/vm-cache}
}

require qemu-system-x86_64 qemu-system-x86
require aseqdump alsa-utils
require aconnect alsa-utils
require modprobe kmod
require cpio cpio
# Without these the VM boots the compressed kernel, twice as slowly.
require readelf binutils
require xz xz-utils
unpacked_kernel
[ -x "$SENDER" ] || { echo "alsa_vm_test: no sender program at $SENDER" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# aseqdump's view of the sender's messages. It prints a Note On with velocity 0
# as "Note off" without a velocity, and a real Note Off with one, so the fifth
# line shows that the Note On arrived as it was sent.
expected_events() {
	local from=$1 channel
	printf '%s\n' \
		"$from   Control change          0, controller 1, value 64" \
		"$from   Control change          0, controller 1, value 64" \
		"$from   Note off                0, note 0, velocity 127" \
		"$from   Note on                 0, note 36, velocity 64" \
		"$from   Note off                0, note 36"
	for channel in $(seq 0 15); do
		printf '%s   Control change         %2d, controller 123, value 0\n' "$from" "$channel"
	done
	printf '%s\n' "$from   Note on                 1, note 48, velocity 127"
}

# The whole session at aseqdump's port, from its subscription to its end.
expected_dump() {
	local from=$1 to=$2
	printf '%s\n' "Waiting for data. Press Ctrl+C to end." "Source  Event                  Ch  Data"
	printf '  0:1   Port subscribed            %s -> %s\n' "$from" "$to"
	expected_events "$from"
	printf '  0:1   Port unsubscribed          %s -> %s\n' "$from" "$to"
}

# One vCPU each: three single-CPU VMs side by side take a third of the time
# of three two-CPU VMs one after the other.
export ALSA_VM_SMP=${ALSA_VM_SMP:-1}
# A slow emulated guest on a busy host may still be printing when the sender ends.
export ALSA_VM_SETTLE=${ALSA_VM_SETTLE:-2}
# On a busy host the emulated timer can fail the kernel's early IO-APIC check
# ("IO-APIC + timer doesn't work!") and the guest panics before it runs anything.
export ALSA_VM_APPEND=${ALSA_VM_APPEND:-no_timer_check}

# start_case DIR [ENV=VALUE...] -- SENDER_ARGS...
start_case() {
	local out=$1 settings=()
	shift
	while [ "$1" != -- ]; do settings+=("$1"); shift; done
	shift
	mkdir -p "$out"
	(
		# 125: the VM itself gave no result; that says nothing of the sender, so once more.
		for attempt in 1 2; do
			status=0
			env "${settings[@]}" ALSA_VM_OUT_DIR="$out" "$RUN_IN_VM" "$SENDER" "$@" \
				> "$out/harness.txt" 2> "$out/harness.err" || status=$?
			[ "$status" = 125 ] || break
		done
		echo "$status" > "$out/exit"
	) &
}

passed=0
failed=0

fail() {
	echo "FAIL: $*"
	failed=$((failed + 1))
}

# check_case DIR NAME PROGRAM_MESSAGE
check_case() {
	local out=$1 name=$2 program_message=$3 status
	status=$(cat "$out/exit" 2>/dev/null || echo "none")
	if [ "$status" != 0 ]; then
		fail "$name: the run ended with status $status"
		cat "$out/harness.txt" "$out/harness.err"
		return
	fi
	# The sender's client is the first one after aseqdump (128).
	expected_dump 129:0 128:0 > "$out/expected.txt"
	if ! diff -u "$out/expected.txt" "$out/aseqdump.txt" > "$out/diff.txt"; then
		fail "$name: aseqdump heard something else"
		cat "$out/diff.txt" "$out/program.txt"
		return
	fi
	if ! grep -qF -- "$program_message" "$out/program.txt"; then
		fail "$name: the sender did not say: $program_message"
		cat "$out/program.txt"
		return
	fi
	echo "ok: $name ($(grep -o 'VM run took .*' "$out/harness.err"))"
	passed=$((passed + 1))
}

# aseqdump's view of the messages the sender printed as "sent: B0 01 40".
heard_as() {
	local from=$1 tag status data1 data2 kind channel
	while read -r tag status data1 data2; do
		[ "$tag" = sent: ] || continue
		kind=$((16#$status >> 4)) channel=$((16#$status & 15)) data1=$((16#$data1)) data2=$((16#$data2))
		case $kind in
		11) printf '%s   %-23s%2d, controller %d, value %d\n' "$from" "Control change" "$channel" "$data1" "$data2" ;;
		8) printf '%s   %-23s%2d, note %d, velocity %d\n' "$from" "Note off" "$channel" "$data1" "$data2" ;;
		9) if [ "$data2" = 0 ]; then
			printf '%s   %-23s%2d, note %d\n' "$from" "Note off" "$channel" "$data1"
		else
			printf '%s   %-23s%2d, note %d, velocity %d\n' "$from" "Note on" "$channel" "$data1" "$data2"
		fi ;;
		esac
	done
}

# check_played_case DIR NAME: aseqdump heard exactly what the sequencer sent.
check_played_case() {
	local out=$1 name=$2 status sent
	status=$(cat "$out/exit" 2>/dev/null || echo "none")
	sent=$(grep -c '^sent:' "$out/program.txt" 2>/dev/null || echo 0)
	if [ "$status" != 0 ] || [ "$sent" -lt 40 ]; then
		fail "$name: the run ended with status $status after $sent messages"
		cat "$out/harness.txt" "$out/harness.err"
		return
	fi
	{
		printf '%s\n' "Waiting for data. Press Ctrl+C to end." "Source  Event                  Ch  Data"
		printf '  0:1   Port subscribed            129:0 -> 128:0\n'
		heard_as 129:0 < "$out/program.txt"
		printf '  0:1   Port unsubscribed          129:0 -> 128:0\n'
	} > "$out/expected.txt"
	if ! diff -u "$out/expected.txt" "$out/aseqdump.txt" > "$out/diff.txt"; then
		fail "$name: aseqdump heard something else"
		cat "$out/diff.txt"
		return
	fi
	echo "ok: $name, $sent messages ($(grep -o 'VM run took .*' "$out/harness.err"))"
	passed=$((passed + 1))
}

started=$SECONDS

start_case "$WORK/by-address" -- --connect @DEST@

mkdir -p "$WORK/config"
printf '[sound]\nalsa_seq_connect = aseqdump\n' > "$WORK/config/allegro.cfg"
start_case "$WORK/by-name" ALSA_VM_FILES="$WORK/config/allegro.cfg" ALSA_VM_GUEST_ALLEGRO="$WORK/config" --

start_case "$WORK/unknown" -- --connect "No Such Synth" --subscribe @DEST@

SKIN_PARENT=$(cd "$HERE/../.." && pwd)
start_case "$WORK/played" ALSA_VM_FILES="$SKIN_PARENT/knobcut" -- --connect @DEST@ --play "$SKIN_PARENT"

wait

check_case "$WORK/by-address" "destination client:port from the configuration" "sent 22 messages"
check_case "$WORK/by-name" "destination by client name from allegro.cfg" "sent 22 messages"
check_case "$WORK/unknown" "unknown destination reported, output still reaches a port connected later" \
	'cannot connect the MIDI output to "No Such Synth"'

check_played_case "$WORK/played" "the sequencer played headless"

echo "alsa_vm_test: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
