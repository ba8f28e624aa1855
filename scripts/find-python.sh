#!/bin/sh
# Prints the path of a CPython 3.13 or newer interpreter, or fails.
ok() {
  "$1" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 13) and sys.implementation.name == "cpython" else 1)' \
    >/dev/null 2>&1
}
for cand in python3.14 python3.13 python3; do
  if command -v "$cand" >/dev/null 2>&1 && ok "$cand"; then
    "$cand" -c 'import sys; print(sys.executable)'
    exit 0
  fi
done
root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
for cand in $(ls -d "$root"/versions/3.* 2>/dev/null | sort -t. -k2,2nr -k3,3nr); do
  if [ -x "$cand/bin/python3" ] && ok "$cand/bin/python3"; then
    echo "$cand/bin/python3"
    exit 0
  fi
done
echo "no CPython 3.13 or newer found (tried python3.14, python3.13, python3 and $root/versions)" >&2
exit 1
