#!/usr/bin/env bash
# The layout's rule, read from the #include lines and the code itself:
#   methods/      includes only methods/ and disk/; has no main, no argv
#                 and writes nothing to standard output or standard error
#   programs/P/   includes methods/, disk/, programs/cli/ and programs/P/
#   programs/cli/ includes methods/, disk/ and programs/cli/
#   tool/         includes tool/ and disk/; disk/ only disk/
#
#   include_rule_test.sh SOURCE_DIR      checks the project
#   include_rule_test.sh --self-test     checks that each kind of breach
#                                        is found, on a made-up tree
set -uo pipefail

# check ROOT: prints one line per breach; status 1 when there is one.
check() {
  local root=$1 breaches=0 file folder line target
  while IFS= read -r file; do
    folder=${file#"$root"/}
    case "$folder" in
      methods/*) allowed="methods/ disk/" ;;
      programs/cli/*) allowed="methods/ disk/ programs/cli/" ;;
      tool/*) allowed="tool/ disk/" ;;
      disk/*) allowed="disk/" ;;
      programs/*/*)
        local program=${folder#programs/}
        program=${program%%/*}
        allowed="methods/ disk/ programs/cli/ programs/$program/"
        ;;
      *) continue ;;
    esac
    while IFS= read -r line; do
      target=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' <<<"$line")
      [ -n "$target" ] || continue
      local ok=no prefix
      for prefix in $allowed; do
        case "$target" in "$prefix"*) ok=yes ;; esac
      done
      if [ $ok = no ]; then
        echo "$folder includes $target (allowed: $allowed)"
        breaches=$((breaches + 1))
      fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
    case "$folder" in
      methods/*)
        if grep -nE '\bmain[[:space:]]*\(|\bargv\b|\bstd(err|out)\b|std::c(err|out)\b|(^|[^a-z_])(f?printf|f?puts|putchar|perror)[[:space:]]*\(' "$file" |
          grep -vE '^[0-9]+:[[:space:]]*//' >"$tmp/hits"; then
          while IFS= read -r line; do
            echo "$folder:$line: the library returns results and problems, it does not print or read argv"
            breaches=$((breaches + 1))
          done <"$tmp/hits"
        fi
        ;;
    esac
  done < <(find "$root/methods" "$root/programs" "$root/tool" "$root/disk" \
    -name '*.h' -o -name '*.cpp' 2>/dev/null | sort)
  [ $breaches -eq 0 ]
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [ "${1:-}" != --self-test ]; then
  root=$(cd "$1" && pwd)
  [ -d "$root/methods" ] && [ -d "$root/programs" ] || { echo "no methods/ or programs/ in $root"; exit 1; }
  if check "$root"; then
    echo "include rule: methods/, programs/, tool/ and disk/ keep to their includes"
    exit 0
  fi
  exit 1
fi

# Self-test: a tree that keeps the rule, then one breach of each kind.
failures=0
fake() {
  rm -rf "$tmp/tree" && mkdir -p "$tmp/tree/methods/wind" "$tmp/tree/programs/wind" \
    "$tmp/tree/programs/rass" "$tmp/tree/programs/cli" "$tmp/tree/tool" "$tmp/tree/disk"
  printf '#include "disk/pda.h"\n#include "tool/main_loop.h"\n' >"$tmp/tree/tool/main.cpp"
  printf '#include "disk/pda.h"\n' >"$tmp/tree/disk/decode.cpp"
  printf '#include "disk/pda.h"\n#include "methods/wind/fit.h"\n// printf("a comment");\nint fit();\n' \
    >"$tmp/tree/methods/wind/fit.cpp"
  printf '#include "methods/wind/fit.h"\n#include "programs/cli/option_table.h"\n#include "programs/wind/options.h"\nint main(int argc, char** argv) {}\n' \
    >"$tmp/tree/programs/wind/main.cpp"
  printf '#include <cstdio>\n#include "methods/wind/fit.h"\n' >"$tmp/tree/programs/cli/option_table.cpp"
}
expect() { # expect WHAT FILE LINE: the breach written into FILE is found
  fake
  printf '%s\n' "$3" >>"$tmp/tree/$2"
  if check "$tmp/tree" >"$tmp/out"; then
    echo "FAIL: not found: $1"
    failures=$((failures + 1))
  fi
}
fake
check "$tmp/tree" >"$tmp/out" || { echo "FAIL: a tree that keeps the rule: $(cat "$tmp/out")"; failures=$((failures + 1)); }
expect "the library including a program" methods/wind/fit.cpp '#include "programs/wind/options.h"'
expect "the library including the tool" methods/wind/fit.cpp '#include "tool/text_format.h"'
expect "a program including another" programs/wind/main.cpp '#include "programs/rass/options.h"'
expect "the shared piece including a program" programs/cli/option_table.cpp '#include "programs/wind/options.h"'
expect "the tool including the library" tool/main.cpp '#include "methods/wind/fit.h"'
expect "the access module including the tool" disk/decode.cpp '#include "tool/main_loop.h"'
expect "the library printing to standard error" methods/wind/fit.cpp '  std::fprintf(stderr, "x");'
expect "the library with a main" methods/wind/fit.cpp 'int main() { return 0; }'
expect "the library reading argv" methods/wind/fit.cpp 'void parse(char** argv);'
if [ $failures -gt 0 ]; then
  exit 1
fi
echo "include rule: every kind of breach is found"
