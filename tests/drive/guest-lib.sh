# SPDX-License-Identifier: GPL-3.0-or-later
# Helpers of a session inside the drive-test VM (busybox sh). Sourced by session.sh.

# run NAME COMMAND...: runs COMMAND; its output, error output, exit status and seconds go to
# /out/NAME.out, .err, .rc and .secs.
run() {
  _name=$1
  shift
  read -r _t0 _ </proc/uptime
  "$@" </dev/null >"/out/$_name.out" 2>"/out/$_name.err"
  _rc=$?
  read -r _t1 _ </proc/uptime
  echo "$_rc" >"/out/$_name.rc"
  awk -v a="$_t0" -v b="$_t1" 'BEGIN {printf "%.2f\n", b - a}' >"/out/$_name.secs"
  echo "vm: $_name exit $_rc, $(cat "/out/$_name.secs") s"
}

. ./vm.env

# drive_letter ID: the letter of the drive that the host added as ID ("F:"): the kernel's srN
# whose device sits where the host put that drive (D: is sr0).
drive_letter() {
  eval "_at=\$VM_AT_$1"
  for _d in /sys/class/block/sr*; do
    case $(readlink -f "$_d") in
      $_at)
        _n=${_d##*/sr}
        echo "$(echo DEFGHIJKLMNOPQRSTUVWXYZ | cut -c$((_n + 1))):"
        return 0 ;;
    esac
  done
  echo "vm: no drive $1" >&2
  echo "?:"
}

# drive_commands LETTER: the number of commands the kernel has sent to that drive so far, SG_IO
# ones included.
drive_commands() {
  _n=$(($(printf %d "'${1%:}") - 68))
  echo $(($(cat /sys/class/block/sr$_n/device/iorequest_cnt)))
}

# change ID TAG: asks the host to put disc TAG into drive ID ("none" takes it out).
change() {
  echo "VM-CHANGE $1 $2"
}

# mark NAME: "mark NAME" goes into the log of every slow disc, between the reads of the commands
# before and after it; the host answers once it is written.
mark() {
  echo "VM-MARK $1"
  read -r _answer
}
