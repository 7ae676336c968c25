#!/bin/sh
# Regenerates the worksheet fixtures and LibreOffice's reading of them.
#   sh make.sh            (in tests/data/wks; needs node, and soffice for the .lo.csv)
# SheetJS is installed outside the tree: mkdir -p /tmp/wksgen && cd /tmp/wksgen && npm install xlsx
set -e
cd "$(dirname "$0")"
NODE_PATH=${NODE_PATH:-/tmp/wksgen/node_modules} node make.js
if command -v soffice >/dev/null 2>&1; then
  out=$(mktemp -d)
  for f in people.wk1 people.wk3 dates.wk1 small.wk3; do
    soffice --headless -env:UserInstallation=file://$out/profile \
      --convert-to csv --outdir "$out" "$f" >/dev/null 2>&1
    mv "$out/${f%.*}.csv" "$f.lo.csv"
  done
  rm -rf "$out"
fi
