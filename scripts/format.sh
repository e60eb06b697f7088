#!/usr/bin/env bash
# Formats every C/C++ source of the repository with clang-format 14 and the root .clang-format.
# usage: scripts/format.sh          rewrite the files in place
#        scripts/format.sh --check  change nothing; list the files that differ, exit 1 if any
# The files are those git knows or would add (tracked, plus untracked ones not ignored), so the
# build trees (build*/, ignored) and what the build generates there (javac -h headers, Thrift
# sources) are never touched. Outside a git checkout every file outside build*/ is taken.
set -euo pipefail
cd "$(dirname "$0")/.."

CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
if ! command -v "$CLANG_FORMAT" >/dev/null; then
  echo "format.sh: $CLANG_FORMAT not found (scripts/install-deps.sh installs it)" >&2
  exit 2
fi
version=$("$CLANG_FORMAT" --version)
case $version in
  *"version 14."*) ;;
  *) echo "format.sh: warning: the style is set for clang-format 14, found: $version" >&2 ;;
esac

"$CLANG_FORMAT" --style=file --dump-config >/dev/null  # a broken .clang-format stops here

mode=apply
case ${1:-} in
  "") ;;
  --check) mode=check ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

list_sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard -- \
      '*.h' '*.hpp' '*.c' '*.cc' '*.cpp'
  else
    find . -path './build*' -prune -o -path ./.git -prune -o -type f \
      \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' \) \
      -print0
  fi
}

files=()
while IFS= read -r -d '' f; do
  [ -f "$f" ] && files+=("$f")  # skips files deleted but not yet staged
done < <(list_sources)

if [ "$mode" = apply ]; then
  if [ "${#files[@]}" -gt 0 ]; then
    printf '%s\0' "${files[@]}" | xargs -0 -n 50 "$CLANG_FORMAT" -i --style=file
  fi
  exit 0
fi

# --check: one file at a time so that every differing file is named.
differ=()
for f in "${files[@]}"; do
  "$CLANG_FORMAT" --dry-run --Werror --style=file "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ "${#differ[@]}" -gt 0 ]; then
  echo "format.sh: ${#differ[@]} file(s) differ from .clang-format (run scripts/format.sh):"
  printf '  %s\n' "${differ[@]}"
  exit 1
fi
echo "format.sh: all ${#files[@]} C/C++ sources match .clang-format"
