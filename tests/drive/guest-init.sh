#!/bin/busybox sh
# SPDX-License-Identifier: GPL-3.0-or-later
# /init of the drive-test VM. Loads the drive modules, waits for every drive and for the disk
# that carries /out back, runs /prog/session.sh, writes /out as a tar onto that disk, prints
# "VM-EXIT <status>" and powers off. Every way out powers off.
/bin/busybox mkdir -p /proc /sys /dev /tmp /out
/bin/busybox mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin HOME=/ TERM=dumb
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /tmp
# Room for a copy of a disc larger than half the memory, which is all tmpfs takes by default.
mount -t tmpfs -o size=95% tmpfs /out

off() { sync; poweroff -f; sleep 5; echo o >/proc/sysrq-trigger; }

while read -r ko; do
  insmod "$ko" || echo "vm: insmod $ko failed"
done </etc/modules
. /prog/vm.env
export LD_LIBRARY_PATH

# Drives are probed asynchronously; the session needs all of them.
i=0
while :; do
  n=$(ls /sys/class/block | grep -c '^sr')
  [ "$n" -ge "$VM_DRIVES" ] && [ -b /dev/vda ] && break
  i=$((i + 1))
  if [ $i -gt 300 ]; then
    echo "VM-FAIL $n of $VM_DRIVES drives appeared; $(ls /dev/vda 2>&1)"
    off
  fi
  sleep 0.1
done
# Kernel messages would land in the middle of the session's lines.
echo 1 >/proc/sys/kernel/printk

cd /prog || off
read -r up _ </proc/uptime
echo "VM-BEGIN uptime $up"
sh ./session.sh
rc=$?
tar -cf /dev/vda -C /out . || echo "vm: cannot write /out"
sync
echo "VM-EXIT $rc"
off
