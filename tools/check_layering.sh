#!/usr/bin/env bash
# Checks the library's boundary: each public header compiles alone, the core
# includes no front end's header, and the Python module, the C interface and
# the library example include public headers only.
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=${CXX:-g++}
for header in include/trapft/*.hpp; do
  echo "#include \"trapft/${header##*/}\"" |
    "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -Iinclude -x c++ - ||
    { echo "$header does not compile alone" >&2; exit 1; }
done
if grep -rn '#include "\(cli\|python\|tests\|tools\|bench\|fuzz\)/' include input output spectrum; then
  echo "the core includes a front end's header" >&2; exit 1
fi
for language in c c++; do
  echo '#include "trapft.h"' | "${CC:-gcc}" -x "$language" -fsyntax-only -Wall -Wextra -Wpedantic -Werror -Icapi - ||
    { echo "capi/trapft.h does not compile alone as $language" >&2; exit 1; }
done
if grep -n '#include "' python/*.cpp capi/*.cpp examples/library/*.cpp | grep -v '"trapft[/.]'; then
  echo "a front end reaches past the public headers" >&2; exit 1
fi
echo "layering: $(ls include/trapft/*.hpp | wc -l) public headers and the C header compile alone; the core includes no front end"
