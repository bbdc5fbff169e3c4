#!/bin/sh
# Installs the build into a scratch prefix, then builds and runs a client
# that finds the library the two documented ways: CMake's find_package and
# pkg-config.
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

mkdir "$work/client"
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
cmake -S "$work/client" -B "$work/client/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/client/build" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$work/client/build/client"

flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs ORVIX_0500)
c++ -std=c++20 "$work/client/main.cpp" $flags -o "$work/client-pc"
LD_LIBRARY_PATH="$prefix/lib" "$work/client-pc"
test -x "$prefix/bin/orvix"
# Tolvane appears in the desktop's menu with its icon, and runs from there.
test -x "$prefix/bin/Tolvane"
grep -q '^Exec=Tolvane %F$' "$prefix/share/applications/tolvane.desktop"
grep -q '^Icon=tolvane$' "$prefix/share/applications/tolvane.desktop"
test -s "$prefix/share/pixmaps/tolvane.xpm"
LD_LIBRARY_PATH="$prefix/lib" "$prefix/bin/Tolvane" --batch --version | grep -q "Tolvane Version: 2, 6, 7, 1"

# The Debian package holds the library, the tool and the program with its menu entry.
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
contents=$(dpkg -c "$work"/deb/*.deb)
for f in ./usr/bin/Tolvane ./usr/bin/orvix ./usr/include/ORVIX_0500.h ./usr/share/applications/tolvane.desktop; do
  echo "$contents" | grep -q " $f\$" || { echo "package lacks $f"; exit 1; }
done
echo "$contents" | grep -q "libORVIX_0500.so.2" || { echo "package lacks the library"; exit 1; }
echo "installed package found by CMake and pkg-config; Debian package complete"
