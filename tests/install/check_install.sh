#!/bin/sh
# Installs the build into a scratch prefix and builds a client there the two
# documented ways (CMake's find_package and pkg-config). Then makes the three
# Debian packages, checks what each holds and declares, installs them with
# dpkg into an empty root and builds the client and runs Tolvane from there.
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

mkdir "$work/client" "$work/photos"
cat > "$work/client/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.22)
project(client CXX)
find_package(ORVIX_0500 REQUIRED)
add_executable(client main.cpp)
target_link_libraries(client PRIVATE ORVIX_0500::ORVIX_0500)
CMAKE
cat > "$work/client/main.cpp" <<'CPP'
#include <ORVIX_0500.h>
#include <cstdio>
#include <cstring>
int main() {
    ImgClass img;
    return std::strcmp(GetDll_Version(), "2. 4. 7. 5") != 0 || img.ImgStruct.Bits != 8;
}
CPP
# A 2x2 24-bit BMP for Tolvane to convert.
printf 'BM\106\0\0\0\0\0\0\0\66\0\0\0\50\0\0\0\2\0\0\0\2\0\0\0\1\0\30\0\0\0\0\0\20\0\0\0\23\13\0\0\23\13\0\0\0\0\0\0\0\0\0\0' > "$work/photos/tiny.bmp"
printf '\377\0\0\0\377\0\0\0\0\0\377\377\377\377\0\0' >> "$work/photos/tiny.bmp"

