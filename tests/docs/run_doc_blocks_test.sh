#!/usr/bin/env bash
# The documentation runner: a failing block is named by file and line, a
# marked block is skipped, and a mark without a reason or an unclosed block
# is refused. Usage: run_doc_blocks_test.sh <build-dir> <prefix> <scratch>
source "$(dirname "$0")/../package/lib.sh"
build=$1 prefix=$2 work=$3
runner="$(dirname "$0")/../../tools/run_doc_blocks.py"
fresh_dir "$work"

cat >"$work/page.md" <<'PAGE'
# A page

```sh
build/Varndel 0 0 examples/crate.obj && test -s examples/crate.staticbin
```

<!-- not-run: would fail if run -->
```sh
exit 3
```

```sh
echo about to fail
false
```
PAGE
status=0
python3 "$runner" --build "$build" --prefix "$prefix" --work "$work/run" "$work/page.md" \
  >"$work/out.txt" 2>"$work/err.txt" || status=$?
[ "$status" -eq 1 ] || { cat "$work/err.txt"; fail "a failing block gave exit $status, not 1"; }
expect_contains "$(cat "$work/err.txt")" "page.md:12: the sh block failed" "the runner's report"
expect_contains "$(cat "$work/err.txt")" "about to fail" "the runner's report"
expect_contains "$(cat "$work/out.txt")" "1 of 2 blocks passed, 1 not run" "the runner's summary"

printf '# Bad\n\n<!-- not-run: -->\n```sh\ntrue\n```\n' >"$work/bad.md"
status=0
python3 "$runner" --build "$build" --prefix "$prefix" --work "$work/run" --list "$work/bad.md" 2>"$work/err.txt" || status=$?
[ "$status" -eq 2 ] || fail "a mark without a reason was accepted"
expect_contains "$(cat "$work/err.txt")" "bad.md:3: not-run without a reason" "the runner's error"

printf '# Bad\n\n```cmake\nproject(x)\n' >"$work/open.md"
status=0
python3 "$runner" --build "$build" --prefix "$prefix" --work "$work/run" --list "$work/open.md" 2>"$work/err.txt" || status=$?
[ "$status" -eq 2 ] || fail "an unclosed block was accepted"
expect_contains "$(cat "$work/err.txt")" "open.md:3: the block opened here is never closed" "the runner's error"
echo "documentation runner OK"
