#!/usr/bin/env bash
# Checks that no file of a module includes a module above it. Each line below names a
# module and the modules it may include besides itself; a module missing here may include
# nothing. A module may be a subfolder (app/session): a file belongs to the longest module
# its path starts with, and so does an included header. (The Qt-free core is kept by the
# build: zibtam_core's compile line has no Qt include folder, so a Qt header in a core file
# does not compile.)
# Usage: tools/check_layers.sh [SRC_FOLDER]
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

lower="common settings platform view xml log net turing sendlater"
declare -A may=(
  [platform]=""
  [xml]=""
  [common]="xml"
  [settings]="platform"
  [view]="common settings platform xml"
  [turing]="common settings platform"
  [sendlater]="common settings platform"
  [log]="common settings platform view xml"
  [net]="common settings platform view xml"
  [autotype]="common settings platform view"
  [setup]="common settings platform xml net"
  [ui]="common settings platform view xml log net turing sendlater autotype"
  [app/session]="$lower"
  [app/eventloop]="$lower app/session"
  [app/console]="$lower app/session app/eventloop"
  [app/desktop]="$lower autotype setup ui app/session app/eventloop"
  [app]="$lower autotype setup ui app/session app/eventloop app/console app/desktop"
)

bad=0
for dir in "$src"/*/; do
  module=$(basename "$dir")
  if [ -z "${may[$module]+set}" ]; then
    echo "$module: a module the layering table does not know; add it to $0" >&2
    bad=1
  fi
done
table=$(for key in "${!may[@]}"; do printf '%s=%s\n' "$key" "${may[$key]}"; done)
grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z0-9_]+/' "$src" |
  awk -v src="$src/" -v table="$table" '
    # The module a path belongs to: the longest one it starts with.
    function module_of(path,    key, best) {
      best = ""
      for (key in may)
        if (index(path, key "/") == 1 && length(key) > length(best))
          best = key
      return best
    }
    BEGIN {
      n = split(table, lines, "\n")
      for (i = 1; i <= n; ++i) {
        if (lines[i] == "") continue
        eq = index(lines[i], "=")
        may[substr(lines[i], 1, eq - 1)] = " " substr(lines[i], eq + 1) " "
      }
    }
    {
      file = substr($0, length(src) + 1)
      split(file, parts, ":")
      path = parts[1]; line = parts[2]
      module = module_of(path)
      if (module == "") next
      header = $0
      sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
      used = module_of(header)
      if (used == "" || used == module) next
      if (index(may[module], " " used " ") == 0) {
        printf "%s:%s: %s includes %s, which is above it\n", path, line, module, used > "/dev/stderr"
        bad = 1
      }
    }
    END { exit bad }' || bad=1
exit "$bad"
