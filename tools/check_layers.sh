#!/usr/bin/env bash
# Checks that no file of a module includes a module above it. Each line below names a
# module and the modules it may include besides itself; a module missing here may include
# nothing. (The Qt-free core is kept by the build: zibtam_core's compile line has no Qt
# include folder, so a Qt header in a core file does not compile.)
# Usage: tools/check_layers.sh [SRC_FOLDER]
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

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
  [app]="common settings platform view xml log net turing sendlater autotype setup ui"
)

bad=0
for dir in "$src"/*/; do
  module=$(basename "$dir")
  if [ -z "${may[$module]+set}" ]; then
    echo "$module: a module the layering table does not know; add it to $0" >&2
    bad=1
    continue
  fi
  while IFS=: read -r file line text; do
    used=$(sed -E 's/.*#include "([a-z0-9_]+)\/.*/\1/' <<<"$text")
    [ "$used" = "$module" ] && continue
    [ -d "$src/$used" ] || continue
    if [[ " ${may[$module]} " != *" $used "* ]]; then
      echo "${file#"$src"/}:$line: $module includes $used, which is above it" >&2
      bad=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z0-9_]+/' "$dir" || true)
done
exit "$bad"
