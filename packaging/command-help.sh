#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a help2man include file that gives every command of tessarin-cli its own sub-section with
# the command's own --help, so that the manual page lists each command's options too.
# Usage: command-help.sh PROGRAM OUTPUT
set -eu
program=$1
output=$2
commands=$("$program" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
[ -n "$commands" ] || { echo "command-help.sh: no commands in $program --help" >&2; exit 1; }
{
  echo '[COMMANDS]'
  for command in $commands; do
    echo ".SS $command"
    echo '.nf'
    # roff: a backslash is written \e, and a line may not start with a dot or an apostrophe.
    "$program" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    echo '.fi'
  done
} >"$output.tmp"
mv "$output.tmp" "$output"
