#!/bin/sh
# Starts an installed intro program from any folder. The intro reads its
# files (out.png, omber.xm, data/) from its working directory, so the program
# runs in the package's data folder; file names given to invitro-capture
# (-o, --output, --timeline) still mean the folder it was started from, and
# its video lands there ("invitro.mp4") when no -o is given.
set -e
name=$(basename "$0")
prefix=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
program="$prefix/lib/invitro/$name"
data="$prefix/share/invitro"
here=$(pwd)
if [ ! -x "$program" ] || [ ! -f "$data/out.png" ]; then
    echo "$name: the intro is not installed completely (need $program and $data/out.png)" >&2
    exit 1
fi
if [ "$name" = invitro-capture ]; then
    count=$#
    path_follows=
    named=
    for arg in "$@"; do
        if [ -n "$path_follows" ]; then
            case $arg in /* | "") ;; *) arg="$here/$arg" ;; esac
            path_follows=
        else
            case $arg in
            -o | --output) path_follows=1 named=1 ;;
            --timeline) path_follows=1 ;;
            --output=* | --timeline=*)
                case ${arg#*=} in /* | "") ;; *) arg="${arg%%=*}=$here/${arg#*=}" ;; esac
                case $arg in --output=*) named=1 ;; esac ;;
            esac
        fi
        set -- "$@" "$arg"
    done
    shift "$count"
    [ -n "$named" ] || set -- --output "$here/invitro.mp4" "$@"
fi
cd "$data"
exec "$program" "$@"
