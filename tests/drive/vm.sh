# SPDX-License-Identifier: GPL-3.0-or-later
# A small qemu VM with real optical drives, for the drive tests. Sourced, not run.
#
# The VM is Debian's own kernel and a static busybox in an initramfs: the kernel's CD driver
# (sr) talks to drives that qemu emulates (ATAPI on the PIIX IDE controller, as a SATA drive is
# reached through libata; and SCSI CD drives on virtio-scsi), so the program's SG_IO commands
# meet a real driver. A program folder is packed into the initramfs with the libraries its ELF
# files need; the guest runs its session.sh, and the files that the session leaves in /out come
# back as a tar written onto a raw virtio disk. Everything goes under the work folder.
#
#   vm_prepare WORK          kernel (apt-get download, unpacked, never installed) and the base
#                            initramfs; on failure VM_WHY says why and the status is 1
#   vm_reset                 forget the drives of the last boot
#   vm_drive ID BUS IMAGE|none [bad=LBA,FIRST-LAST...] [rate=BYTES_PER_SECOND]
#                            one drive, BUS ide (at most 4) or scsi (a SCSI CD drive, which has
#                            no READ CD); the guest's drive_letter ID gives its drive letter
#   VM_DISCS[TAG]=IMAGE      discs that the guest may ask for with "vm_change ID TAG"
#   vm_slow_disc TAG IMAGE BAD DELAY LOG
#                            a damaged disc: IMAGE served by nbdkit (slow-sectors.py), reads
#                            that touch the sectors BAD (FIRST[-LAST],...) wait DELAY seconds and
#                            fail; each read is logged in LOG. VM_DISCS[TAG] names it, so that
#                            vm_drive and "change" take it as an image
#   vm_boot PROGRAM OUT      boots; the console goes to OUT.console, /out to OUT/; the status
#                            is the session's, 124 on time-out, 125 when the guest broke down.
#                            The guest's "mark NAME" (guest-lib.sh) writes "mark NAME" into the
#                            log of every slow disc before the guest goes on, so that the host
#                            counts each command's failing reads
#
# Settings: VM_MEM (default 512M), VM_TIMEOUT (seconds, default 240), VM_OUT_SIZE (the size of
# the disk that carries /out back, default 256M).

VM_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
VM_FLAVOUR=cloud-amd64   # the smallest Debian kernel with PIIX, virtio-scsi and virtio-blk
VM_MODULES=(ata_piix sr_mod virtio_pci virtio_scsi virtio_blk)
VM_WHY=''
declare -A VM_DISCS=()
VM_NBDKIT_PIDS=()

vm_say() { printf 'vm: %s\n' "$*" >&2; }

vm_prepare() {
  VM_WORK=$1
  mkdir -p "$VM_WORK" && VM_WORK=$(cd "$VM_WORK" && pwd) || { VM_WHY="cannot create $1"; return 1; }
  [ "$(uname -m)" = x86_64 ] || { VM_WHY="the VM is an x86_64 guest; this machine is $(uname -m)"; return 1; }
  local tool
  for tool in qemu-system-x86_64 cpio xorriso nbdkit; do
    command -v "$tool" >/dev/null || { VM_WHY="$tool is missing (./test.sh installs it)"; return 1; }
  done
  nbdkit python --version >/dev/null 2>&1 ||
    { VM_WHY="nbdkit's Python plugin is missing (package nbdkit-plugin-python; ./test.sh installs it)"; return 1; }
  VM_BUSYBOX=/bin/busybox
  # ldd fails on a static program: only its message tells.
  if [ ! -x "$VM_BUSYBOX" ] || [[ $(ldd "$VM_BUSYBOX" 2>&1) != *'not a dynamic'* ]]; then
    VM_WHY="no static busybox at $VM_BUSYBOX (package busybox-static; ./test.sh installs it)"
    return 1
  fi
  vm_fetch_kernel || return 1
  vm_make_base
}

