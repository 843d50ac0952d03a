#!/usr/bin/env bash
# Checks that no folder of src/ includes from a folder above it: app → server
# and osc → patches and midiio → host and midi; midi → services → support. A
# backend (services/<name>/) sees the contract (services/) and support, never another
# backend; only the program (app) chooses a backend.
set -euo pipefail
cd "$(dirname "$0")/.."

# The folders each folder of src/ may include from, besides itself. "services"
# means the contract's own files, not a backend's.
allowed() {
  case "$1" in
    support) echo "" ;;
    services) echo "support" ;;
    services/*) echo "services support" ;;
    midi) echo "services support" ;;
    host) echo "support" ;;
    patches) echo "host midi services support" ;;
    midiio) echo "host midi services support" ;;
    server) echo "patches midiio host midi services support" ;;
    osc) echo "patches host midi services support" ;;
    app) echo "*" ;;
    *) echo "unknown" ;;
  esac
}

status=0
while IFS= read -r file; do
  dir="$(dirname "${file#src/}")"
  permitted="$(allowed "$dir")"
  if [ "$permitted" = "unknown" ]; then
    echo "$file: src/$dir has no place in the layering (add it to $0)"
    status=1
    continue
  fi
  [ "$permitted" = "*" ] && continue
  while IFS= read -r included; do
    target="$(dirname "$included")"
    [ "$target" = "$dir" ] && continue
    ok=0
    for folder in $permitted; do
      [ "$target" = "$folder" ] && ok=1
    done
    if [ "$ok" -eq 0 ]; then
      echo "$file: includes \"$included\" from src/$target, above or beside src/$dir"
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

[ "$status" -eq 0 ] && echo "layering: no folder includes from a folder above it"
exit "$status"
