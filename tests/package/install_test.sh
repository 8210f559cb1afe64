#!/usr/bin/env bash
# cmake --install into a scratch prefix holds the tools, the headers, the
# library and the CMake package. Usage: install_test.sh <build-dir> <prefix>
source "$(dirname "$0")/lib.sh"
build=$1 prefix=$2

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/Varndel bin/varndel-inspect bin/varndel-opt libexec/varndel/varndel-edge include/varndel/reader.h \
  include/varndel/records.h include/varndel/writer.h include/varndel/optimize.h include/varndel/mapped.h \
  lib/libvarndel_reader.a lib/libvarndel_anim.a \
  lib/libvarndel_optimize.a lib/cmake/Varndel/VarndelConfig.cmake \
  lib/cmake/Varndel/VarndelConfigVersion.cmake lib/cmake/Varndel/VarndelTargets.cmake \
  lib/cmake/Varndel/VarndelModels.cmake; do
  [ -e "$prefix/$file" ] || fail "the install lacks $file"
done
if grep -q '^VARNDEL_PYTHON:BOOL=ON' "$build/CMakeCache.txt"; then
  [ -e "$prefix/lib/python3/dist-packages/varndel.pyi" ] || fail "the install lacks the Python stubs"
  PYTHONPATH="$prefix/lib/python3/dist-packages" /usr/bin/python3 -c "import varndel" || fail "cannot import the installed module"
fi
"$prefix/bin/Varndel" >/dev/null && fail "Varndel without arguments should exit non-zero"
echo "installed into $prefix"
