#!/usr/bin/env bash
# Builds the example installer from examples/app/setup.toml and a payload tree
# that make_payload.py writes (the same on every machine), installs it
# silently under Wine into the private prefix, and checks every installed file
# against its source: bytes and file time.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
here=$root/examples/app
build=$root/build
out=$build/example/app
wine=$root/cmake/wine.sh
prefix_c=$build/wine/prefix/drive_c
install_win='C:\QuillmarExample'
install_dir=$prefix_c/QuillmarExample

echo "== stub sizes"
stat -c '   i686 (product build): %s bytes' "$build/win32/quillmar-stub.exe"
stat -c '   x86_64 (run here):    %s bytes' "$build/win64/quillmar-stub.exe"

echo "== payload"
rm -rf "$out"
mkdir -p "$out"
cp "$here/setup.toml" "$out/"
python3 "$here/make_payload.py" "$out/payload"
echo "   $(find "$out/payload" -type f | wc -l) files, $(du -sb "$out/payload" | cut -f1) bytes in $out/payload"

echo "== building the installer"
"$build/host/builder/quillmar-build" "$out/setup.toml" -o "$out/app-setup.exe" \
    --stub "$build/win64/quillmar-stub.exe"

"$wine" start "$build/wine" >/dev/null
trap '"$wine" stop "$build/wine" >/dev/null' EXIT

echo "== installing silently under Wine: app-setup.exe /S /D=$install_win"
rm -rf "$install_dir"
start=$(date +%s.%N)
set +e
"$wine" run "$build/wine" 300 "$out/app-setup.exe" /S "/D=$install_win"
code=$?
set -e
end=$(date +%s.%N)
awk -v c="$code" -v s="$start" -v e="$end" 'BEGIN { printf "   exit code %d after %.1f s\n", c, e - s }'
[ "$code" -eq 0 ] || { echo "   the installation failed" >&2; exit 1; }

echo "== what was installed in $install_win (under $install_dir)"
echo "   files by folder:"
(cd "$install_dir" && find . -type f -printf '%h\n' | sed -e 's|^\./||' | sort | uniq -c | sed 's/^/   /')
echo "   $(find "$install_dir" -type f | wc -l) files, $(find "$install_dir" -type d | wc -l) folders, $(du -sb "$install_dir" | cut -f1) bytes"
if [ -f "$install_dir/uninstall.exe" ]; then
    stat -c '   uninstaller: uninstall.exe, %s bytes' "$install_dir/uninstall.exe"
else
    echo "   the uninstaller is missing" >&2
    exit 1
fi

echo "== checking every file against its source"
bad=0
checked=0
while IFS= read -r -d '' src; do
    rel=${src#"$out/payload/"}
    dst=$install_dir/$rel
    if ! cmp -s "$src" "$dst"; then
        echo "   differs or missing: $rel" >&2
        bad=$((bad + 1))
    elif [ "$(stat -c %Y "$src")" != "$(stat -c %Y "$dst")" ]; then
        echo "   file time differs: $rel" >&2
        bad=$((bad + 1))
    fi
    checked=$((checked + 1))
done < <(find "$out/payload" -type f -print0)
if [ "$bad" -ne 0 ]; then
    echo "   $bad of $checked files are wrong" >&2
    exit 1
fi
echo "   all $checked files are byte-identical to their sources and carry their file times"

echo "== the same installer started as a user starts it: its wizard"
driver=$build/win64/tests/e2e/driver/qmdrive.exe
shot=$out/app-setup-wizard.bmp
"$wine" run "$build/wine" 120 "$out/app-setup.exe" &
wizard=$!
set +e
"$wine" run "$build/wine" 60 "$driver" wait --title-prefix "" --class "#32770" --exe app-setup.exe --timeout 30000 \
    : screenshot "Z:${shot//\//\\}" : title >"$out/wizard-driver.txt"
seen=$?
"$wine" run "$build/wine" 60 "$driver" wait --title-prefix "" --class "#32770" --exe app-setup.exe \
    : press --id 2 >>"$out/wizard-driver.txt"
wait "$wizard"
code=$?
set -e
[ "$seen" -eq 0 ] || { echo "   the wizard did not show" >&2; cat "$out/wizard-driver.txt" >&2; exit 1; }
convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
sed -n 's/^title: /   title: /p' "$out/wizard-driver.txt"
echo "   screenshot: ${shot%.bmp}.png; cancelled, exit code $code"
[ "$code" -eq 1 ] || { echo "   a cancelled wizard ends with exit code 1" >&2; exit 1; }
