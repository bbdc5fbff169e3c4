#!/bin/sh
# Compares the shared library's exported names with the expected list.
# AddressSanitizer adds an "__odr_asan." twin for each exported variable;
# those are the sanitizer's, not the library's.
set -eu
lib=$1
expected=$2
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
nm -D -C --defined-only "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }' \
  | sed -e 's/(.*//' \
  | grep -v '^__odr_asan\.' \
  | sort -u > "$actual"
if ! diff -u "$expected" "$actual"; then
  echo "exported names differ from $expected" >&2
  exit 1
fi
echo "exports match ($(wc -l < "$actual") names)"
