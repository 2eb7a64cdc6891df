#!/usr/bin/env bash
# Installation benchmark: a tree of this machine's own files (from /usr, in a
# fixed order, at least 200 MiB in many files) installed silently under Wine
# by an installer made with the builder, beside `tar -xjf` of the same tree
# (a tar.bz2 made with `bzip2 -9`) and `bzip2 -dc` of it, natively; and the
# installer's size beside the tar.bz2's. Prints each figure beside its
# reference, with the ratio.
#
#   bench/run_install_bench.sh [SIZE_MIB]     (after ./build.sh build; default 220)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
work=$build/bench-install
wine=$root/cmake/wine.sh
mib=${1:-220}
mkdir -p "$work"

now() { date +%s.%N; }
elapsed() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.2f", e - s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Without a journal (as on this machine's disk), ext4 passes over the inodes
# freed in the last 60 s when it allocates one, or in the last 360 s where
# their inode table block is dirty, as new inodes beside them make it. Creating
# many files soon after a tree was deleted then costs far more, and costs the
# first of the timed runs most. Both timed runs therefore start only once the
# last deletion of their outputs is older than that (a second run right after
# a first one waits up to six minutes).
stamp=$work/outputs-removed
remove_outputs() { rm -rf "$@"; touch "$stamp"; }
settle_deletions() {
    [ -f "$stamp" ] || return 0
    local age=$(( $(date +%s) - $(stat -c %Y "$stamp") ))
    if [ "$age" -lt 361 ]; then
        echo "waiting $(( 361 - age )) s until the last deletion of the outputs is six minutes old" >&2
        sleep $(( 361 - age ))
    fi
}

tree=$work/tree
if [ ! -f "$work/tree.done" ]; then
    rm -rf "$tree"
    mkdir -p "$tree"
    # Regular files of 1 KiB to 4 MiB, in sorted order, until the size is reached.
    find /usr/lib /usr/share -type f -size +1k -size -4M -readable -printf '%s %p\n' 2>/dev/null |
        LC_ALL=C sort -k2 | awk -v limit=$((mib * 1024 * 1024)) \
        '{ total += $1; print substr($0, index($0, " ") + 1); if (total >= limit) exit }' >"$work/list.txt" || true
    tar -cf - --no-recursion -T "$work/list.txt" 2>/dev/null | tar -xf - -C "$tree"
    touch "$work/tree.done"
fi
files=$(find "$tree" -type f | wc -l)
bytes=$(du -sb "$tree" | cut -f1)
echo "tree: $files files, $bytes bytes"

cat >"$work/setup.toml" <<'TOML'
script = '''
all:    create_directory "{install_dir}", true
        files "tree"
        end
'''
[installer]
default_install_dir = 'C:\QmBench'
[[sections]]
name = "All"
code = "all"
[[languages]]
id = 1033
TOML
start=$(now)
"$build/host/builder/quillmar-build" "$work/setup.toml" -o "$work/setup.exe" --stub "$build/win64/quillmar-stub.exe" \
    2>/dev/null
build_s=$(elapsed "$start" "$(now)")
[ -f "$work/tree.tar.bz2" ] || (cd "$work" && tar -cf - tree | bzip2 -9 >tree.tar.bz2)

"$wine" start "$build/wine" >/dev/null
trap '"$wine" stop "$build/wine" >/dev/null' EXIT
target=$build/wine/prefix/drive_c/QmBench
[ ! -e "$target" ] && [ ! -e "$work/untar" ] || remove_outputs "$target" "$work/untar"
sync
settle_deletions
start=$(now)
"$wine" run "$build/wine" 1800 "$work/setup.exe" /S
install_s=$(elapsed "$start" "$(now)")
installed=$(find "$target" -type f | wc -l)

mkdir -p "$work/untar"
sync
start=$(now)
tar -xjf "$work/tree.tar.bz2" -C "$work/untar"
tar_s=$(elapsed "$start" "$(now)")
start=$(now)
bzip2 -dc "$work/tree.tar.bz2" >/dev/null
bz_s=$(elapsed "$start" "$(now)")

installer_size=$(stat -c %s "$work/setup.exe")
tar_size=$(stat -c %s "$work/tree.tar.bz2")
printf '%-40s %12s %12s %8s\n' "figure" "value" "reference" "ratio"
printf '%-40s %10ss %10ss %8s   (reference: tar -xjf)\n' "silent installation under Wine" "$install_s" "$tar_s" "$(ratio "$install_s" "$tar_s")"
printf '%-40s %10ss %10ss %8s   (reference: bzip2 -dc)\n' "silent installation under Wine" "$install_s" "$bz_s" "$(ratio "$install_s" "$bz_s")"
printf '%-40s %11s %11s %8s   (reference: tar.bz2, bzip2 -9)\n' "installer size (bytes)" "$installer_size" "$tar_size" "$(ratio "$installer_size" "$tar_size")"
printf '%-40s %10ss\n' "builder (2 threads)" "$build_s"
echo "installed $installed of $files files"
remove_outputs "$target" "$work/untar"
