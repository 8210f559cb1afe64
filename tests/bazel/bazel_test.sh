#!/usr/bin/env bash
# The Bazel rules (bazel/) against a shared cache: a workspace copy A builds
# the asset example plus generated models, a model at the workspace root and
# an MD5 and an SMD model whose importers probe for companion files that do
# not exist; a copy B elsewhere, with its own output base and the build step
# installed under another prefix named relative to it (a second machine),
# gets every model from the cache and compiles none: from an nginx WebDAV
# server on loopback (--remote_cache), then, from clean, from A's disk cache
# alone (--disk_cache). Both give the bytes of varndel_add_models and of
# direct runs; a changed .mtl reruns its model only; a side file left out of
# data fails the build, naming the file; a companion added later is read;
# --spawn_strategy=local gives the sandbox's bytes; a prefix with another
# libassimp misses the cache. One Bazel server for each copy serves every step.
# Usage: bazel_test.sh <source-dir> <build-dir> <scratch>
source "$(dirname "$0")/../package/lib.sh"
source_dir=$1 build=$2 work=$3
models=49 # the example's three, 40 generated, the optimised crate and walker, the root model, MD5, SMD and a glTF with embedded images

fresh_dir "$work"
output_bases=() # "<workspace>|<output base>" of each Bazel server started
# Nothing in the home directory; a server left behind stops by itself.
startup=(--output_user_root="$work/user-root" --nohome_rc --max_idle_secs=300)
nginx_pid=""
cleanup() {
  local base
  # Outside its workspace, `bazel shutdown` would run in batch mode and leave the server.
  for base in "${output_bases[@]}"; do
    (cd "${base%%|*}" && bazel "${startup[@]}" --output_base="${base#*|}" shutdown) >/dev/null 2>&1 || true
  done
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap "exit 1" INT TERM HUP

# The build step installed under two prefixes: the same bytes. A third
# carries a libassimp of its own, whose bytes differ (one byte appended),
# which the build step loads from <prefix>/lib.
prefix_a=$work/opt/varndel
prefix_b=$work/machine-b/usr/local
prefix_c=$work/machine-c/opt/varndel
for prefix in "$prefix_a" "$prefix_b" "$prefix_c"; do cmake --install "$build" --prefix "$prefix" >/dev/null; done
expect_same "$prefix_a/libexec/varndel/varndel-edge" "$prefix_b/libexec/varndel/varndel-edge"
system_assimp=$(ldd "$prefix_a/libexec/varndel/varndel-edge" | sed -n 's/^\s*\(libassimp[^ ]*\) => .*/\1/p')
[ -n "$system_assimp" ] || fail "no libassimp in: $(ldd "$prefix_a/libexec/varndel/varndel-edge")"
mkdir -p "$prefix_c/lib"
{ cat "$(ldconfig -p | sed -n "s/^\s*$system_assimp .* => //p" | head -n 1)"; printf '\0'; } >"$prefix_c/lib/$system_assimp"
expect_contains "$(ldd "$prefix_c/libexec/varndel/varndel-edge")" "$system_assimp => $prefix_c/libexec/varndel/../../lib/" \
  "the libraries of the third prefix's build step"

# nginx as a WebDAV store, its files in a private directory. As root,
# its workers run as root too, or every PUT fails with 500 for want of a
# writable cache directory.
server=$work/nginx
mkdir -p "$server/cache" "$server/tmp"
user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user root;"
for attempt in 1 2 3 4 5 6 7 8; do
  port=$((20000 + RANDOM % 20000))
  cat >"$server/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $server/nginx.pid;
error_log $server/error.log;
events { worker_connections 64; }
http {
  access_log $server/access.log;
  client_body_temp_path $server/tmp/body;
  proxy_temp_path $server/tmp/proxy;
  fastcgi_temp_path $server/tmp/fastcgi;
  uwsgi_temp_path $server/tmp/uwsgi;
  scgi_temp_path $server/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $server/cache;
    client_max_body_size 0;
    location / {
      dav_methods PUT;
      create_full_put_path on;
    }
  }
}
CONF
  nginx -e "$server/error.log" -p "$server" -c "$server/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break 2
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
done
[ -n "$nginx_pid" ] || { cat "$server/error.log"; fail "nginx did not start"; }
remote_cache=(--remote_cache="http://127.0.0.1:$port")

# Workspace copy A: the asset example and 40 generated models, each in its
# own directory with its .mtl; and the same models through varndel_add_models.
ws_a=$work/a/assets
mkdir -p "$work/a"
cp -r "$source_dir/examples/assets" "$ws_a"
for i in $(seq -w 0 39); do
  dir=$ws_a/generated/m$i
  mkdir -p "$dir"
  {
    echo "mtllib m$i.mtl"
    echo "usemtl skin$i"
    echo "v 0 0 $i"
    echo "v 1 0 0"
    echo "v 1 $((10#$i + 1)) 0"
    echo "v 0 1 0.5"
    echo "vt 0 0"
    echo "vt 1 0"
    echo "vt 1 1"
    echo "vt 0 1"
    echo "f 1/1 2/2 3/3 4/4"
  } >"$dir/m$i.obj"
  printf 'newmtl skin%s\nKd 0.%s 0.5 0.5\nmap_Kd textures/m%s.png\n' "$i" "$i" "$i" >"$dir/m$i.mtl"
done
# A model at the workspace root, whose default data is the whole package.
printf 'mtllib ground.mtl\nusemtl ground\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n' >"$ws_a/ground.obj"
printf 'newmtl ground\nmap_Kd ground.png\n' >"$ws_a/ground.mtl"
# Importers that probe for optional companions, in a package of their own:
# MD5 for <name>.md5anim, SMD for <model>/<name>_animation.txt. Neither
# exists yet (the second never can: it lies below a file).
mkdir -p "$ws_a/probes"
cp "$source_dir/tests/bazel/probes/"* "$ws_a/probes/"
cat >"$ws_a/probes/BUILD.bazel" <<'EOF'
load("@varndel//bazel:defs.bzl", "varndel_models")

varndel_models(
    name = "probes",
    srcs = ["md5cube.md5mesh", "smdstrip.smd"],
    animated = True,
)
EOF
# A glTF whose two images are embedded, extracted into a tree artifact.
mkdir -p "$ws_a/embedded"
cp "$source_dir/tests/fixtures/embedded.gltf" "$ws_a/embedded/"
cat >"$ws_a/embedded/BUILD.bazel" <<'EOF'
load("@varndel//bazel:defs.bzl", "varndel_models")

varndel_models(
    name = "embedded",
    srcs = ["embedded.gltf"],
    extract_textures = True,
)
EOF
sed -i 's|^load("@varndel//bazel:defs.bzl", "varndel_models")$|load("@varndel//bazel:defs.bzl", "varndel_models", "varndel_report")|' \
  "$ws_a/BUILD.bazel"
cat >>"$ws_a/BUILD.bazel" <<'EOF'

varndel_report(
    name = "library",
    models = [":props", ":characters", ":props_optimized"],
)

varndel_models(
    name = "generated",
    srcs = glob(["generated/*/*.obj"]),
)

varndel_models(
    name = "ground",
    srcs = ["ground.obj"],
)

varndel_models(
    name = "props_optimized",
    srcs = ["models/crate.obj"],
    optimize = True,
    output_directory = "optimized",
)

varndel_models(
    name = "characters_reduced",
    srcs = ["characters/walker.gltf"],
    animated = True,
    optimize = True,
    animation_tolerance = "0.01",
    animation_distance = "0.2",
    output_directory = "reduced",
)
EOF
cat >>"$ws_a/CMakeLists.txt" <<'EOF'
file(GLOB generated_models RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" generated/*/*.obj)
varndel_add_models(generated ALL MODELS ${generated_models})
varndel_add_models(props_optimized ALL OPTIMIZE OUTPUT_DIRECTORY optimized MODELS models/crate.obj)
varndel_add_models(characters_reduced ALL ANIMATED OPTIMIZE ANIMATION_TOLERANCE 0.01 ANIMATION_DISTANCE 0.2
  OUTPUT_DIRECTORY reduced MODELS characters/walker.gltf)
varndel_add_models(ground ALL MODELS ground.obj)
varndel_add_models(probes ALL ANIMATED ASSET_ROOT probes OUTPUT_DIRECTORY probes
  MODELS probes/md5cube.md5mesh probes/smdstrip.smd)
varndel_add_models(embedded ALL EXTRACT_TEXTURES ASSET_ROOT embedded OUTPUT_DIRECTORY embedded
  MODELS embedded/embedded.gltf)
EOF
ws_b=$work/b/checkout/of/assets
mkdir -p "$(dirname "$ws_b")"
cp -r "$ws_a" "$ws_b"
# The user's WORKSPACE lines, taken from docs/bazel.md.
readme_lines=$(sed -n '/^local_repository(name = "varndel"/,/^varndel_tools(/p' "$source_dir/docs/bazel.md")
[ "$(grep -c . <<<"$readme_lines")" = 3 ] || fail "the WORKSPACE lines of docs/bazel.md not found: $readme_lines"
workspace() {  # <workspace> <prefix>
  sed -e "s|\"/src/varndel\"|\"$source_dir\"|" -e "s|\"/opt/varndel\"|\"$2\"|" <<<"$readme_lines" >"$1/WORKSPACE"
  grep -qF "\"$2\"" "$1/WORKSPACE" || fail "no prefix in the WORKSPACE: $(cat "$1/WORKSPACE")"
}
workspace "$ws_a" "$prefix_a"
workspace "$ws_b" "$(realpath --relative-to="$ws_b" "$prefix_b")" # relative to the workspace

# The reference: the same tree through varndel_add_models, each edge run by
# a RULE_LAUNCH_CUSTOM launcher as the README shows (a stand-in for a remote
# executor's client: it notes the command and runs it here).
launcher=$work/launcher.sh
printf '#!/bin/sh\necho "$*" >>"%s"\nexec "$@"\n' "$work/launched.txt" >"$launcher"
chmod +x "$launcher"
echo "set_property(GLOBAL PROPERTY RULE_LAUNCH_CUSTOM \"$launcher\")" >"$work/launcher.cmake"
cmake -S "$ws_a" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix_a" \
  -DCMAKE_PROJECT_INCLUDE="$work/launcher.cmake" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake" --target props props_flipped characters generated props_optimized characters_reduced ground probes embedded \
    >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "the CMake build of the example failed"; }
[ "$(grep -c "^$prefix_a/libexec/varndel/varndel-edge " "$work/launched.txt")" = "$models" ] ||
  fail "the launcher did not run every edge: $(cat "$work/launched.txt")"

# run_bazel <workspace> <output base> <name> [flags...]: builds //...; keeps
# the console in <work>/<name>.log and the execution log in <work>/<name>.json.
run_bazel() {
  local ws=$1 base=$2 name=$3 caches
  shift 3
  caches_of "$ws"
  [[ " ${output_bases[*]} " == *" $ws|$base "* ]] || output_bases+=("$ws|$base")
  (cd "$ws" && bazel "${startup[@]}" --output_base="$base" build "${targets[@]}" \
    --nosandbox_debug "${caches[@]}" --execution_log_json_file="$work/$name.json" "$@") >"$work/$name.log" 2>&1
}
targets=(//...)
# A fills both caches; B reads the HTTP cache (until step 3b).
caches_of() { if [ "$1" = "$ws_a" ]; then caches=("${remote_cache[@]}" --disk_cache="$work/disk-cache"); else caches=("${remote_cache[@]}"); fi; }
build_ok() {  # as run_bazel, failing the test with the console shown
  run_bazel "$@" || { cat "$work/$3.log"; fail "bazel build $3 failed"; }
}
summary() { grep -E '^INFO: [0-9]+ process' "$work/$1.log" || echo "(no summary line)"; }
# The model actions of a build's execution log, as "<hit> <output>" lines.
model_spawns() {
  tr -d '\n ' <"$work/$1.json" | sed 's/}{"commandArgs"/}\n{"commandArgs"/g' | { grep '"mnemonic":"VarndelModel"' || true; } |
    sed -E 's/.*"actualOutputs":\[\{"path":"([^"]*)".*"remoteCacheHit":(true|false).*/\2 \1/'
}
expect_spawns() {  # <build> <expected count> <expected hit: true|false>
  local spawns count others
  spawns=$(model_spawns "$1")
  count=$(grep -c . <<<"$spawns" || true)
  others=$(grep -v "^$3 " <<<"$spawns" | grep . || true)
  [ "$count" = "$2" ] && [ -z "$others" ] ||
    fail "$1: expected $2 model actions with remoteCacheHit $3, got:"$'\n'"$spawns"$'\n'"$(summary "$1")"
}
outputs_of() {  # <workspace>: every compiled file, relative to bazel-bin
  (cd "$1/bazel-bin" && find . -name '*.staticbin' -o -name '*.animbin' | sort)
}
expect_same_outputs() {  # <workspace>...: each gives the CMake build's bytes, so all the same
  local ws file
  for ws in "$@"; do
    [ "$(outputs_of "$ws" | wc -l)" = "$models" ] || fail "$ws: expected $models outputs: $(outputs_of "$ws")"
    for file in $(outputs_of "$ws"); do expect_same "$ws/bazel-bin/$file" "$work/cmake/$file"; done
    diff -r "$ws/bazel-bin/embedded/embedded.textures" "$work/cmake/embedded/embedded.textures" >/dev/null ||
      fail "$ws: the extracted textures differ from the CMake build's"
  done
}

# 1. Copy A, cold: every model compiles.
build_ok "$ws_a" "$work/base-a" a-cold
expect_spawns a-cold "$models" false
# varndel_report: one page with a row for each of its models.
for name in crate.staticbin walker.animbin optimized/crate.staticbin; do
  grep -qF "$name" "$ws_a/bazel-bin/library.html" || fail "varndel_report's page has no row for $name"
done
grep -q "remote cache hit" <<<"$(summary a-cold)" && fail "a cold build found cache entries: $(summary a-cold)"
# No absolute path, user or machine name on a model's command line or in its
# input list: they would differ between machines, and so would the cache keys.
args=$(tr -d '\n ' <"$work/a-cold.json" | sed 's/}{"commandArgs"/}\n{"commandArgs"/g' |
  grep '"mnemonic":"VarndelModel"' | sed -E 's/^\{"commandArgs":\[([^]]*)\].*/\1/' | tr ',' '\n' | tr -d '"')
lists=$(find "$ws_a/bazel-bin" -path '*/_varndel/*' \( -name '*.inputs' -o -name '*.existing' \) -exec cat {} +)
# Two --optimize, one --anim-tolerance, one --anim-distance and one --extract-textures with their values.
[ "$(grep -c . <<<"$args")" = $((models * 13 + 8)) ] || fail "unexpected model command lines:"$'\n'"$args"
for name in "$(id -un)" "$(hostname)"; do
  ! grep -qE "(^|/)$name(/|$)" <<<"$args"$'\n'"$lists" || fail "a model's command line or input list names $name"
done
! grep -qE "^/|$work" <<<"$args"$'\n'"$lists" || fail "a model's command line or input list holds an absolute path"

# The tools' fingerprint: each file by its name alone, with its hash.
fingerprint=$(cat "$work/base-a/external/varndel_tools/fingerprint.txt")
for name in varndel-edge "$system_assimp" libc.so.6; do
  grep -qE "^[0-9a-f]{64}  $name\$" <<<"$fingerprint" || fail "the fingerprint lacks $name:"$'\n'"$fingerprint"
done

# 2. Copy B, a second machine: every model comes from the cache.
build_ok "$ws_b" "$work/base-b" b-cached
expect_spawns b-cached "$models" true
# The models and the varndel_report page, all from the cache.
expect_contains "$(summary b-cached)" "$((models + 1)) remote cache hit" "the second copy's summary"

# 3. A, B and the CMake build: the same bytes.
expect_same_outputs "$ws_a" "$ws_b"

# 3b. B from clean, with A's disk cache alone (the HTTP cache turned off).
(cd "$ws_b" && bazel "${startup[@]}" --output_base="$work/base-b" clean) >/dev/null 2>&1 || fail "bazel clean"
build_ok "$ws_b" "$work/base-b" b-disk --remote_cache= --disk_cache="$work/disk-cache"
expect_spawns b-disk "$models" true
expect_same_outputs "$ws_b"

# Nothing changed: nothing runs.
build_ok "$ws_a" "$work/base-a" a-noop
expect_spawns a-noop 0 false

# 4. A changed .mtl reruns that model only, in either copy (and the model at
# the workspace root, whose default data is the whole package); B gets A's
# results.
for ws in "$ws_a" "$ws_b"; do sed -i 's|textures/m07.png|textures/m07-worn.png|' "$ws/generated/m07/m07.mtl"; done
cp "$ws_a/bazel-bin/m07.staticbin" "$work/m07.before"
build_ok "$ws_a" "$work/base-a" a-mtl
expect_spawns a-mtl 2 false
build_ok "$ws_b" "$work/base-b" b-mtl
expect_spawns b-mtl 2 true
cmp -s "$work/m07.before" "$ws_a/bazel-bin/m07.staticbin" && fail "the changed .mtl left m07 as it was"
cmake --build "$work/cmake" --target generated >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "CMake rebuild"; }
expect_same_outputs "$ws_a" "$ws_b"

# 5. A side file left out of data: the build fails, naming it.
sed -i 's|srcs = glob(\["generated/\*/\*.obj"\]),|&\n    data = glob(["generated/**"], exclude = ["generated/m03/m03.mtl"]),|' "$ws_a/BUILD.bazel"
grep -q 'exclude = \["generated/m03/m03.mtl"\]' "$ws_a/BUILD.bazel" || fail "could not edit BUILD.bazel"
if run_bazel "$ws_a" "$work/base-a" a-undeclared; then fail "a model with an undeclared .mtl compiled"; fi
expect_contains "$(cat "$work/a-undeclared.log")" \
  "generated/m03/m03.mtl was opened by the import but is not a declared input" "undeclared side file"

sed -i '/exclude = \["generated\/m03\/m03.mtl"\]/d' "$ws_a/BUILD.bazel"
build_ok "$ws_a" "$work/base-a" a-restored

# 6. Probes are not reads: the MD5 and SMD models compiled without their
# (absent) companions, as a direct run does. A companion added to the
# package is declared by the default data, and read.
direct() {  # <dir> <animated> <model>: a direct run's file, in a copy of <dir>
  rm -rf "$work/direct" && cp -r "$1" "$work/direct"
  (cd "$work/direct" && "$build/Varndel" "$2" 0 "$3" >/dev/null) || fail "a direct run of $3 failed"
}
for model in md5cube.md5mesh smdstrip.smd; do
  direct "$ws_a/probes" 1 "$model"
  expect_same "$work/direct/${model%.*}.animbin" "$ws_a/bazel-bin/probes/${model%.*}.animbin"
done
cp "$source_dir/tests/bazel/companions/md5cube.md5anim" "$ws_a/probes/"
direct "$ws_a/probes" 1 md5cube.md5mesh
cmp -s "$work/direct/md5cube.animbin" "$ws_a/bazel-bin/probes/md5cube.animbin" && fail "the .md5anim changed nothing"
build_ok "$ws_a" "$work/base-a" a-companion
expect_spawns a-companion 2 false # both models of the directory take it as data
expect_same "$work/direct/md5cube.animbin" "$ws_a/bazel-bin/probes/md5cube.animbin"

# 6b. Extracted textures: the embedded images, byte for byte; after a change
# that leaves the second image unreferenced, only the first.
[ "$(ls "$ws_a/bazel-bin/embedded/embedded.textures" | tr '\n' ' ')" = "0.png 1.png " ] ||
  fail "expected 0.png and 1.png: $(ls "$ws_a/bazel-bin/embedded/embedded.textures")"
expect_same "$ws_a/bazel-bin/embedded/embedded.textures/0.png" "$source_dir/tests/fixtures/embedded_texture.png"
sed -i 's/"material": 1/"material": 0/' "$ws_a/embedded/embedded.gltf"
build_ok "$ws_a" "$work/base-a" a-embedded
expect_spawns a-embedded 1 false
# Beside 0.png only the marker of a directory the edge made.
[ "$(ls -A "$ws_a/bazel-bin/embedded/embedded.textures" | grep -vx .varndel-output)" = "0.png" ] ||
  fail "a texture no mesh references any more survived: $(ls -A "$ws_a/bazel-bin/embedded/embedded.textures")"

# 7. The model at the workspace root: its default data takes neither Bazel's
# links nor a direct run's log and output, so a build after a direct run in
# the root runs nothing; a changed .mtl reruns it, with a direct run's bytes.
direct "$ws_a" 0 ground.obj
cp -r "$work/direct/Logs" "$work/direct/ground.staticbin" "$ws_a/"
expect_same "$ws_a/ground.staticbin" "$ws_a/bazel-bin/ground.staticbin"
build_ok "$ws_a" "$work/base-a" a-root-noop
expect_spawns a-root-noop 0 false
echo 'Kd 0.5 0.5 0.5' >>"$ws_a/ground.mtl"
build_ok "$ws_a" "$work/base-a" a-root-mtl
expect_spawns a-root-mtl 1 false
direct "$ws_a" 0 ground.obj
expect_same "$work/direct/ground.staticbin" "$ws_a/bazel-bin/ground.staticbin"
build_ok "$ws_a" "$work/base-a" a-root-noop2
expect_spawns a-root-noop2 0 false

# 8. Every strategy gives the same bytes: A again from clean, each model
# run outside the sandbox, in the execution root (which links each top
# directory into the source tree), none taken from the cache.
rm -rf "$work/sandboxed" && cp -r "$ws_a/bazel-bin/" "$work/sandboxed"
(cd "$ws_a" && bazel "${startup[@]}" --output_base="$work/base-a" clean) >/dev/null 2>&1 || fail "bazel clean"
build_ok "$ws_a" "$work/base-a" a-local --spawn_strategy=local --noremote_accept_cached
expect_spawns a-local "$models" false
for file in $(outputs_of "$ws_a"); do expect_same "$ws_a/bazel-bin/$file" "$work/sandboxed/$file"; done

# 9. The cache key covers the libraries: B with the third prefix, the same
# build step but another libassimp, misses every entry.
workspace "$ws_b" "$prefix_c"
build_ok "$ws_b" "$work/base-b" b-other-assimp
expect_spawns b-other-assimp "$models" false
expect_same_outputs "$ws_b"

# The CMake build directory of the source tree serves as a prefix too.
workspace "$ws_b" "$build"
build_ok "$ws_b" "$work/base-b" b-build-tree
expect_same_outputs "$ws_b"

echo "bazel rules OK"
