#!/usr/bin/env bash
# A user's clone holds nothing but this repository: the build, the tests and the
# scripts must not reach for files beside it. Fails naming the files that do.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
pattern='\.\./'"shared"
if hits=$(git grep -l -E "$pattern" -- CMakeLists.txt cmake src tests scripts bench fuzz .ci 2>/dev/null); then
  echo "These files reach outside the repository; copy what they need into it:" >&2
  echo "$hits" >&2
  exit 1
fi
