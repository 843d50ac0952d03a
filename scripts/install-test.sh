#!/usr/bin/env bash
# Installs the build (build/, or BUILD_DIR) into a staging prefix and uses it
# as a new user would, from there alone: the program, its manual page, its
# completion and its page; the headers each compile; examples/embed, copied
# out of the checkout, builds against the installed CMake package
# (CMAKE_PREFIX_PATH=staging) and against the pkg-config file, and prints what
# it must.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout="$PWD"
dir="${BUILD_DIR:-build}"
bash scripts/build.sh
build="$(cd "$dir" && pwd)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stage="$work/stage"
fail() { echo "install-test: $*" >&2; exit 1; }

cmake --install "$dir" --prefix "$stage" >/dev/null
libdir="$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$dir/CMakeCache.txt")"
for file in bin/wexmidi share/man/man1/wexmidi.1 share/bash-completion/completions/wexmidi \
  share/wexmidi/web/index.html share/wexmidi/web/assets/app.js \
  share/doc/wexmidi/examples/distributors.wexcomp.json share/doc/wexmidi/examples/embed/embed.cpp \
  "$libdir/cmake/wexmidi/wexmidiConfig.cmake" "$libdir/pkgconfig/wexmidi.pc" \
  "$libdir/libwexmidi-patches.a" include/wexmidi/patches/WexPatches.h; do
  [ -f "$stage/$file" ] || fail "$file is not installed"
done
# Helpers of single source files stay inside.
for file in midi/OrvMIDIReadProc.h patches/SettingsController.h support/OwnerName.h; do
  [ ! -e "$stage/include/wexmidi/$file" ] || fail "the internal header $file is installed"
done
# Nothing installed that can be read as text names the checkout or the build.
if grep -rIl -e "$checkout" -e "$build" "$stage"; then fail "the files above name $checkout"; fi
echo "installed into a staging prefix: the program, its manual page, completion and page, the" \
  "examples, the libraries with their headers, the CMake package and the pkg-config file"

program="$stage/bin/wexmidi"
"$program" --version | grep -q "^wexmidi [0-9]" || fail "wexmidi --version"
grep -q '^\.TH WEXMIDI' "$stage/share/man/man1/wexmidi.1" || fail "the manual page has no title"
# The completion offers the subcommands.
words="$(bash -c "source '$stage/share/bash-completion/completions/wexmidi'
  COMP_WORDS=(wexmidi se); COMP_CWORD=1; COMP_LINE='wexmidi se'; COMP_POINT=\${#COMP_LINE}
  \$(complete -p wexmidi | sed 's/.*-F \\([^ ]*\\) .*/\\1/') wexmidi se wexmidi
  echo \"\${COMPREPLY[*]}\"")"
[[ " $words " == *" send "* && " $words " == *" serve "* ]] || fail "completion of 'se': '$words'"
echo "wexmidi --version, its manual page and its completion ('se': $words)"

example="$stage/share/doc/wexmidi/examples/distributors.wexcomp.json"
bash scripts/check-installed-serve.sh "$program" "$example"
# Without its page files, the installed program says so: it never falls back
# on the build folder.
mv "$stage/share/wexmidi/web" "$work/web-aside"
bash scripts/check-installed-serve.sh "$program" "$example" --no-page
mv "$work/web-aside" "$stage/share/wexmidi/web"

# Every installed header compiles on its own include path.
cflags="$(PKG_CONFIG_PATH="$stage/$libdir/pkgconfig" pkg-config --cflags wexmidi)"
(cd "$stage/include/wexmidi" && find . -name '*.h' | sed 's|^\./|#include "|; s|$|"|') \
  >"$work/headers.cpp"
g++ -std=c++20 -fsyntax-only $cflags "$work/headers.cpp" || fail "the installed headers"

# The example, out of the checkout, against the staging prefix alone.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cp -r "$stage/share/doc/wexmidi/examples/embed" "$work/embed"
cmake -S "$work/embed" -B "$work/embed/build" -DCMAKE_PREFIX_PATH="$stage" "${launcher[@]}" \
  >/dev/null
cmake --build "$work/embed/build" >/dev/null
output="$("$work/embed/build/embed" "$example")"
[ "$output" = "notes.note60 = true" ] || fail "examples/embed printed '$output'"
echo "examples/embed, built with find_package(wexmidi): $output"
# The same through pkg-config.
g++ -std=c++20 -o "$work/embed-pkg-config" "$work/embed/embed.cpp" \
  $(PKG_CONFIG_PATH="$stage/$libdir/pkgconfig" pkg-config --cflags --libs wexmidi)
output="$("$work/embed-pkg-config" "$example")"
[ "$output" = "notes.note60 = true" ] || fail "examples/embed through pkg-config printed '$output'"
echo "examples/embed, built with pkg-config: $output"
echo "install test passed"
