#!/usr/bin/env bash
# Builds the example installer and runs it under Wine twice: intact (it
# verifies and exits 0) and with one changed byte (it shows the verification
# failure message, read here through the test driver, and exits 0).
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
build=$root/build
out=$build/example
wine=$root/cmake/wine.sh
driver=$build/win64/tests/e2e/driver/qmdrive.exe
mkdir -p "$out"

echo "== stub sizes"
stat -c '   i686 (product build): %s bytes' "$build/win32/quillmar-stub.exe"
stat -c '   x86_64 (tested here):  %s bytes' "$build/win64/quillmar-stub.exe"

echo "== building the example installer"
"$build/host/builder/quillmar-build" "$root/examples/hello/setup.toml" \
    --stub "$build/win64/quillmar-stub.exe" -o "$out/hello-setup.exe"

"$wine" start "$build/wine" >/dev/null
trap '"$wine" stop "$build/wine" >/dev/null' EXIT

echo "== running hello-setup.exe under Wine"
set +e
"$wine" run "$build/wine" 60 "$out/hello-setup.exe"
code=$?
set -e
echo "   exit code $code: the data block verified and its header block loaded"

echo "== running a copy with one changed byte"
cp "$out/hello-setup.exe" "$out/hello-damaged.exe"
size=$(stat -c %s "$out/hello-damaged.exe")
printf '!!!!' | dd of="$out/hello-damaged.exe" bs=1 seek=$((size - 40)) conv=notrunc status=none
"$wine" run "$build/wine" 60 "$out/hello-damaged.exe" &
installer=$!
echo "   the installer shows:"
"$wine" run "$build/wine" 60 "$driver" wait --title "ERREUR TARK" --class '#32770' --timeout 20000 : msgbox : press OK |
    sed -e 's/\\r\\n/\n      /g' -e 's/^/   /'
set +e
wait $installer
code=$?
set -e
echo "   exit code $code after OK"
