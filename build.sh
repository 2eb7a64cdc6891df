#!/usr/bin/env bash
# Quillmar's one entry point for building and testing on a Debian machine.
#
#   ./build.sh deps      install the Debian packages the build and tests need
#   ./build.sh build     configure and build the three trees (win64, win32, host)
#   ./build.sh test      deps + build, then every test: the i686 size check,
#                        the Windows unit tests under Wine, the host and
#                        end-to-end tests
#   ./build.sh example   deps + build, then make the example installer and
#                        run it under Wine
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD

packages=(
    cmake ninja-build g++ googletest zlib1g-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine64 wine xvfb xauth imagemagick
    libtomlplusplus-dev libbz2-dev bzip2 lbzip2 7zip osslsigncode
    # the Japanese locale, under which Wine runs the code page 932 tests and
    # stores their double-byte file names
    locales-all
)

deps() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() {
    local jobs
    jobs=$(nproc)
    for preset in win64 win32 host; do
        echo "== build $preset"
        [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
        cmake --build "build/$preset" -j "$jobs"
    done
}

run_tests() {
    echo "== i686 stub size"
    ctest --test-dir build/win32 --output-on-failure -V -R stub_size | grep -E "stub size|tests passed|tests failed"
    echo "== Windows unit tests under Wine"
    ctest --test-dir build/win64 --output-on-failure
    # Screenshots taken by the Windows tests are kept as PNG.
    for bmp in build/win64/test-output/*.bmp; do
        [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    echo "== host and end-to-end tests"
    ctest --test-dir build/host --output-on-failure -j 2
}

example() {
    bash examples/app/run.sh "$root"
}

case "${1:-}" in
deps) deps ;;
build) deps; build ;;
test) deps; build; run_tests ;;
example) deps; build; example ;;
*)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
