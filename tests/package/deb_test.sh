#!/usr/bin/env bash
# cpack -G DEB builds a package with its dependencies declared; unpacked with
# dpkg -x, its compiler compiles the examples exactly as the built one does,
# and its inspector reads the result.
# Usage: deb_test.sh <build-dir> <examples-dir> <scratch>
source "$(dirname "$0")/lib.sh"
build=$1 examples=$2 work=$3

fresh_dir "$work"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$work"/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $work, found: ${debs[*]}"
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
for library in libassimp libstdc++ libc6; do expect_contains "$depends" "$library" "Depends"; done
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/Varndel ./usr/bin/varndel-inspect ./usr/bin/varndel-opt ./usr/libexec/varndel/varndel-edge \
  ./usr/include/varndel/reader.h ./usr/lib/libvarndel_reader.a ./usr/lib/cmake/Varndel/VarndelConfig.cmake \
  ./usr/lib/cmake/Varndel/VarndelModels.cmake; do
  expect_contains "$contents" "$file" "package contents"
done

dpkg -x "$deb" "$work/root"
for dir in packaged built; do
  mkdir "$work/$dir"
  cp "$examples/crate.obj" "$examples/crate.mtl" "$examples/walker.gltf" "$work/$dir/"
done
(cd "$work/packaged" && "$work/root/usr/bin/Varndel" 0 0 crate.obj && "$work/root/usr/bin/Varndel" 1 0 walker.gltf) \
  >"$work/run.log" || { cat "$work/run.log"; fail "the packaged compiler failed"; }
(cd "$work/built" && "$build/Varndel" 0 0 crate.obj && "$build/Varndel" 1 0 walker.gltf) >/dev/null
expect_same "$work/packaged/crate.staticbin" "$work/built/crate.staticbin"
expect_same "$work/packaged/walker.animbin" "$work/built/walker.animbin"
out=$("$work/root/usr/bin/varndel-inspect" info "$work/packaged/crate.staticbin") ||
  fail "the packaged varndel-inspect failed: $out"
expect_contains "$out" "24 vertices, 36 indices" "packaged varndel-inspect"
echo "package $(basename "$deb") OK; Depends: $depends"
