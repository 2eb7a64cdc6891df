#!/usr/bin/env bash
# Quillmar's one entry point for building and testing on a Debian machine.
#
#   ./build.sh deps      install the Debian packages the build and tests need
#   ./build.sh build     configure and build the three trees (win64, win32, host)
#   ./build.sh test      deps + build, then every test: the i686 size check,
#                        the Windows unit tests under Wine, the host and
#                        end-to-end tests; the Windows and end-to-end tests
#                        once with each stub, x86_64 and i686
#   ./build.sh example   deps + build, then make the example installer and
#                        run it under Wine
#
# The i686 half runs where this machine runs 32-bit programs; QM_NO_32BIT=1
# skips it as if it could not.
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

# Why the i686 half cannot run here, or nothing when it can: a tiny 32-bit
# Linux program (an ELF file that only exits with code 42) shows whether the
# kernel runs 32-bit code at all, which the 32-bit Wine needs.
no_32bit_reason() {
    if [ -n "${QM_NO_32BIT:-}" ]; then
        echo "QM_NO_32BIT is set"
        return
    fi
    local probe code=0
    probe=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08' >"$probe"
    printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >>"$probe"
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00' >>"$probe"
    printf '\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xb3\x2a\xcd\x80' >>"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || code=$?
    rm -f "$probe"
    [ "$code" -eq 42 ] || echo "this machine does not run 32-bit programs"
}

deps() {
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    local wanted=("${packages[@]}")
    if [ -z "$(no_32bit_reason)" ]; then
        # The 32-bit Wine beside the 64-bit one, from the i386 architecture.
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            echo "== adding the i386 architecture for the 32-bit Wine"
            $sudo dpkg --add-architecture i386
        fi
        wanted+=(wine32:i386)
    fi
    local missing=()
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
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

# Screenshots taken by the Windows tests of a tree are kept as PNG.
keep_screenshots() {
    for bmp in "$1"/test-output/*.bmp; do
        [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    return 0
}

run_tests() {
    local no32
    no32=$(no_32bit_reason)
    echo "== i686 stub size"
    ctest --test-dir build/win32 --output-on-failure -V -R stub_size | grep -E "stub size|stub sections|tests passed|tests failed"
    echo "== Windows unit tests under Wine, x86_64"
    ctest --test-dir build/win64 --output-on-failure
    keep_screenshots build/win64
    if [ -z "$no32" ]; then
        echo "== Windows unit tests under Wine, i686"
        ctest --test-dir build/win32 --output-on-failure -E stub_size
        keep_screenshots build/win32
    else
        echo "== i686 half skipped: $no32 (the i686 stub is only built and size-checked)"
    fi
    echo "== host and end-to-end tests, x86_64 stub"
    ctest --test-dir build/host --output-on-failure -j 2 -LE i686
    if [ -z "$no32" ]; then
        # After the x86_64 run, not beside it: a test and its i686 twin use
        # the same places in the Wine prefix.
        echo "== end-to-end tests, i686 stub"
        ctest --test-dir build/host --output-on-failure -j 2 -L i686
    fi
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
