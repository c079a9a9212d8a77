#!/usr/bin/env bash
# Installs what is missing, builds Kalverosin 4 and runs every test: once as
# built for use, once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" \
    googletest libgtest-dev libgmock-dev valgrind \
    xvfb xfonts-base xdotool x11-utils libx11-dev \
    qemu-system-x86 alsa-utils kmod cpio binutils xz-utils \
    desktop-file-utils dpkg-dev file lintian x11-apps python3
# The VM test's kernel and busybox are unpacked from their packages into the
# build directory, not installed: /boot and the host's busybox stay as they are.
vm_kernel="$root/build/alsa-vm-kernel"
"$root/tools/alsa-vm/unpack-kernel.sh" "$vm_kernel"

run_suite() {
    local build=$1
    shift
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVEROSIN_TESTS=ON \
        -DKALVEROSIN_VM_KERNEL_DIR="$vm_kernel" "$@" >/dev/null
    cmake --build "$build" -j"$(nproc)"
    (cd "$build" && ctest --output-on-failure -j"$(nproc)")
}

run_suite "$root/build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$root/tests/sanitizer/lsan.supp":print_suppressions=0 \
    run_suite "$root/build-sanitize" -DKALVEROSIN_SANITIZE=ON
echo "All tests passed."
