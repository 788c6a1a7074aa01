#!/usr/bin/env bash
# scripts/check-catalog catches a Japanese text that is not chosen through tr_ja() and one that
# the catalog lacks, naming each; then the sources as they are pass.
# usage: catalog_test.sh CHECK_CATALOG SOURCE_DIR CATALOG
set -uo pipefail
check=$1 src=$2 catalog=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$tmp/src"
printf 'void f() {\n    log("素のテキスト");\n    log(tr_ja("新しい %%d 件"), 1);\n    log(tr_ja("不明"));\n}\n' \
    >"$tmp/src/new.cpp"
bash "$check" "$tmp/src" "$catalog" 2>"$tmp/err" && fail "untranslated texts passed"
grep -A1 'not chosen through tr_ja' "$tmp/err" | grep -qF '"素のテキスト"' ||
    fail "the unwrapped text is not named: $(cat "$tmp/err")"
grep -A3 'without an English entry' "$tmp/err" | grep -qF '"新しい %d 件"' ||
    fail "the text missing from the catalog is not named: $(cat "$tmp/err")"
grep -qF '"不明"' "$tmp/err" && fail "a text with its entry is named: $(cat "$tmp/err")"

bash "$check" "$src" "$catalog" || fail "the sources do not pass"
echo "catalog_test: ok"
