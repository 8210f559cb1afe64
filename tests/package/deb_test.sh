#!/usr/bin/env bash
# cpack -G DEB builds a package with its dependencies declared; unpacked with
# dpkg -x, its compiler compiles the examples exactly as the built one does,
# and its inspector reads the result; with the Python module, Debian's python3
# imports it from the package's tree and runs the Python page's first example.
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
  ./usr/include/varndel/reader.h ./usr/include/varndel/mapped.h ./usr/lib/libvarndel_reader.a ./usr/lib/libvarndel_anim.a \
  ./usr/lib/cmake/Varndel/VarndelConfig.cmake \
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

if grep -q '^VARNDEL_PYTHON:BOOL=ON' "$build/CMakeCache.txt"; then
  site=usr/lib/python3/dist-packages
  grep -q "\./$site/varndel\.cpython-.*\.so" <<<"$contents" || fail "the package lacks the Python module in /$site"
  expect_contains "$contents" "./$site/varndel.pyi" "package contents"
  expect_contains "$depends" "python3-numpy" "Depends"
  # dpkg -i puts the module in /usr/lib/python3/dist-packages, where Debian's python3 looks.
  /usr/bin/python3 -c 'import sys; sys.exit("/usr/lib/python3/dist-packages" not in sys.path)' ||
    fail "/usr/bin/python3 does not look in /$site"
  source_dir=$(cd "$examples/.." && pwd)
  mkdir -p "$work/python/examples"
  cp "$examples/crate.obj" "$examples/crate.mtl" "$examples/walker.gltf" "$work/python/examples/"
  /usr/bin/python3 "$source_dir/python/tests/readme_example.py" "$source_dir/docs/python.md" >"$work/python/example.py"
  (cd "$work/python" && export PYTHONPATH="$work/root/$site" &&
    /usr/bin/python3 -c "import varndel; assert varndel.__file__.startswith('$work/root/'), varndel.__file__" &&
    /usr/bin/python3 example.py) >"$work/python.log" 2>&1 || { cat "$work/python.log"; fail "the packaged Python module failed"; }
  [ -s "$work/python/out/crate.staticbin" ] || fail "the Python page's example wrote no out/crate.staticbin"
fi
echo "package $(basename "$deb") OK; Depends: $depends"
