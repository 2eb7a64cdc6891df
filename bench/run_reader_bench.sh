#!/usr/bin/env bash
# Reader benchmark: for payloads of 256 and 512 MiB made of this machine's own
# files (text and binaries from /usr, in a fixed order), builds an installer
# with the builder, copies the payload out of it through the reader under
# Wine, decodes the same stream with the decoder alone, and times `bzip2 -dc`
# of the same data natively. Prints every figure beside its references.
#
#   bench/run_reader_bench.sh [SIZE_MIB...]     (after ./build.sh build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
work=$build/bench-reader
wine=$root/cmake/wine.sh
mkdir -p "$work"
sizes=("$@")
[ $# -gt 0 ] || sizes=(256 512)

"$wine" start "$build/wine" >/dev/null
trap '"$wine" stop "$build/wine" >/dev/null' EXIT

now() { date +%s.%N; }
value() { tr -d '\r' <"$2" | sed -n "s/^$1 //p"; }

printf '%-8s %14s %14s %14s %10s %12s\n' "payload" "reader MB/s" "decoder MB/s" "bzip2 -dc MB/s" "reader/bz" "peak memory"
for mib in "${sizes[@]}"; do
    payload=$work/payload-$mib.bin
    if [ ! -f "$payload" ]; then
        # head stops the pipeline early on purpose; only the size counts.
        { find /usr/lib /usr/share -type f -size +4k -size -8M 2>/dev/null | LC_ALL=C sort | xargs cat 2>/dev/null |
            head -c $((mib * 1024 * 1024)) >"$payload"; } || true
        [ "$(stat -c %s "$payload")" -eq $((mib * 1024 * 1024)) ] || { echo "not enough files for $mib MiB" >&2; exit 1; }
    fi
    bytes=$(stat -c %s "$payload")
    "$build/host/builder/quillmar-build" --stub "$build/win64/quillmar-stub.exe" --payload "$payload" \
        -o "$work/setup-$mib.exe" >/dev/null
    [ -f "$payload.bz2" ] || bzip2 -9 -k -c "$payload" >"$payload.bz2"

    "$wine" run "$build/wine" 1200 "$build/win64/bench_reader.exe" "$work/setup-$mib.exe" "$work/copy.bin" \
        >"$work/result-$mib.txt"
    reader=$(value reader_mb_per_s "$work/result-$mib.txt")
    decoder=$(value decoder_mb_per_s "$work/result-$mib.txt")
    peak=$(value peak_working_set_kib "$work/result-$mib.txt")

    t0=$(now)
    bzip2 -dc "$payload.bz2" >/dev/null
    t1=$(now)
    bz=$(echo "$bytes / 1000000 / ($t1 - $t0)" | bc -l)
    printf '%-8s %14.1f %14.1f %14.1f %10.2f %9s KiB\n' "${mib}MiB" "$reader" "$decoder" "$bz" \
        "$(echo "$reader / $bz" | bc -l)" "$peak"
done
echo "installer sizes: $(stat -c '%n %s' "$work"/setup-*.exe | sed "s|$work/||" | tr '\n' ' ')"
