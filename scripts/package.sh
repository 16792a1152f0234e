#!/usr/bin/env bash
# Builds the Debian packages into out/packages/.
#   scripts/package.sh          checkmode and checkmode-boardsim for this PC
#   scripts/package.sh armhf    checkmode for the board (needs the packages
#                               that scripts/armhf-check.sh installs)
# Each is a release build of its own, installed under /usr, without tests.
set -euo pipefail
# The file lists are in this order.
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$PWD
target=${1:-native}
out=$root/out/packages

case $target in
native)
    bash scripts/deps.sh
    build=$root/build/package
    configure=()
    ;;
armhf)
    build=$root/build/package-armhf
    configure=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/armhf-toolchain.cmake")
    # dpkg-shlibdeps looks for the libraries of this architecture.
    export DEB_HOST_ARCH=armhf
    ;;
*)
    echo "usage: scripts/package.sh [armhf]" >&2
    exit 2
    ;;
esac

# Debian's hardening flags, as a package built by debhelper gets them
# (fortified functions, stack protector, full RELRO with immediate binding).
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCHECKMODE_BUILD_TESTS=OFF -DCHECKMODE_BUILD_BENCH=OFF "${configure[@]}" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
# CPack leaves its staging tree beside the packages.
rm -rf "$out/_CPack_Packages"

# Every package holds exactly the files its list names: a stray install rule
# would otherwise ship a test or a static library to the board.
status=0
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [ "$target" = armhf ]; then arch=armhf; else arch=$(dpkg --print-architecture); fi
for list in packaging/*.files; do
    name=$(basename "$list" .files)
    deb=$out/${name}_${version}_${arch}.deb
    [ -f "$deb" ] || continue
    if ! diff -u "$list" <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\.\(/.*[^/]\)$|\1|p' | sort); then
        echo "package: $deb does not hold exactly the files of $list" >&2
        status=1
    fi
    printf '%s KiB  %s\n' "$(du -k "$deb" | cut -f1)" "$deb"
done
if command -v lintian >/dev/null; then
    # Warnings are listed in the README; an error fails the packaging.
    lintian --fail-on error "$out"/*_"$version"_"$arch".deb || status=1
fi
exit $status