# The kernel package that linux-image-$VM_FLAVOUR currently depends on, fetched once.
vm_fetch_kernel() {
  local pkg deb
  pkg=$(vm_kernel_package)
  if [ -z "$pkg" ] && [ "$(id -u)" = 0 ]; then
    apt-get update -qq >/dev/null 2>&1
    pkg=$(vm_kernel_package)
  fi
  [ -n "$pkg" ] || { VM_WHY="apt knows no linux-image-$VM_FLAVOUR (no package lists?)"; return 1; }
  VM_KROOT=$VM_WORK/kernel/$pkg
  if [ ! -f "$VM_KROOT/.unpacked" ]; then
    mkdir -p "$VM_WORK/debs"
    deb=$(ls "$VM_WORK/debs/${pkg}"_*.deb 2>/dev/null | head -n1)
    if [ -z "$deb" ]; then
      vm_say "downloading $pkg"
      local sandbox=()
      [ "$(id -u)" = 0 ] && sandbox=(-o APT::Sandbox::User=root)
      (cd "$VM_WORK/debs" && apt-get download -qq "${sandbox[@]}" "$pkg" >/dev/null 2>&1)
      deb=$(ls "$VM_WORK/debs/${pkg}"_*.deb 2>/dev/null | head -n1)
      [ -n "$deb" ] || { VM_WHY="cannot download $pkg (apt-get download failed; no network?)"; return 1; }
    fi
    rm -rf "$VM_KROOT"
    mkdir -p "$VM_KROOT"
    dpkg-deb -x "$deb" "$VM_KROOT" || { VM_WHY="cannot unpack $deb"; return 1; }
    touch "$VM_KROOT/.unpacked"
  fi
  VM_KVER=$(ls "$VM_KROOT/lib/modules" | head -n1)
  [ -f "$VM_KROOT/boot/vmlinuz-$VM_KVER" ] || { VM_WHY="$pkg holds no kernel image"; return 1; }
  # The package ships no module index; depmod builds it from the modules themselves.
  [ -f "$VM_KROOT/lib/modules/$VM_KVER/modules.dep" ] ||
    depmod -b "$VM_KROOT" "$VM_KVER" 2>/dev/null ||
    /sbin/depmod -b "$VM_KROOT" "$VM_KVER" || { VM_WHY="depmod failed (package kmod)"; return 1; }
}

vm_kernel_package() {
  apt-cache depends "linux-image-$VM_FLAVOUR" 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1
}

