#!/bin/sh
# Builds what the release bundles ship a second time, from scratch in trees
# of its own (build/repro/), bundles it and compares the result byte for
# byte with the bundles of the `all` build: two builds from the same commit
# must give the same zip and tarball. Then builds one MSI of the example
# service twice with the rebuilt Linux packer (kernopack msi, docs/msi.md)
# and compares the two packages.
#
#   scripts/check-reproducible.sh [BUNDLE_DIR]   default build/all/package
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in
  --help|-h) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
first=${1:-build/all/package}
out=build/repro
version=$(sed -n 's/^project(kerno VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "check-reproducible: no version in CMakeLists.txt" >&2; exit 2; }
[ -d "$first" ] || { echo "check-reproducible: $first: no bundles; build the all preset first" >&2; exit 2; }

rm -rf "$out"
echo "check-reproducible: building the shipped pieces again in $out" >&2
cmake -S . -B "$out/win64" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$out/win64" --target kernosvc kernoaction kernopack_dist >/dev/null
cmake -S . -B "$out/win32" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DKERNO_GLUE_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw32.cmake" >/dev/null
cmake --build "$out/win32" --target kernosvc kernoaction >/dev/null
cmake -S . -B "$out/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKERNO_DIST=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build "$out/release" --target kernopack_dist >/dev/null
cmake -S . -B "$out/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build "$out/native" --target kerno_runtime kerno_demo >/dev/null

python3 cmake/make-bundle.py --version "$version" --source . \
  --windows-packer "$out/win64/dist/kernopack.exe" --linux-packer "$out/release/dist/kernopack" \
  --x64 "$out/win64/kernosvc-x64.exe" --x86 "$out/win32/kernosvc-x86.exe" \
  --x64-action "$out/win64/kernoaction-x64.dll" --x86-action "$out/win32/kernoaction-x86.dll" \
  --jar "$out/native/kerno-runtime.jar" --demo-jar "$out/native/kerno-demo.jar" \
  --out "$out/package" >/dev/null

status=0
for f in "kerno-$version-windows.zip" "kerno-$version-linux-x86_64.tar.gz"; do
  if cmp "$first/$f" "$out/package/$f"; then
    echo "check-reproducible: $f: the same bytes in both builds" >&2
  else
    status=1
  fi
done

# One MSI, built twice under different names from the same inputs.
msi=$out/msi
mkdir -p "$msi"
cp examples/service.json "$out/native/kerno-runtime.jar" "$msi/"
# A shipped packer finds the installer's custom action beside itself, as in the bundles.
cp "$out/win64/kernoaction-x64.dll" "$out/release/dist/"
: > "$msi/kerno-demo.jar"
for n in 1 2; do
  "$out/release/dist/kernopack" msi "$msi/service.json" --launcher "$out/win64/kernosvc-x64.exe" \
    --product-version 1.0.0 --upgrade-code 5C1B2F0E-6E4A-4C59-9D1A-7B3E2A0C4D11 -o "$msi/demo-$n.msi" 2>/dev/null ||
    { echo "check-reproducible: kernopack msi failed (are wixl and msitools installed?)" >&2; exit 1; }
done
if cmp "$msi/demo-1.msi" "$msi/demo-2.msi"; then
  echo "check-reproducible: demo.msi: the same bytes in both builds" >&2
else
  status=1
fi
exit $status