# check_prefix NAME PREFIX: a client built with find_package and one built
# with pkg-config (prefix set to PREFIX) run against the library there, and
# the installed Tolvane converts into a folder it has to make.
check_prefix() {
  name=$1 prefix=$2
  libdir=$prefix/lib/$arch
  cmake -S "$work/client" -B "$work/client-$name" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/client-$name" >/dev/null
  LD_LIBRARY_PATH="$libdir" "$work/client-$name/client" || fail "$name: find_package client failed"
  flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --define-variable=prefix="$prefix" \
          --cflags --libs ORVIX_0500)
  c++ -std=c++20 "$work/client/main.cpp" $flags -o "$work/client-$name-pc"
  LD_LIBRARY_PATH="$libdir" "$work/client-$name-pc" || fail "$name: pkg-config client failed"
  LD_LIBRARY_PATH="$libdir" "$prefix/bin/Tolvane" --batch --version |
    grep -q "Tolvane Version: 2, 6, 7, 1" || fail "$name: Tolvane --version"
  dest=$work/out-$name/new/deeper
  LD_LIBRARY_PATH="$libdir" "$prefix/bin/Tolvane" --batch --percent 50 --format jpeg --dest "$dest" \
    "$work/photos/tiny.bmp" >/dev/null || fail "$name: Tolvane --batch failed"
  [ -s "$dest/A000_tiny.jpg" ] || fail "$name: no A000_tiny.jpg in $dest"
  test -x "$prefix/bin/orvix" || fail "$name: no orvix"
  # Tolvane appears in the desktop's menu with its icon, and runs from there.
  grep -q '^Exec=Tolvane %F$' "$prefix/share/applications/tolvane.desktop"
  grep -q '^Icon=tolvane$' "$prefix/share/applications/tolvane.desktop"
  test -s "$prefix/share/pixmaps/tolvane.xpm"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_prefix scratch "$work/prefix"

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb() { set -- "$work"/deb/"$1"_*.deb; [ $# -eq 1 ] && [ -f "$1" ] || fail "no single package $1"; echo "$1"; }

# Each package holds exactly these files (the build type names one CMake file).
for pkg in liborvix0500 liborvix0500-dev tolvane; do
  dpkg -c "$(deb $pkg)" | awk '!/^d/ { print $6 }' |
    sed 's/Targets-[a-z]*\.cmake$/Targets-BUILDTYPE.cmake/' | sort > "$work/$pkg.has"
done
sort > "$work/expected" <<EOF
liborvix0500 ./usr/lib/$arch/libORVIX_0500.so.2
liborvix0500 ./usr/lib/$arch/libORVIX_0500.so.2.4.7.5
liborvix0500 ./usr/share/doc/liborvix0500/copyright
liborvix0500-dev ./usr/include/ORVIX_0500.h
liborvix0500-dev ./usr/lib/$arch/libORVIX_0500.so
liborvix0500-dev ./usr/lib/$arch/cmake/ORVIX_0500/ORVIX_0500Config.cmake
liborvix0500-dev ./usr/lib/$arch/cmake/ORVIX_0500/ORVIX_0500ConfigVersion.cmake
liborvix0500-dev ./usr/lib/$arch/cmake/ORVIX_0500/ORVIX_0500Targets.cmake
liborvix0500-dev ./usr/lib/$arch/cmake/ORVIX_0500/ORVIX_0500Targets-BUILDTYPE.cmake
liborvix0500-dev ./usr/lib/$arch/pkgconfig/ORVIX_0500.pc
liborvix0500-dev ./usr/share/doc/liborvix0500-dev/copyright
tolvane ./usr/bin/Tolvane
tolvane ./usr/bin/orvix
tolvane ./usr/bin/tolvane-dcraw
tolvane ./usr/share/applications/tolvane.desktop
tolvane ./usr/share/doc/tolvane/copyright
tolvane ./usr/share/pixmaps/tolvane.xpm
EOF
for pkg in liborvix0500 liborvix0500-dev tolvane; do
  grep "^$pkg " "$work/expected" | cut -d' ' -f2 | diff - "$work/$pkg.has" ||
    fail "$pkg: contents differ from the expected (< expected, > packaged)"
done

# Control fields: PACKAGE FIELD TEXT the field contains. Shlibdeps fills in
# the system libraries; our own library is depended on at the same version.
ver=$(dpkg-deb -f "$(deb liborvix0500)" Version)
while read -r pkg field text; do
  dpkg-deb -f "$(deb $pkg)" "$field" | grep -qF "$text" ||
    fail "$pkg: $field lacks '$text': $(dpkg-deb -f "$(deb $pkg)" "$field")"
done <<EOF
liborvix0500 Section libs
liborvix0500 Depends libjpeg62-turbo
liborvix0500-dev Section libdevel
liborvix0500-dev Depends liborvix0500 (= $ver)
tolvane Section graphics
tolvane Depends liborvix0500 (= $ver)
tolvane Depends libqt6widgets6
tolvane Suggests dcraw
EOF
dpkg-deb --ctrl-tarfile "$(deb liborvix0500)" | tar -xO ./shlibs |
  grep -qF "libORVIX_0500 2 liborvix0500 (>= " || fail "liborvix0500: no shlibs entry"

# Installed with dpkg into an empty root. Unpacked, not configured: that
# would run the library's ldconfig script, which needs the root as a chroot.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: > "$root/var/lib/dpkg/status"
PATH=$PATH:/usr/sbin:/sbin dpkg --force-not-root --root="$root" --log=/dev/null \
  --unpack "$(deb liborvix0500)" "$(deb liborvix0500-dev)" "$(deb tolvane)" >/dev/null

for f in usr/bin/Tolvane usr/bin/orvix usr/lib/$arch/libORVIX_0500.so.2.4.7.5; do
  case $(file -b "$root/$f") in
    *"not stripped"*|*"with debug_info"*) fail "$f is not stripped" ;;
    *stripped*) ;;
    *) fail "$f: $(file -b "$root/$f")" ;;
  esac
done
pc() { PKG_CONFIG_PATH="$root/usr/lib/$arch/pkgconfig" pkg-config --variable="$1" ORVIX_0500; }
[ "$(pc prefix)" = /usr ] && [ "$(pc includedir)" = /usr/include ] &&
  [ "$(pc libdir)" = "/usr/lib/$arch" ] || fail "unclean .pc: $(pc prefix) $(pc includedir) $(pc libdir)"
check_prefix packages "$root/usr"
echo "scratch install and the three Debian packages work for clients and Tolvane"
