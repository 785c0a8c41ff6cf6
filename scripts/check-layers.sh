#!/usr/bin/env bash
# Checks that every product source includes only its own folder and folders
# below it. The layers, lowest first, are the README's layout table; a
# folder's files may include "<folder>/..." of their own layer or of a layer
# listed before it. Tests and benchmarks are not checked.
#
# usage: scripts/check-layers.sh [ROOT]      (ROOT defaults to the repository)
# Exit 0 when every include points down, 1 with one line per upward include
# ("file:line: includes folder/... from a higher layer"), 2 on a bad root.
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
[[ -d "$root" ]] || { echo "check-layers: no folder $root" >&2; exit 2; }

layers=(platform settingslib base archive FSImplementation imaging config
        render media playback widgets gui export app)

declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

status=0
checked=0
while IFS= read -r -d '' file; do
  rel="${file#"$root"/}"
  own="${rel%%/*}"
  [[ -n "${rank[$own]+x}" ]] || continue
  checked=$((checked + 1))
  # Lines of the form: #include "folder/rest"
  while IFS=: read -r line target; do
    folder="${target%%/*}"
    [[ -n "${rank[$folder]+x}" ]] || continue
    if (( rank[$folder] > rank[$own] )); then
      echo "$rel:$line: includes $target from a higher layer ($own may include only folders up to $own)"
      status=1
    fi
  done < <(awk 'match($0, /^[ \t]*#[ \t]*include[ \t]+"[A-Za-z0-9_]+\/[^"]*"/) {
                  t = $0; sub(/^[^"]*"/, "", t); sub(/".*/, "", t); print FNR ":" t }' "$file")
done < <(find "$root" \( -path "$root/tests" -o -path "$root/bench" -o -path "$root/build*" -o -path "$root/.git" \) -prune \
              -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.hpp' \) -print0)

if (( status == 0 )); then
  echo "check-layers: $checked files, every include points down"
fi
exit $status
