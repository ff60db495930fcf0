#!/usr/bin/env bash
# The demo: builds everything, starts the lab with the bundled demo router
# and takes a tour of vorel commands in text and XML.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh default >/dev/null
bin=build/bin
export PATH="$PWD/$bin:$PATH"
export VOREL_LAB_DIR=${VOREL_LAB_DIR:-/tmp/vorel-demo-lab}

"$bin/vorel-lab" stop --dir "$VOREL_LAB_DIR" >/dev/null 2>&1 || true
"$bin/vorel-lab" start lab/scenarios/demo.yaml --dir "$VOREL_LAB_DIR" >/dev/null
trap '"$bin/vorel-lab" stop --dir "$VOREL_LAB_DIR" >/dev/null 2>&1 || true' EXIT
eval "$("$bin/vorel-lab" env --dir "$VOREL_LAB_DIR")"

show() {
  echo
  echo "\$ $*"
  "$@" || echo "(exit status $?)"
}

echo "== The demo router runs in the lab ($VOREL_LAB_DIR); every command below asks it."

while read -r line; do
  [ -n "$line" ] && [ "${line#\#}" = "$line" ] || continue
  # shellcheck disable=SC2086
  show $line
done < scripts/demo-tour.txt

# A picture of the demo router, where Graphviz is installed.
if command -v dot >/dev/null; then
  "$bin/vorel-lab" draw lab/scenarios/demo.yaml | dot -Tsvg >build/demo-router.svg
  echo
  echo "== A picture of the demo router: build/demo-router.svg (vorel-lab draw | dot -Tsvg)"
fi