# The base initramfs: busybox, the modules in load order and /init. Rebuilt when its inputs
# change.
vm_make_base() {
  local moddir=$VM_KROOT/lib/modules/$VM_KVER
  local stamp
  stamp="$VM_KVER ${VM_MODULES[*]} $(sha256sum "$VM_DIR/guest-init.sh" "$VM_BUSYBOX" | cut -c1-64 | tr '\n' ' ')"
  if [ -f "$VM_WORK/base.cpio" ] && [ "$(cat "$VM_WORK/base.stamp" 2>/dev/null)" = "$stamp" ]; then
    return 0
  fi
  declare -A seen=()
  local order=() m rel
  vm_add_module() {
    local line deps i
    [ -n "${seen[$1]:-}" ] && return 0
    seen[$1]=1
    line=$(grep -m1 "^$1:" "$moddir/modules.dep") || return 1
    read -r -a deps <<<"${line#*:}"
    for ((i = ${#deps[@]} - 1; i >= 0; i--)); do vm_add_module "${deps[$i]}" || return 1; done
    order+=("$1")
  }
  for m in "${VM_MODULES[@]}"; do
    rel=$(grep -m1 -E "(^|/)$m\.ko:" "$moddir/modules.dep" | cut -d: -f1)
    if [ -z "$rel" ]; then
      grep -qE "(^|/)$m\.ko$" "$moddir/modules.builtin" && continue
      VM_WHY="kernel $VM_KVER has no module $m (or it is compressed)"
      return 1
    fi
    vm_add_module "$rel" || { VM_WHY="modules.dep of $VM_KVER is incomplete around $m"; return 1; }
  done

  local stage=$VM_WORK/base-root
  rm -rf "$stage"
  mkdir -p "$stage"/{bin,dev,proc,sys,tmp,out,prog,etc}
  cp "$VM_BUSYBOX" "$stage/bin/busybox"
  : >"$stage/etc/modules"
  for rel in "${order[@]}"; do
    mkdir -p "$stage/lib/modules/$(dirname "$rel")"
    cp "$moddir/$rel" "$stage/lib/modules/$rel"
    echo "/lib/modules/$rel" >>"$stage/etc/modules"
  done
  cp "$VM_DIR/guest-init.sh" "$stage/init"
  chmod 755 "$stage/init"
  (cd "$stage" && find . -print0 | LC_ALL=C sort -z | cpio --null -o -H newc -R 0:0 --quiet) >"$VM_WORK/base.cpio.new" ||
    { VM_WHY="cpio failed"; return 1; }
  mv "$VM_WORK/base.cpio.new" "$VM_WORK/base.cpio"
  cp "$VM_KROOT/boot/vmlinuz-$VM_KVER" "$VM_WORK/vmlinuz"
  rm -rf "$stage"
  printf '%s' "$stamp" >"$VM_WORK/base.stamp"
}

vm_reset() {
  local pid
  for pid in "${VM_NBDKIT_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  VM_NBDKIT_PIDS=()
  VM_MARK_LOGS=()
  VM_DRIVE_ARGS=()
  VM_DRIVE_PLACES=()
  VM_DRIVE_COUNT=0
  VM_IDE_USED=0
  VM_SCSI_USED=0
  VM_RUN=''
}
vm_reset

vm_drive() {
  local id=$1 bus=$2 image=$3 bad='' rate='' opt
  shift 3
  for opt in "$@"; do
    case $opt in
      bad=*) bad=${opt#bad=} ;;
      rate=*) rate=${opt#rate=} ;;
      *) vm_say "vm_drive: unknown option $opt"; return 2 ;;
    esac
  done
  [ -n "$VM_RUN" ] || VM_RUN=$(mktemp -d "$VM_WORK/run.XXXXXX")
  local drive="if=none,id=$id,media=cdrom,readonly=on"
  if [ -n "$bad" ]; then
    # qemu's blkdebug driver fails every read that covers one of these 512-byte sectors; the
    # drive answers it as it answers any failed read.
    local conf=$VM_RUN/$id.blkdebug item a b l
    : >"$conf"
    for item in ${bad//,/ }; do
      a=${item%-*} b=${item#*-}
      for ((l = a; l <= b; l++)); do
        printf '[inject-error]\nevent = "read_aio"\nerrno = "5"\nsector = "%d"\n\n' $((l * 4)) >>"$conf"
      done
    done
    drive+=",format=raw,file.driver=blkdebug,file.config=${conf//,/,,},file.image.filename=${image//,/,,}"
  elif [ "$image" != none ]; then
    drive+=",format=raw,file=${image//,/,,}"
  fi
  [ -n "$rate" ] && drive+=",throttling.bps-read=$rate"
  VM_DRIVE_ARGS+=(-drive "$drive")
  # An ATAPI drive answers INQUIRY with qemu's own model name whatever it is told, so the guest
  # tells the drives apart by where they sit: the IDE channel (ata1, ata2) and unit (the SCSI
  # target under libata), or the target on the virtio-scsi bus.
  case $bus in
    ide)
      [ "$VM_IDE_USED" -lt 4 ] || { vm_say "at most 4 IDE drives"; return 2; }
      VM_DRIVE_ARGS+=(-device "ide-cd,drive=$id,bus=ide.$((VM_IDE_USED / 2)),unit=$((VM_IDE_USED % 2))")
      VM_DRIVE_PLACES+=("VM_AT_$id='*/ata$((VM_IDE_USED / 2 + 1))/*/target*:0:$((VM_IDE_USED % 2))/*'")
      VM_IDE_USED=$((VM_IDE_USED + 1)) ;;
    scsi)
      [ "$VM_SCSI_USED" -gt 0 ] || VM_DRIVE_ARGS+=(-device virtio-scsi-pci,id=vscsi)
      VM_DRIVE_ARGS+=(-device "scsi-cd,drive=$id,bus=vscsi.0,scsi-id=$VM_SCSI_USED,lun=0")
      VM_DRIVE_PLACES+=("VM_AT_$id='*/virtio*/target*:0:$VM_SCSI_USED/*'")
      VM_SCSI_USED=$((VM_SCSI_USED + 1)) ;;
    *) vm_say "vm_drive: bus ide or scsi"; return 2 ;;
  esac
  VM_DRIVE_COUNT=$((VM_DRIVE_COUNT + 1))
}

vm_slow_disc() {
  local tag=$1 image=$2 bad=$3 delay=$4 log=$5
  [ -n "$VM_RUN" ] || VM_RUN=$(mktemp -d "$VM_WORK/run.XXXXXX")
  local socket=$VM_RUN/$tag.sock
  : >"$log"
  # nbdkit runs from / once it is in the background.
  image=$(realpath "$image") log=$(realpath "$log")
  # Without --foreground nbdkit returns once its socket takes connections.
  nbdkit -U "$socket" -P "$VM_RUN/$tag.pid" python "$VM_DIR/slow-sectors.py" \
    file="$image" bad="$bad" delay="$delay" log="$log" || { vm_say "nbdkit did not start for $tag"; return 1; }
  # The server writes its pid file once it is in the background, which may be after nbdkit returns.
  local i=0
  until [ -s "$VM_RUN/$tag.pid" ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  [ -s "$VM_RUN/$tag.pid" ] || { vm_say "nbdkit for $tag wrote no pid file"; return 1; }
  VM_NBDKIT_PIDS+=("$(cat "$VM_RUN/$tag.pid")")
  VM_MARK_LOGS+=("$log")
  VM_DISCS[$tag]="nbd+unix:///?socket=$socket"
}

# Packs PROGRAM (a folder with session.sh) with the libraries of its ELF files at their host
# paths, and the dynamic loader, into a second initramfs that the kernel lays over the base.
vm_pack_program() {
  local prog=$1 stage=$VM_RUN/prog-root f out lib
  declare -A dirs=()
  mkdir -p "$stage/prog"
  cp -a "$prog/." "$stage/prog/"
  while IFS= read -r -d '' f; do
    [ "$(head -c4 "$f" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || continue
    out=$(ldd "$f" 2>&1) || continue
    if grep -q 'not found' <<<"$out"; then
      vm_say "ldd $f: $(grep 'not found' <<<"$out" | head -n3 | tr -s '\t\n' ' ')"
      return 1
    fi
    while read -r lib; do
      [ -e "$stage$lib" ] && continue
      mkdir -p "$stage$(dirname "$lib")"
      cp -L "$lib" "$stage$lib"
      dirs[$(dirname "$lib")]=1
    done < <(awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}' <<<"$out")
  done < <(find "$prog" -type f -print0)
  {
    printf 'VM_DRIVES=%d\nLD_LIBRARY_PATH=%s\n' "$VM_DRIVE_COUNT" "$(IFS=:; echo "${!dirs[*]}")"
    printf '%s\n' "${VM_DRIVE_PLACES[@]}"
  } >"$stage/prog/vm.env"
  (cd "$stage" && find . -print0 | LC_ALL=C sort -z | cpio --null -o -H newc -R 0:0 --quiet) >"$VM_RUN/prog.cpio"
}

vm_boot() {
  local prog=$1 out=$2
  [ -n "$VM_RUN" ] || VM_RUN=$(mktemp -d "$VM_WORK/run.XXXXXX")
  local run=$VM_RUN qpid='' rc='' state=boot line t0 t1 tag id log
  rm -rf "$out" "$out.console"
  mkdir -p "$out"
  vm_pack_program "$prog" || { rm -rf "$run"; vm_reset; return 125; }
  cat "$VM_WORK/base.cpio" "$run/prog.cpio" >"$run/initrd"
  truncate -s "${VM_OUT_SIZE:-256M}" "$run/out.img"
  mkfifo "$run/mon.in" "$run/mon.out" "$run/console" "$run/console.in"

  local qemu=(qemu-system-x86_64 -nodefaults -no-user-config -display none -no-reboot -nic none
    -M pc -accel tcg -m "${VM_MEM:-512M}" -smp 1
    -chardev stdio,id=con,signal=off -serial chardev:con
    -chardev "pipe,id=mon,path=$run/mon" -mon chardev=mon,mode=readline
    -kernel "$VM_WORK/vmlinuz" -initrd "$run/initrd"
    -append "console=ttyS0 panic=-1 quiet loglevel=3 rdinit=/init"
    -drive "if=none,id=out,format=raw,file=$run/out.img" -device virtio-blk-pci,drive=out
    "${VM_DRIVE_ARGS[@]}")
  t0=$(date +%s.%N)
  # The console's input: the answer to the guest's marks. Read-write, so that it never ends.
  exec 6<>"$run/console.in"
  timeout -k 5 "${VM_TIMEOUT:-240}" "${qemu[@]}" <&6 >"$run/console" 2>&1 &
  qpid=$!
  # The monitor's answers must be drained, or qemu blocks once the pipe is full.
  cat "$run/mon.out" >"$run/monitor.log" &
  local drain=$!
  # Read-write: opening a pipe only for writing would wait for qemu, which is not started yet
  # while its console pipe waits for this loop.
  exec 5<>"$run/mon.in"

  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    printf '%s\n' "$line" >>"$out.console"
    case $state,$line in
      boot,VM-BEGIN*)
        state=session
        t1=$(date +%s.%N)
        VM_BOOT_SECONDS=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", b - a}') ;;
      session,VM-CHANGE\ *)
        read -r _ id tag <<<"$line"
        if [ "$tag" = none ]; then
          echo "eject -f $id" >&5
        elif [ -n "${VM_DISCS[$tag]:-}" ]; then
          printf 'change %s "%s" raw read-only\n' "$id" "${VM_DISCS[$tag]}" >&5
        else
          vm_say "the guest asked for an unknown disc $tag"
        fi ;;
      session,VM-MARK\ *)
        for log in "${VM_MARK_LOGS[@]}"; do printf 'mark %s\n' "${line#VM-MARK }" >>"$log"; done
        echo go >&6 ;;
      session,VM-EXIT\ *)
        rc=${line#VM-EXIT }
        state=done ;;
    esac
  done <"$run/console"
  exec 5>&- 6>&-
  wait "$qpid"
  local qrc=$?
  kill "$drain" 2>/dev/null
  wait "$drain" 2>/dev/null
  VM_WALL_SECONDS=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')

  if [ -n "$rc" ]; then
    tar -xf "$run/out.img" -C "$out" 2>/dev/null || { vm_say "the guest's /out did not come back"; rc=125; }
  elif [ "$qrc" = 124 ] || [ "$qrc" = 137 ]; then
    vm_say "time-out after ${VM_TIMEOUT:-240} s"
    rc=124
  else
    vm_say "the guest ended without finishing its session (qemu status $qrc); console tail:"
    tail -n 15 "$out.console" | sed 's/^/  | /' >&2
    rc=125
  fi
  rm -rf "$run"
  vm_reset
  return "$rc"
}
