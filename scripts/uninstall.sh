#!/usr/bin/env bash
# Removes what `make install` wrote, as listed in the build's install
# manifest, then the framework's own folders (include/vrl, lib/cmake/vrl,
# share/doc/vrl) once they are empty. Shared folders such as bin/ or
# share/applications/ are left in place.
set -euo pipefail
manifest=${1:?usage: uninstall.sh BUILD/install_manifest.txt}
if [[ ! -f $manifest ]]; then
  echo "Nothing to uninstall: $manifest does not exist (run make install first)." >&2
  exit 1
fi
removed=0
while IFS= read -r file || [[ -n $file ]]; do
  if [[ -e $file || -L $file ]]; then
    rm -f -- "$file"
    removed=$((removed + 1))
  fi
done <"$manifest"
# The framework's own folders, emptied above, go too; nothing else is removed.
while IFS= read -r root; do
  [[ -d $root ]] && find "$root" -depth -type d -empty -delete
done < <(grep -oE '^.*/(include/vrl|cmake/vrl|doc/vrl)(/|$)' "$manifest" | sed 's:/$::' | sort -u)
echo "Removed $removed files listed in $manifest."
