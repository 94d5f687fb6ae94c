#!/usr/bin/env bash
# Builds the Debian package: the program tree in /opt/vektra, the `vektra`
# command in /usr/bin, the desktop entry, the icon and the scheme file type.
# Then checks it: its contents, its dependencies, and a first start of the
# launcher from the unpacked tree (fresh home, no display) that must seed the
# user's configuration, register the interpreter and run the bench scheme.
# Usage: scripts/package.sh [--install]
#   --install  also installs the package with apt-get (pulling its
#              dependencies) and starts the installed `vektra` once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
install=0
[ "${1:-}" = "--install" ] && install=1

scripts/install-deps.sh
dir="$root/build-package"
# The package's objects are the normal build's: let the compiler cache see
# them as the same whatever the folder.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
scripts/build.sh "$dir" -DCMAKE_INSTALL_PREFIX=/opt/vektra -DVK_SYSTEM_INTEGRATION=ON \
  -DVK_BUILD_TESTS=OFF -DVK_BUILD_BENCH=OFF
rm -f "$dir"/vektra_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/vektra_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends

fail() { echo "package.sh: $*" >&2; exit 1; }
contents=$(dpkg-deb --contents "$deb")
for path in ./opt/vektra/bin/Player ./opt/vektra/bin/Plugins/InstrumentLink.so \
    ./opt/vektra/bin/Plugins/PlotDesk.so ./opt/vektra/bin/KorvanInterpreter.so \
    ./opt/vektra/bin/schemes/bench.vms ./opt/vektra/bin/data/config.xml \
    ./opt/vektra/bin/help/vektra.qch ./usr/bin/vektra \
    ./usr/share/applications/vektra.desktop ./usr/share/icons/hicolor/scalable/apps/vektra.svg; do
  grep -q " $path" <<<"$contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libqt6widgets6 libxml2 libqcustomplot libqt6help6 libqt6printsupport6; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib"
done

# A first start from the unpacked tree.
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
dpkg-deb -x "$deb" "$check/root"
mkdir -p "$check/home"
HOME="$check/home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=offscreen \
  "$check/root/opt/vektra/bin/Player" "$check/root/opt/vektra/bin/schemes/bench.vms" \
  --quit-after 3 --screenshot "$check/first.png" >/dev/null 2>"$check/stderr" \
  || { cat "$check/stderr" >&2; fail "the unpacked launcher did not run the bench scheme"; }
[ -f "$check/home/.config/korvan/vektra/config.xml" ] || fail "the first start did not seed the configuration"
grep -q "KorvanInterpreter.so" "$check/home/.config/Korvan/ComponentRegistry.ini" \
  || fail "the first start did not register the interpreter"
[ -s "$check/first.png" ] || fail "the first start showed no window"
echo "package.sh: contents, dependencies and a first start checked"

if [ $install -eq 1 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get install -y -qq "$deb" >/dev/null
  mkdir -p "$check/home2"
  HOME="$check/home2" QT_QPA_PLATFORM=offscreen vektra /opt/vektra/bin/schemes/bench.vms --quit-after 3 \
    >/dev/null 2>"$check/stderr" || { cat "$check/stderr" >&2; fail "the installed vektra did not run"; }
  echo "package.sh: installed; 'vektra' runs the bench scheme"
fi
