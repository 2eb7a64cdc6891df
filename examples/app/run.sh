#!/usr/bin/env bash
# Builds the example installer from examples/app/setup.toml and a payload tree
# that make_payload.py writes (the same on every machine), installs it
# silently under Wine into the private prefix, and checks every installed file
# against its source: bytes and file time. Then it installs it again through
# its wizard, driven as a user would (license, components, folder, install),
# saving a screenshot of every page, checks that the chosen sections (and only
# those) arrived, and removes them with the uninstaller's confirmation page.
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
cp "$here/setup.toml" "$here"/license*.txt "$out/"
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

echo "== the same installer started as a user starts it: its wizard, page by page"
# The driver acts on the wizard as a user does: it reads the pages, chooses
# an install type, ticks a box, types the folder and presses the buttons.
driver=$build/win64/tests/e2e/driver/qmdrive.exe
wizard_win='C:\QuillmarExampleWizard'
wizard_dir=$prefix_c/QuillmarExampleWizard
rm -rf "$wizard_dir"
log=$out/wizard-driver.txt
: >"$log"
# on_window TITLE COMMANDS...: waits for the wizard's window of that title,
# then runs the commands on it.
on_window() {
    local title=$1 exe=$2
    shift 2
    echo "-- $title: $*" >>"$log"
    "$wine" run "$build/wine" 90 "$driver" wait --title "$title" --class "#32770" --exe "$exe" --timeout 30000 \
        : "$@" >>"$log" 2>&1 || { echo "   the wizard did not do what was asked on \"$title\" (see $log)" >&2; exit 1; }
}
shot() { echo "Z:${out//\//\\}\\$1.bmp"; }
png() { convert "$out/$1.bmp" "$out/$1.png" && rm -f "$out/$1.bmp"; echo "   screenshot: $out/$1.png"; }

"$wine" run "$build/wine" 300 "$out/app-setup.exe" &
wizard=$!
caption="Quillmar Example Setup"
on_window "$caption: License Agreement" app-setup.exe visible --id 1000 : screenshot "$(shot wizard-1-license)" \
    : press --id 1
png wizard-1-license
on_window "$caption: Components" app-setup.exe choose --id 1017 Minimal : treeclick --id 1032 Templates \
    : treehover --id 1032 Templates : waittext --id 1043 "Ready-made pages to start from." \
    : screenshot "$(shot wizard-2-components)" : press --id 1
png wizard-2-components
on_window "$caption: Installation Folder" app-setup.exe type --id 1019 "$wizard_win" \
    : screenshot "$(shot wizard-3-directory)" : press --id 1
png wizard-3-directory
on_window "$caption: Completed" app-setup.exe enabled --id 1 --timeout 120000 \
    : screenshot "$(shot wizard-4-finished)" : press --id 1
png wizard-4-finished
set +e
wait "$wizard"
code=$?
set -e
echo "   installed through the wizard, exit code $code"
[ "$code" -eq 0 ] || { echo "   the wizard's installation failed" >&2; exit 1; }

echo "== what the wizard installed: Program and Templates, not the documentation"
missing=0
for rel in readme.txt bin lib templates uninstall.exe; do
    [ -e "$wizard_dir/$rel" ] || { echo "   missing: $rel" >&2; missing=1; }
done
[ ! -e "$wizard_dir/share" ] || { echo "   share was not chosen, yet it is there" >&2; missing=1; }
[ "$missing" -eq 0 ] || exit 1
cmp -s "$out/payload/templates/text000.txt" "$wizard_dir/templates/text000.txt" ||
    { echo "   templates/text000.txt differs" >&2; exit 1; }
echo "   $(find "$wizard_dir" -type f | wc -l) files in $wizard_win, as chosen"

echo "== its uninstaller, as its temporary copy runs it: the confirmation page"
# The copy runs from outside the folder it empties, as the uninstaller's
# hand-over arranges.
uninstall_caption="Quillmar Example Uninstall"
cp "$wizard_dir/uninstall.exe" "$out/uninstall-copy.exe"
"$wine" run "$build/wine" 300 "$out/uninstall-copy.exe" "_=$wizard_win" &
remover=$!
on_window "$uninstall_caption: Confirmation" uninstall-copy.exe visible --id 1000 \
    : screenshot "$(shot wizard-5-uninstall)" : press --id 1
png wizard-5-uninstall
on_window "$uninstall_caption: Completed" uninstall-copy.exe enabled --id 1 --timeout 120000 : press --id 1
set +e
wait "$remover"
code=$?
set -e
[ "$code" -eq 0 ] || { echo "   the uninstaller failed with exit code $code" >&2; exit 1; }
[ ! -e "$wizard_dir" ] || { echo "   $wizard_win is still there after the uninstallation" >&2; exit 1; }
echo "   uninstalled: $wizard_win is gone"
