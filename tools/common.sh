# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by run.sh and test.sh: install what is missing, then configure and build.
# Sourced, not run.

KX_PACKAGES=(build-essential cmake ninja-build pkg-config
             libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libicu-dev libblkid-dev
             qt6-base-dev qt6-svg-dev fonts-dejavu-core
             zlib1g-dev libbz2-dev liblzma-dev libzstd-dev
             xvfb xauth xdotool imagemagick
             help2man desktop-file-utils appstream shared-mime-info)
# Only the tests need these: the VM of the drive test (qemu, its initramfs, the kernel's module
# index), the discs it builds (xorriso), the slow failing sectors of its damaged discs (nbdkit's
# Python plugin), GNU ddrescue's ddrescuelog, which checks the rescue's maps; real PE programs
# for the end finders (the EFI programs of systemd-boot-efi); the window manager of the desktop
# test with xprop, which reads the titles it shows.
KX_TEST_PACKAGES=(qemu-system-x86 busybox-static cpio kmod xorriso nbdkit nbdkit-plugin-python gddrescue
                  systemd-boot-efi openbox x11-utils)

# kx_install_missing [PACKAGE...]: the given packages, KX_PACKAGES by default.
kx_install_missing() {
  local missing=()
  local p
  [ $# -gt 0 ] || set -- "${KX_PACKAGES[@]}"
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# kx_build DIR [extra cmake args...]
kx_build() {
  local dir=$1
  shift
  # A compiler cache, where one is installed, makes rebuilds in a fresh folder or checkout cheap.
  if command -v ccache >/dev/null 2>&1; then set -- -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@"; fi
  cmake -S "$KX_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j2
}

# The test programs whose code runs worker threads, and the CTest names of their tests; test.sh
# runs them under ThreadSanitizer too.
KX_THREAD_TESTS=(RecognizeDialogTest CreateImageDialogTest RescueDialogTest ExtractWindowTest CheckWindowTest WorkerRunnerTest JobContractTest
                 kxRecognitionTest kxImageCopyTest kxJobControlTest kxRescueTest kxStructureTest)
KX_THREAD_TEST_PATTERN='^(RecognizeDialog|CreateImageDialog|RescueDialog|ExtractWindow|CheckWindow|WorkerRunner|JobContract|TkxScanJob\..*|CopyDiskToImage\..*|TkxCopyJob\..*|TkxJobControl\..*|JobContract\..*|TkxRescueJob\..*|CheckFoundFiles\..*)$'
